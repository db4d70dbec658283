# Small seed files for the display harness: made from scratch with pydicom and numpy, then
# compressed with DCMTK's tools and OpenJPEG.
import os, subprocess, sys, warnings
warnings.filterwarnings('ignore')
import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.encaps import encapsulate

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
SC = '1.2.840.10008.5.1.4.1.1.7'
ELE = '1.2.840.10008.1.2.1'
n = [0]

def base(rows, cols, samples=1, photo='MONOCHROME2', bits=8, stored=None, signed=0, syntax=ELE):
    n[0] += 1
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = SC
    meta.MediaStorageSOPInstanceUID = '1.2.3.%d' % n[0]
    meta.TransferSyntaxUID = syntax
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian = syntax != '1.2.840.10008.1.2.2'
    ds.is_implicit_VR = syntax == '1.2.840.10008.1.2'
    ds.SOPClassUID = SC
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Rows, ds.Columns = rows, cols
    ds.SamplesPerPixel = samples
    ds.PhotometricInterpretation = photo
    if samples > 1:
        ds.PlanarConfiguration = 0
    ds.BitsAllocated = bits
    ds.BitsStored = stored or bits
    ds.HighBit = ds.BitsStored - 1
    ds.PixelRepresentation = signed
    return ds

def pixels(frames, rows, cols, samples, bits, signed=0):
    y, x = np.mgrid[0:rows, 0:cols]
    planes = []
    for k in range(frames):
        f = [(x * 37 + y * 11 + k * 29 + s * 50) for s in range(samples)]
        planes.append(np.stack(f, -1))
    a = np.stack(planes)
    if bits == 16:
        a = (a * 97) % 4096
        return a.astype('<i2' if signed else '<u2')
    return (a % 256).astype('u1')

def save(ds, name, arr=None):
    if arr is not None:
        ds.PixelData = arr.tobytes()
    path = os.path.join(out, name)
    ds.save_as(path, write_like_original=False)
    return path

