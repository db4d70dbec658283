// The cases of the presentation's value tables (beside dcmj2pnm, and beside pydicom's decode of
// JPEG 2000), shared by their fixture scripts: the script of each table is run after this one.
// A case is: name, bits allocated, bits stored, signed, photometric interpretation, rescale
// (slope, intercept) or None, lowest and highest value, noise above High Bit, windows
// [(centre, width), ...] (the first also stored in the file).
#pragma once

#include <string>

namespace valuetable {

inline const char* const kCasesPy = R"PY(
import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

VALUE_CASES = [
    ('s10', 16, 10, True, 'MONOCHROME2', None, -512, 511, False, [(-100, 600), (0, 1024), (-79.5, 1)]),
    ('s10_rescaled', 16, 10, True, 'MONOCHROME2', (2, -100), -512, 511, False, [(-300, 1500), (-258, 1)]),
    ('s12', 16, 12, True, 'MONOCHROME2', None, -2048, 2047, False, [(300, 1200), (-1500, 800)]),
    ('s12_below_intercept', 16, 12, True, 'MONOCHROME2', (1, -1024), -2048, 2047, False, [(-600, 1500), (40, 400), (-2500, 1000)]),
    ('s16', 16, 16, True, 'MONOCHROME2', None, -32768, 32767, False, [(0, 2000), (-30000, 5000), (-90000, 100)]),
    ('s16_rescaled', 16, 16, True, 'MONOCHROME2', (1, -1024), -32768, 32767, False, [(-600, 1500), (-33000, 2000), (32000, 2000)]),
    ('u16_rescaled', 16, 16, False, 'MONOCHROME2', (1, 0), 0, 65535, False, [(60000, 12000), (65000, 1000), (64710, 1)]),
    ('u16', 16, 16, False, 'MONOCHROME2', None, 0, 65535, False, [(32768, 65536), (90000, 100)]),
    ('u12_high_bits', 16, 12, False, 'MONOCHROME2', None, 0, 4095, True, [(2000, 4000), (500, 100), (2047.5, 1)]),
    ('s12_high_bits', 16, 12, True, 'MONOCHROME2', None, -2048, 2047, True, [(0, 4096), (-1000, 500)]),
    ('s12_high_bits_rescaled', 16, 12, True, 'MONOCHROME2', (0.5, 20), -2048, 2047, True, [(0, 1500)]),
    ('m1_s12', 16, 12, True, 'MONOCHROME1', None, -2048, 2047, False, [(0, 2000), (-5000, 100)]),
    ('m1_s16_rescaled', 16, 16, True, 'MONOCHROME1', (1, -1024), -32768, 32767, False, [(-600, 1500)]),
    ('s8', 8, 8, True, 'MONOCHROME2', None, -128, 127, False, []),
    ('m1_s8', 8, 8, True, 'MONOCHROME1', None, -128, 127, False, []),
]

def case_values(name, stored, lo, hi, n, frame=0):
    # Every value of the range spread over the picture in an order of the case's own, then the
    # ends of the range and values just inside them; the generator goes on for the noise.
    rng = np.random.RandomState(len(name) * 31 + stored + frame)
    vals = np.linspace(lo, hi, n).round().astype(np.int64)[rng.permutation(n)]
    vals[:6] = [lo, hi, lo + 1, hi - 1, 0 if lo < 0 else lo, -1 if lo < 0 else hi]
    return vals, rng

def grey_ds(patient, rows, cols, pi, alloc, stored, signed, rescale, windows, syntax=ExplicitVRLittleEndian):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7'
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = syntax
    ds = Dataset(); ds.file_meta = meta
    ds.is_little_endian = True; ds.is_implicit_VR = False
    ds.SOPClassUID = meta.MediaStorageSOPClassUID; ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = 'OT'; ds.PatientName = patient
    ds.Rows, ds.Columns = rows, cols
    ds.SamplesPerPixel = 1; ds.PhotometricInterpretation = pi
    ds.BitsAllocated, ds.BitsStored, ds.HighBit = alloc, stored, stored - 1
    ds.PixelRepresentation = 1 if signed else 0
    if rescale:
        ds.RescaleSlope, ds.RescaleIntercept = rescale
    if windows:
        ds.WindowCenter, ds.WindowWidth = windows[0]
    return ds
)PY";

// `script` run after the cases.
inline std::string withCases(const char* script) {
    return std::string(kCasesPy) + script;
}

} // namespace valuetable
