// The multi-frame picture the presentation benchmarks make with pydicom: 512 x 512 frames of 12
// bits in words of 16, a smooth picture with some noise (what a compressor of real images meets),
// windowed at 1500/2000. A benchmark's own script runs after this one and calls grey_frames.
#pragma once

#include <string>

inline const char* const kGreyFramesPy = R"PY(
import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian

def grey_frames(path, frames, patient, instance_root):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7.3'
    meta.MediaStorageSOPInstanceUID = '%s.%d' % (instance_root, frames)
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset(); ds.file_meta = meta
    ds.is_little_endian = True; ds.is_implicit_VR = False
    ds.SOPClassUID = meta.MediaStorageSOPClassUID; ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = 'OT'; ds.PatientName = patient
    ds.SamplesPerPixel = 1; ds.PhotometricInterpretation = 'MONOCHROME2'
    ds.NumberOfFrames = frames; ds.Rows = 512; ds.Columns = 512
    ds.BitsAllocated = 16; ds.BitsStored = 12; ds.HighBit = 11; ds.PixelRepresentation = 0
    ds.WindowCenter, ds.WindowWidth = 1500, 2000
    y, x = np.mgrid[0:512, 0:512].astype(np.uint32)
    rng = np.random.RandomState(1)
    noise = rng.randint(0, 64, (512, 512)).astype(np.uint32)
    arr = np.empty((frames, 512, 512), '<u2')
    for k in range(frames):
        arr[k] = (x * 7 + y * 3 + k * 11 + ((x ^ y) & 31) + noise) & 0x0FFF
    ds.PixelData = arr.tobytes()
    ds.save_as(path, write_like_original=False)
    return arr
)PY";

// `script` run after grey_frames is defined.
inline std::string withGreyFrames(const char* script) {
    return std::string(kGreyFramesPy) + script;
}