def tool(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

# Native: 8-bit grey multi-frame with a window, 16-bit signed still with a rescale, MONOCHROME1,
# big endian, implicit VR, RGB interleaved and planar, YBR_FULL_422.
ds = base(6, 8)
ds.NumberOfFrames = 3
ds.WindowCenter, ds.WindowWidth = 128, 200
mf8 = save(ds, 'native_mf8.dcm', pixels(3, 6, 8, 1, 8))

ds = base(5, 7, bits=16, stored=12, signed=1)
ds.RescaleSlope, ds.RescaleIntercept = '2.5', '-1024'
ds.WindowCenter, ds.WindowWidth = 40, 400
save(ds, 'native_s16_rescale.dcm', pixels(1, 5, 7, 1, 16, signed=1))

ds = base(6, 8, bits=16, stored=12, photo='MONOCHROME1')
ds.NumberOfFrames = 2
mf16 = save(ds, 'native_mf16_mono1.dcm', pixels(2, 6, 8, 1, 16))

ds = base(4, 6, bits=16, stored=16, syntax='1.2.840.10008.1.2.2')
save(ds, 'native_be16.dcm', pixels(1, 4, 6, 1, 16))

ds = base(4, 6, syntax='1.2.840.10008.1.2')
save(ds, 'native_implicit8.dcm', pixels(1, 4, 6, 1, 8))

ds = base(4, 6, samples=3, photo='RGB')
ds.NumberOfFrames = 2
rgb = save(ds, 'native_rgb_mf.dcm', pixels(2, 4, 6, 3, 8))

ds = base(4, 6, samples=3, photo='RGB')
ds.PlanarConfiguration = 1
a = pixels(1, 4, 6, 3, 8)[0].transpose(2, 0, 1)
save(ds, 'native_rgb_planar.dcm', np.ascontiguousarray(a))

ds = base(4, 6, samples=3, photo='YBR_FULL_422')
save(ds, 'native_ybr422.dcm', (np.arange(4 * 6 * 2) * 7 % 256).astype('u1'))

# Palette colour: 8-bit indices and 16-entry 16-bit LUTs; and one with 8-bit LUT entries.
for name, lutbits in (('palette8.dcm', 16), ('palette8_lut8.dcm', 8)):
    ds = base(4, 6, photo='PALETTE COLOR')
    ds.NumberOfFrames = 2
    for c, col in zip(('Red', 'Green', 'Blue'), (1, 3, 5)):
        setattr(ds, c + 'PaletteColorLookupTableDescriptor', [16, 0, lutbits])
        lut = (np.arange(16) * col * 4096 % 65536).astype('<u2')
        if lutbits == 8:
            lut = (np.arange(16) * col * 16 % 256).astype('<u2')
        ds.add_new(0x00281201 + (0 if c == 'Red' else (1 if c == 'Green' else 2)), 'OW', lut.tobytes())
    save(ds, name, pixels(2, 4, 6, 1, 8) % 16)

# Icons: one in the data set, one inside an item of another sequence.
def icon(rows, cols, seed):
    it = Dataset()
    it.Rows, it.Columns = rows, cols
    it.SamplesPerPixel = 1
    it.PhotometricInterpretation = 'MONOCHROME2'
    it.BitsAllocated = it.BitsStored = 8
    it.HighBit = 7
    it.PixelRepresentation = 0
    it.PixelData = ((np.arange(rows * cols) * seed) % 256).astype('u1').tobytes()
    return it

ds = base(4, 6)
ds.IconImageSequence = Sequence([icon(3, 5, 7)])
holder = Dataset()
holder.IconImageSequence = Sequence([icon(2, 3, 11)])
ds.ReferencedImageSequence = Sequence([holder])
save(ds, 'icons.dcm', pixels(1, 4, 6, 1, 8))

# Icons and no pixel data of its own.
ds = base(4, 6)
ds.IconImageSequence = Sequence([icon(4, 4, 5)])
for k in ('Rows', 'Columns', 'SamplesPerPixel', 'PhotometricInterpretation', 'BitsAllocated',
          'BitsStored', 'HighBit', 'PixelRepresentation'):
    delete = getattr(ds, k, None)
    del ds[k]
save(ds, 'icon_only.dcm')

# Compressed forms through DCMTK: RLE, lossless JPEG (process 14), baseline JPEG; OpenJPEG for
# JPEG 2000.
def compress(src, name, *opts, prog='dcmcjpeg'):
    dst = os.path.join(out, name)
    tool(prog, *opts, src, dst)

compress(mf8, 'rle_mf8.dcm', prog='dcmcrle')
compress(mf16, 'rle_mf16.dcm', prog='dcmcrle')
compress(rgb, 'rle_rgb.dcm', prog='dcmcrle')
compress(mf8, 'jpll_mf8.dcm', '--encode-lossless-sv1')
compress(mf16, 'jpll_mf16.dcm', '--encode-lossless-sv1')
compress(mf8, 'jpeg_baseline_mf8.dcm', '--encode-baseline')
compress(rgb, 'jpeg_baseline_rgb.dcm', '--encode-baseline')

# JPEG 2000 (lossless and not) of one grey 8-bit frame, encapsulated by pydicom.
import tempfile
tmp = tempfile.mkdtemp()
a = pixels(1, 6, 8, 1, 8)[0]
pgm = os.path.join(tmp, 'f.pgm')
with open(pgm, 'wb') as f:
    f.write(b'P5\n8 6\n255\n' + a.tobytes())
for name, syntax, opts in (('j2k_lossless.dcm', '1.2.840.10008.1.2.4.90', []),
                           ('j2k_lossy.dcm', '1.2.840.10008.1.2.4.91', ['-r', '4'])):
    j2k = os.path.join(tmp, 'f.j2k')
    tool('opj_compress', '-i', pgm, '-o', j2k, '-n', '2', *opts)
    ds = base(6, 8, syntax=syntax)
    ds.PixelData = encapsulate([open(j2k, 'rb').read()])
    ds['PixelData'].is_undefined_length = True
    ds['PixelData'].VR = 'OB'
    save(ds, name)
