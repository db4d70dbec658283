#!/usr/bin/python3
"""Makes the codec test fixtures in a folder of the build tree.

Uncompressed source images are written with pydicom, compressed with DCMTK's dcmcjpeg and
dcmcrle, and decompressed again with dcmdjpeg and dcmdrle. The RLE and lossless JPEG files of
pydicom's own test corpus are added. For every case the compressed frames are written as
<name>.f<i>.bin and DCMTK's decoded pixels (samples of a pixel together, little-endian) as
<name>.ref.bin; manifest.txt lists the cases, one a line:

    <kind> <name> <rows> <columns> <samples> <bits allocated> <frames>

Usage: make_fixtures.py <output folder> <pydicom test file folder>
"""
import os
import subprocess
import sys

import numpy as np
import pydicom
from pydicom.dataset import FileDataset, FileMetaDataset
from pydicom.encaps import generate_pixel_data_frame
from pydicom.uid import ExplicitVRLittleEndian

OUT = sys.argv[1]
CORPUS = sys.argv[2]
JPEG_LOSSLESS = ("1.2.840.10008.1.2.4.57", "1.2.840.10008.1.2.4.70")
RLE = "1.2.840.10008.1.2.5"


def source_image(path, rows, cols, spp, bits_allocated, bits_stored, frames, signed=False, seed=1):
    """A test image: smooth shading, noise, flat bands (long RLE runs) and hard edges between the
    extremes of the range (large differences, up to the category of 32768)."""
    rng = np.random.default_rng(seed)
    top = (1 << bits_stored) - 1
    y, x = np.mgrid[0:rows, 0:cols]
    planes = []
    for f in range(frames):
        for s in range(spp):
            shade = (np.sin(x / 9.0 + f + 2 * s) * 0.5 + 0.5) * top * 0.6 + (y / rows) * top * 0.3
            noise = rng.integers(0, max(2, top >> 6), size=(rows, cols))
            img = np.clip(shade + noise, 0, top).astype(np.int64)
            img[rows // 4 : rows // 4 + 3, :] = (top // 3) * (s + 1) // spp  # flat band
            img[rows // 2, 1::2] = top  # alternate extremes
            img[rows // 2, 0::2] = 0
            img[rows // 2 + 1, :] = rng.integers(0, top + 1, size=cols)  # full-range noise
            if bits_stored == 16:
                img[rows // 2 + 2, 0::2] = 0
                img[rows // 2 + 2, 1::2] = 32768  # a difference of exactly 32768
            planes.append(img)
    a = np.array(planes).reshape(frames, spp, rows, cols).transpose(0, 2, 3, 1)
    if signed:
        a = a - (1 << (bits_stored - 1))
        dtype = np.int8 if bits_allocated == 8 else np.int16
    else:
        dtype = np.uint8 if bits_allocated == 8 else np.uint16
    a = a.astype(dtype)

    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = "1.2.826.0.1.3680043.8.498.1"
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = FileDataset(path, {}, file_meta=meta, preamble=b"\0" * 128)
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = "OT"
    ds.PatientName = "Codec^Fixture"
    ds.PatientID = "1"
    ds.Rows = rows
    ds.Columns = cols
    ds.SamplesPerPixel = spp
    ds.PhotometricInterpretation = "RGB" if spp == 3 else "MONOCHROME2"
    if spp == 3:
        ds.PlanarConfiguration = 0
    ds.BitsAllocated = bits_allocated
    ds.BitsStored = bits_stored
    ds.HighBit = bits_stored - 1
    ds.PixelRepresentation = 1 if signed else 0
    if frames > 1:
        ds.NumberOfFrames = frames
    ds.PixelData = a.tobytes()
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.save_as(path, write_like_original=False)


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def interleaved_reference(ds):
    """The decoded pixels with the samples of a pixel together, little-endian."""
    data = ds.PixelData
    spp = int(ds.SamplesPerPixel)
    if spp > 1 and int(ds.get("PlanarConfiguration", 0)) == 1:
        bps = int(ds.BitsAllocated) // 8
        frames = int(ds.get("NumberOfFrames", 1))
        a = np.frombuffer(data, dtype=np.uint8)
        a = a.reshape(frames, spp, int(ds.Rows) * int(ds.Columns), bps).transpose(0, 2, 1, 3)
        data = a.tobytes()
    return data


def add_case(manifest, kind, name, compressed, decompressed):
    ds = pydicom.dcmread(compressed)
    frames = int(ds.get("NumberOfFrames", 1))
    for i, frame in enumerate(generate_pixel_data_frame(ds.PixelData, frames)):
        with open(os.path.join(OUT, "%s.f%d.bin" % (name, i)), "wb") as f:
            f.write(frame)
    ref = pydicom.dcmread(decompressed)
    size = frames * ds.Rows * ds.Columns * ds.SamplesPerPixel * (ds.BitsAllocated // 8)
    with open(os.path.join(OUT, name + ".ref.bin"), "wb") as f:
        f.write(interleaved_reference(ref)[:size])  # without the pad byte of an odd length
    manifest.append(
        "%s %s %d %d %d %d %d"
        % (kind, name, ds.Rows, ds.Columns, ds.SamplesPerPixel, ds.BitsAllocated, frames)
    )


def main():
    os.makedirs(OUT, exist_ok=True)
    src = lambda n: os.path.join(OUT, n + ".dcm")
    source_image(src("g8"), 61, 97, 1, 8, 8, 1, seed=1)
    source_image(src("g12"), 64, 150, 1, 16, 12, 1, seed=2)
    source_image(src("g16"), 48, 150, 1, 16, 16, 3, seed=3)
    source_image(src("s16"), 40, 77, 1, 16, 16, 1, signed=True, seed=4)
    source_image(src("rgb8"), 33, 150, 3, 8, 8, 2, seed=5)
    source_image(src("rgb16"), 17, 40, 3, 16, 16, 1, seed=6)

    manifest = []
    jpeg = [
        ("g8", "e1", ["+e1"]),
        ("g8", "sv2", ["+el", "+sv", "2"]),
        ("g8", "sv3", ["+el", "+sv", "3"]),
        ("g8", "sv4pt2", ["+el", "+sv", "4", "+pt", "2"]),
        ("g8", "sv5", ["+el", "+sv", "5"]),
        ("g8", "sv6", ["+el", "+sv", "6"]),
        ("g8", "sv7", ["+el", "+sv", "7"]),
        ("g8", "sv1std", ["+el", "+sv", "1", "-ho"]),
        ("g12", "e1", ["+e1"]),
        ("g12", "sv2pt1", ["+el", "+sv", "2", "+pt", "1"]),
        ("g12", "sv6pt3", ["+el", "+sv", "6", "+pt", "3"]),
        ("g12", "p12sv5", ["+pl", "+el", "+sv", "5", "+bt"]),
        ("g12", "p12sv7", ["+pl", "+el", "+sv", "7", "+bt"]),
        ("g16", "e1", ["+e1"]),
        ("g16", "sv2", ["+el", "+sv", "2"]),
        ("g16", "sv3", ["+el", "+sv", "3"]),
        ("g16", "sv4", ["+el", "+sv", "4"]),
        ("g16", "sv5pt1", ["+el", "+sv", "5", "+pt", "1"]),
        ("g16", "sv6", ["+el", "+sv", "6"]),
        ("g16", "sv7pt4", ["+el", "+sv", "7", "+pt", "4"]),
        ("s16", "e1", ["+e1"]),
        ("s16", "sv4", ["+el", "+sv", "4"]),
        ("rgb8", "e1", ["+e1"]),
        ("rgb8", "sv7", ["+el", "+sv", "7"]),
        ("rgb16", "sv6", ["+el", "+sv", "6"]),
    ]
    for source, label, options in jpeg:
        name = "jpeg_%s_%s" % (source, label)
        compressed = os.path.join(OUT, name + ".dcm")
        decoded = os.path.join(OUT, name + ".dec.dcm")
        run("dcmcjpeg", *options, src(source), compressed)
        run("dcmdjpeg", compressed, decoded)
        add_case(manifest, "jpeg", name, compressed, decoded)

    for source in ("g8", "g12", "g16", "s16", "rgb8", "rgb16"):
        name = "rle_" + source
        compressed = os.path.join(OUT, name + ".dcm")
        decoded = os.path.join(OUT, name + ".dec.dcm")
        run("dcmcrle", src(source), compressed)
        run("dcmdrle", compressed, decoded)
        add_case(manifest, "rle", name, compressed, decoded)

    # pydicom's corpus: every RLE and lossless JPEG file with pixel data.
    for file in sorted(os.listdir(CORPUS)):
        path = os.path.join(CORPUS, file)
        if not file.endswith(".dcm") or not os.path.isfile(path):
            continue
        try:
            ds = pydicom.dcmread(path, stop_before_pixels=False)
            syntax = str(ds.file_meta.TransferSyntaxUID)
        except Exception:
            continue
        if "PixelData" not in ds:
            continue
        if syntax == RLE:
            kind, tool = "rle", "dcmdrle"
        elif syntax in JPEG_LOSSLESS:
            kind, tool = "jpeg", "dcmdjpeg"
        else:
            continue
        name = "corpus_" + file[:-4]
        decoded = os.path.join(OUT, name + ".dec.dcm")
        run(tool, path, decoded)
        add_case(manifest, kind, name, path, decoded)

    tmp = os.path.join(OUT, "manifest.tmp")
    with open(tmp, "w") as f:
        f.write("\n".join(manifest) + "\n")
    os.replace(tmp, os.path.join(OUT, "manifest.txt"))


main()
