// The pydicom peer of the pixel drawer tests. "make DIR" writes the test-time fixtures (grey of
// 8, 12 and 16 bits, signed and unsigned, MONOCHROME1 and 2, rescaled CT including an intercept
// of exactly 0, big endian through dcmconv, RGB planar and interleaved, palette colour, YBR_FULL
// planar and interleaved and YBR_FULL_422); "corpus
// SRC DIR" picks the single-frame images of pydicom's corpus that the drawer takes and decodes the
// compressed ones into native files. Both write DIR/manifest.tsv: origin, file, and two windows
// over the frame's rescaled values ("c,w;c,w", or "-"). A native YBR_FULL_422 file comes with its
// frame's bytes beside it (FILE.frame).
#pragma once

namespace drawertest {

inline const char* kPeer = R"PY(
import sys, os, subprocess, warnings
import numpy as np, pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid
warnings.filterwarnings('ignore')
mode, out = sys.argv[1], sys.argv[-1]
NATIVE = ('1.2.840.10008.1.2', '1.2.840.10008.1.2.1', '1.2.840.10008.1.2.2')
lines = []

def windows_for(ds, raw):
    # A window over the rescaled values of the frame, beside the file's own (or default) one.
    if int(ds.BitsAllocated) != 16 or not str(ds.PhotometricInterpretation).startswith('MONOCHROME'):
        return '-'
    v = raw.astype(np.float64) * float(ds.get('RescaleSlope', 1)) + float(ds.get('RescaleIntercept', 0))
    lo, hi = float(v.min()), float(v.max())
    return '%g,%g;%g,%g' % ((lo + hi) / 2, hi - lo + 1, lo + (hi - lo) / 4, (hi - lo) / 3 + 1)

def add(kind, path, ds, raw, name):
    if str(ds.PhotometricInterpretation) == 'YBR_FULL_422':
        # The reader makes no chunk table of native 4:2:2 frames: their bytes are handed over.
        open(path + '.frame', 'wb').write(pydicom.dcmread(path).PixelData)
    lines.append('\t'.join([kind, path, windows_for(ds, raw)]))

def new_ds(rows, cols, photometric, alloc, stored, signed, samples=1):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7'
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset(); ds.file_meta = meta
    ds.is_little_endian = True; ds.is_implicit_VR = False
    ds.SOPClassUID = meta.MediaStorageSOPClassUID; ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = 'OT'; ds.PatientName = 'Drawer^Test'
    ds.Rows, ds.Columns = rows, cols
    ds.SamplesPerPixel = samples; ds.PhotometricInterpretation = photometric
    ds.BitsAllocated, ds.BitsStored, ds.HighBit = alloc, stored, stored - 1
    ds.PixelRepresentation = 1 if signed else 0
    if samples > 1: ds.PlanarConfiguration = 0
    return ds

def save(ds, name, arr):
    path = os.path.join(out, name + '.dcm')
    ds.PixelData = np.ascontiguousarray(arr).astype(arr.dtype.newbyteorder('<')).tobytes()
    ds.save_as(path, write_like_original=False)
    return path

def grey(name, photometric, alloc, stored, signed, lo, hi, rescale=None, window=None, bigendian=False):
    rows, cols = 64, 80
    dt = {(8, False): np.uint8, (16, False): np.uint16, (16, True): np.int16}[(alloc, signed)]
    n = rows * cols
    # Every value of the range, spread over the picture, then the ends of the range again.
    vals = np.linspace(lo, hi, n).round().astype(np.int64)
    vals = vals[np.random.RandomState(len(name)).permutation(n)]
    vals[:4] = [lo, hi, lo, hi]
    raw = vals.astype(dt).reshape(rows, cols)
    ds = new_ds(rows, cols, photometric, alloc, stored, signed)
    if rescale:
        ds.RescaleIntercept, ds.RescaleSlope = rescale
    if window:
        ds.WindowCenter, ds.WindowWidth = window
    path = save(ds, name, raw)
    if bigendian:
        big = os.path.join(out, name + '_big.dcm')
        subprocess.run(['dcmconv', '+tb', path, big], check=True)
        os.remove(path); path = big
    add('gen', path, ds, raw, name)

def colour(name, planar):
    rows, cols = 48, 70
    y, x = np.mgrid[0:rows, 0:cols]
    rgb = np.stack([(x * 3 + y) % 256, (y * 5 + 7) % 256, (x * y) % 256], axis=-1).astype(np.uint8)
    ds = new_ds(rows, cols, 'RGB', 8, 8, False, 3)
    ds.PlanarConfiguration = 1 if planar else 0
    data = np.moveaxis(rgb, -1, 0) if planar else rgb
    add('gen', save(ds, name, data), ds, rgb, name)

def ybr(name, planar=False, sub422=False):
    # The colour fixture stored as full-range YCbCr, as pydicom converts it; 4:2:2 keeps one Cb
    # and one Cr (their mean) for each pair of pixels, stored Y0 Y1 Cb Cr.
    from pydicom.pixel_data_handlers.util import convert_color_space
    rows, cols = 48, 70
    y, x = np.mgrid[0:rows, 0:cols]
    rgb = np.stack([(x * 3 + y) % 256, (y * 5 + 7) % 256, (x * y) % 256], axis=-1).astype(np.uint8)
    ybr = convert_color_space(rgb, 'RGB', 'YBR_FULL')
    ds = new_ds(rows, cols, 'YBR_FULL_422' if sub422 else 'YBR_FULL', 8, 8, False, 3)
    ds.PlanarConfiguration = 1 if planar else 0
    if sub422:
        pairs = ybr.reshape(rows, cols // 2, 2, 3).astype(np.float64)
        chroma = np.floor(pairs[..., 1:].mean(axis=2) + 0.5).astype(np.uint8)
        data = np.concatenate([pairs[..., 0].astype(np.uint8), chroma], axis=-1)
    else:
        data = np.moveaxis(ybr, -1, 0) if planar else ybr
    add('gen', save(ds, name, data), ds, ybr, name)

def palette(name):
    rows, cols = 40, 64
    idx = (np.arange(rows * cols) % 256).astype(np.uint8).reshape(rows, cols)
    ds = new_ds(rows, cols, 'PALETTE COLOR', 8, 8, False)
    ds.RedPaletteColorLookupTableDescriptor = [256, 0, 16]
    ds.GreenPaletteColorLookupTableDescriptor = [256, 0, 16]
    ds.BluePaletteColorLookupTableDescriptor = [256, 0, 16]
    i = np.arange(256)
    ds.RedPaletteColorLookupTableData = (i * 257).astype('<u2').tobytes()
    ds.GreenPaletteColorLookupTableData = ((255 - i) * 257).astype('<u2').tobytes()
    ds.BluePaletteColorLookupTableData = (((i * 7) % 256) * 257).astype('<u2').tobytes()
    add('gen', save(ds, name, idx), ds, idx, name)

if mode == 'make':
    grey('m2_u16', 'MONOCHROME2', 16, 16, False, 0, 65535, window=(32768, 65536))
    grey('m1_u16', 'MONOCHROME1', 16, 16, False, 0, 65535, window=(20000, 9000))
    grey('m2_u12', 'MONOCHROME2', 16, 12, False, 0, 4095)
    grey('m1_u12', 'MONOCHROME1', 16, 12, False, 0, 4095, window=(500, 100))
    grey('m2_s16', 'MONOCHROME2', 16, 16, True, -3000, 3000, window=(0, 2000))
    grey('m2_s12', 'MONOCHROME2', 16, 12, True, -2048, 2047, window=(300, 1200))
    grey('m2_u8', 'MONOCHROME2', 8, 8, False, 0, 255)
    grey('m1_u8', 'MONOCHROME1', 8, 8, False, 0, 255)
    grey('ct_icpt', 'MONOCHROME2', 16, 16, True, 0, 4095, rescale=(-1024, 1), window=(40, 400))
    grey('ct_icpt_zero', 'MONOCHROME2', 16, 12, False, 0, 4095, rescale=(0, 1), window=(1000, 2000))
    grey('ct_slope', 'MONOCHROME2', 16, 16, False, 0, 8000, rescale=(-100, 0.5), window=(500, 1000))
    grey('ct_neg_slope', 'MONOCHROME1', 16, 12, True, -1000, 2000, rescale=(-1024, 2), window=(-800, 3000))
    grey('m2_u16_be', 'MONOCHROME2', 16, 16, False, 0, 65535, window=(30000, 20000), bigendian=True)
    grey('ct_icpt_be', 'MONOCHROME2', 16, 16, True, 0, 4095, rescale=(-1024, 1), window=(40, 400), bigendian=True)
    colour('rgb_interleaved', False)
    colour('rgb_planar', True)
    palette('palette16')
    ybr('ybr_full_interleaved')
    ybr('ybr_full_planar', planar=True)
    ybr('ybr_full_422', sub422=True)
else:
    src = sys.argv[2]
    for f in sorted(os.listdir(src)):
        p = os.path.join(src, f)
        if os.path.isdir(p): continue
        try:
            ds = pydicom.dcmread(p)
            ts = str(ds.file_meta.TransferSyntaxUID)
        except Exception:
            continue
        try:
            if 'PixelData' not in ds or int(ds.get('NumberOfFrames', 1) or 1) != 1: continue
        except ValueError:
            continue
        pi, alloc = str(ds.get('PhotometricInterpretation', '')), int(ds.get('BitsAllocated', 0))
        grey_ok = pi in ('MONOCHROME1', 'MONOCHROME2') and alloc in (8, 16)
        # YBR colour only as stored natively: pydicom's decoding of compressed YBR is no YBR file.
        ybr_ok = pi in ('YBR_FULL', 'YBR_FULL_422') and alloc == 8 and ts in NATIVE
        if not (grey_ok or ybr_ok or (pi in ('RGB', 'PALETTE COLOR') and alloc == 8)): continue
        try:
            arr = ds.pixel_array
        except Exception:
            continue
        name = os.path.splitext(f)[0]
        if ts in NATIVE:
            add('corpus', p, ds, arr, name)
            continue
        # A compressed frame: decoded by pydicom into a native file that both renderers read.
        if int(ds.get('PixelRepresentation', 0)) == 1 and arr.dtype.kind == 'u':
            arr = arr.astype(arr.dtype.str.replace('u', 'i'))
        nd = new_ds(int(ds.Rows), int(ds.Columns), pi, alloc, int(ds.BitsStored),
                    int(ds.get('PixelRepresentation', 0)) == 1, int(ds.SamplesPerPixel))
        for el in ds.group_dataset(0x0028):
            if el.keyword not in ('PlanarConfiguration', 'NumberOfFrames') and el.VR not in ('OB', 'OW', 'UN', 'OB or OW'):
                nd[el.tag] = el
        path = save(nd, name + '_native', arr)
        add('corpus', path, nd, arr, name)
open(os.path.join(out, 'manifest.tsv'), 'w').write('\n'.join(lines) + '\n')
)PY";

} // namespace drawertest
