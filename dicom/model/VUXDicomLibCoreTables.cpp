// The standard tables of the DICOM library and their look-ups, and the look-ups of the standard
// data dictionary (whose rows are generated into VUXDicomLibCoreDictionary.cpp).
#include "VUXDicomLib.h"

#include "VUXDicomLibCoreDictionary.h"

#include <array>
#include <cstring>
#include <iterator>

namespace VUX::VUXDCM {

namespace {

constexpr uint32_t fourCC(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

bool isEmpty(const char* text) {
    return !text || !*text;
}

bool same(const char* a, const char* b) {
    return std::strcmp(a, b) == 0;
}

// Value representations. The classic 28 rows come first, in their historical order; the later
// VRs follow, all with the 12-byte explicit-VR header. Their binary values are kept as bytes.
const dicmVRInfo vrProperties[] = {
    {"AE", 16, 1, 1, 8, 92, 0}, {"AS", 4, 1, 1, 8, 92, 0},   {"AT", 4, 2, 10, 8, 0, 0},
    {"CS", 16, 1, 1, 8, 92, 0}, {"DA", 8, 1, 1, 8, 92, 0},   {"DS", 16, 1, 1, 8, 92, 0},
    {"DT", 26, 1, 1, 8, 92, 0}, {"FL", 4, 2, 6, 8, 0, 0},    {"FD", 8, 2, 7, 8, 0, 0},
    {"IS", 12, 1, 1, 8, 92, 0}, {"LO", 64, 1, 1, 8, 92, 0},  {"LT", 10240, 1, 1, 8, 0, 1},
    {"PN", 64, 1, 1, 8, 92, 0}, {"SH", 16, 1, 1, 8, 92, 0},  {"SL", 4, 2, 5, 8, 0, 0},
    {"SS", 2, 2, 4, 8, 0, 0},   {"ST", 1024, 1, 1, 8, 0, 1}, {"TM", 16, 1, 1, 8, 92, 0},
    {"UI", 64, 1, 1, 8, 92, 0}, {"UL", 4, 2, 2, 8, 0, 0},    {"US", 2, 2, 3, 8, 0, 0},
    {"UT", 0, 3, 1, 12, 0, 1},  {"OB", 0, 3, 8, 12, 0, 3},   {"OW", 0, 3, 9, 12, 0, 3},
    {"OF", 0, 3, 11, 12, 0, 3}, {"SQ", 0, 3, 0, 12, 0, 3},   {"UN", 0, 3, 8, 12, 0, 3},
    {"na", 0, 3, 0, 8, 0, 2},   {"UC", 0, 3, 1, 12, 92, 0},  {"UR", 0, 3, 1, 12, 0, 1},
    {"UV", 8, 3, 8, 12, 0, 0},  {"SV", 8, 3, 8, 12, 0, 0},   {"OD", 0, 3, 8, 12, 0, 3},
    {"OL", 0, 3, 8, 12, 0, 3},  {"OV", 0, 3, 8, 12, 0, 3},
};

const dicmXferSyntaxInfo xferSyntaxesList[] = {
    {"1.2.840.10008.1.2", "Implicit VR Little Endian", 0, 4},
    {"1.2.840.10008.1.2.1", "Explicit VR Little Endian", 1, 4},
    // Never readable: the data set is deflated, and reading it as plain explicit VR would
    // misread it.
    {"1.2.840.10008.1.2.1.99", "Deflated Explicit VR Little Endian", 2, 0},
    {"1.2.840.10008.1.2.2", "Explicit VR Big Endian", 3, 4},
    {"1.2.840.10008.1.2.4.50", "JPEG Baseline (Process 1)", 4, 14},
    {"1.2.840.10008.1.2.4.51", "JPEGExtended(Process 2 & 4)", 5, 2},
    {"1.2.840.10008.1.2.4.52", "JPEGExtended(Process 3 & 5)", fourCC("JP35"), 3},
    {"1.2.840.10008.1.2.4.53", "JPEGSpectralSelectionNon-Hierarchical(Process 6 & 8)", fourCC("JP68"), 3},
    {"1.2.840.10008.1.2.4.54", "JPEGSpectralSelectionNon-Hierarchical(Process 7 & 9)", fourCC("JP79"), 3},
    {"1.2.840.10008.1.2.4.55", "JPEGFullProgressionNon-Hierarchical(Process 10 & 12)", fourCC("JP10"), 3},
    {"1.2.840.10008.1.2.4.56", "JPEGFullProgressionNon-Hierarchical(Process 11 & 13)", fourCC("JP11"), 3},
    {"1.2.840.10008.1.2.4.57", "JPEGLosslessNon-Hierarchical(Process 14)", 11, 2},
    {"1.2.840.10008.1.2.4.58", "JPEGLosslessNon-Hierarchical(Process 15)", 12, 3},
    {"1.2.840.10008.1.2.4.59", "JPEGExtendedHierarchical(Process 16 & 18)", 13, 3},
    {"1.2.840.10008.1.2.4.60", "JPEGExtendedHierarchical(Process 17 & 19)", 14, 3},
    {"1.2.840.10008.1.2.4.61", "JPEGSpectralSelectionHierarchical(Process 20 & 22)", 15, 3},
    {"1.2.840.10008.1.2.4.62", "JPEGSpectralSelectionHierarchical(Process 21 & 23)", 16, 3},
    {"1.2.840.10008.1.2.4.63", "JPEGFullProgressionHierarchical(Process 24 & 26)", 17, 3},
    {"1.2.840.10008.1.2.4.64", "JPEG Full Progression Hierarchical (Process 25 & 27)", 18, 3},
    {"1.2.840.10008.1.2.4.65", "JPEGLosslessHierarchical(Process 28)", fourCC("JP28"), 3},
    {"1.2.840.10008.1.2.4.66", "JPEGLosslessHierarchical(Process 29)", fourCC("JP29"), 3},
    {"1.2.840.10008.1.2.4.70", "JPEGLosslessNon-HierarchicalFirst-OrderPrediction (Process 14)", 21, 6},
    {"1.2.840.10008.1.2.4.80", "JPEG-LS Lossless", fourCC("JPLO"), 2},
    {"1.2.840.10008.1.2.4.81", "JPEG-LS Lossy(Near-Lossless)", fourCC("JPLS"), 2},
    {"1.2.840.10008.1.2.5", "RLE Lossless", 24, 6},
    {"1.2.840.10008.1.2.4.90", "JPEG2000 Lossless Only", 25, 14},
    {"1.2.840.10008.1.2.4.91", "JPEG2000 ImageCompression", 26, 14},
    {"1.2.840.10008.1.2.4.92", "JPEG2000 Part 2 Multi-component Image Compression (Lossless Only)", 27, 2},
    {"1.2.840.10008.1.2.4.93", "JPEG2000 Part 2 Multi-component Image Compression", 28, 2},
    {"1.2.840.10008.1.2.4.94", "JPIP Referenced", 29, 0},
    {"1.2.840.10008.1.2.4.95", "JPIP Referenced Deflate", 30, 0},
    {"1.2.840.10008.1.2.4.100", "MPEG2MainProfileMainLevel", 31, 14},
    {"1.2.840.10008.1.2.4.101", "MPEG2MainProfileHighLevel", 32, 14},
    {"1.2.840.10008.1.2.4.102", "MPEG-4 AVC/H.264 High Profile/Level 4.1", 33, 14},
    {"1.2.840.10008.1.2.4.103", "MPEG-4 AVC/H.264 BD-compatible High Profile/Level 4.1", 34, 14},
    // Two rows share one UID: a look-up by UID finds the first.
    {"1.2.840.10008.1.2.6.1", "RFC 2557 MIME encapsulation", fourCC("MIME"), 0},
    {"1.2.840.10008.1.2.6.1", "XML Encoding", fourCC("XMLD"), 0},
};

// SOP classes, meta SOP classes and well-known instances. The index is stored and handed out,
// never searched; its numbering is the library's own and has gaps and one repeat. Names are
// UTF-8: those of the query/retrieve, worklist, procedure-step and template classes carry an en
// dash (U+2013).
const dicmSOPClassInfo SOPClassesList[] = {
    {"1.2.840.10008.1.1", "Verification", 0, 16},
    {"1.2.840.10008.1.3.10", "MediaStorageDirectoryStorage", 1, 16},
    {"1.2.840.10008.1.9", "BasicStudyContentNotification", 2, 17},
    {"1.2.840.10008.1.20.1", "StorageCommitmentPushModel", 3, 16},
    {"1.2.840.10008.1.20.1.1", "StorageCommitmentPushModelSOPInstance", 4, 0},
    {"1.2.840.10008.1.20.2", "StorageCommitmentPullModel", 5, 17},
    {"1.2.840.10008.1.20.2.1", "StorageCommitmentPullModelSOPInstance", 6, 1},
    {"1.2.840.10008.1.40", "ProceduralEventLogging", 7, 16},
    {"1.2.840.10008.1.40.1", "ProceduralEventLoggingSOPInstance", 8, 0},
    {"1.2.840.10008.1.42", "SubstanceAdministrationLogging", 9, 16},
    {"1.2.840.10008.1.42.1", "SubstanceAdministrationLoggingSOPInstance", 10, 0},
    {"1.2.840.10008.3.1.2.1.1", "DetachedPatientManagement", 11, 17},
    {"1.2.840.10008.3.1.2.1.4", "DetachedPatientManagementMeta", 12, 17},
    {"1.2.840.10008.3.1.2.2.1", "DetachedVisitManagement", 13, 17},
    {"1.2.840.10008.3.1.2.3.1", "DetachedStudyManagement", 14, 17},
    {"1.2.840.10008.3.1.2.3.2", "StudyComponentManagement", 15, 17},
    {"1.2.840.10008.3.1.2.3.3", "ModalityPerformedProcedureStep", 16, 16},
    {"1.2.840.10008.3.1.2.3.4", "ModalityPerformedProcedureStepRetrieve", 17, 16},
    {"1.2.840.10008.3.1.2.3.5", "ModalityPerformedProcedureStepNotification", 18, 16},
    {"1.2.840.10008.3.1.2.5.1", "DetachedResultsManagement", 19, 17},
    {"1.2.840.10008.3.1.2.5.4", "DetachedResultsManagementMeta", 20, 17},
    {"1.2.840.10008.3.1.2.5.5", "DetachedStudyManagementMeta", 21, 17},
    {"1.2.840.10008.3.1.2.6.1", "DetachedInterpretationManagement", 22, 17},
    {"1.2.840.10008.5.1.1.1", "BasicFilmSession", 23, 16},
    {"1.2.840.10008.5.1.1.2", "BasicFilmBox", 24, 16},
    {"1.2.840.10008.5.1.1.4", "BasicGrayscaleImageBox", 25, 16},
    {"1.2.840.10008.5.1.1.4.1", "BasicColorImageBox", 27, 16},
    {"1.2.840.10008.5.1.1.4.2", "ReferencedImageBox", 28, 1},
    {"1.2.840.10008.5.1.1.9", "BasicGrayscalePrintManagementMeta", 29, 16},
    {"1.2.840.10008.5.1.1.9.1", "ReferencedGrayscalePrintManagementMeta", 30, 17},
    {"1.2.840.10008.5.1.1.14", "PrintJob", 31, 16},
    {"1.2.840.10008.5.1.1.15", "BasicAnnotationBox", 32, 16},
    {"1.2.840.10008.5.1.1.16", "Printer", 33, 16},
    {"1.2.840.10008.5.1.1.16.376", "PrinterConfigurationRetrieval", 34, 16},
    {"1.2.840.10008.5.1.1.17", "PrinterSOPInstance", 35, 0},
    {"1.2.840.10008.5.1.1.17.376", "PrinterConfigurationRetrievalSOPInstance", 36, 0},
    {"1.2.840.10008.5.1.1.18", "BasicColorPrintManagementMeta", 37, 16},
    {"1.2.840.10008.5.1.1.18.1", "ReferencedColorPrintMeta", 38, 16},
    {"1.2.840.10008.5.1.1.22", "VOILUTBox", 39, 16},
    {"1.2.840.10008.5.1.1.23", "PresentationLUT", 40, 16},
    {"1.2.840.10008.5.1.1.24", "ImageOverlayBox", 41, 17},
    {"1.2.840.10008.5.1.1.24.1", "BasicPrintImageOverlayBox", 42, 17},
    {"1.2.840.10008.5.1.1.25", "PrintQueueSOPInstance", 43, 1},
    {"1.2.840.10008.5.1.1.26", "PrintQueueManagement", 44, 17},
    {"1.2.840.10008.5.1.1.27", "StoredPrintStorage", 45, 17},
    {"1.2.840.10008.5.1.1.29", "HardcopyGrayscaleImageStorage", 46, 17},
    {"1.2.840.10008.5.1.1.30", "HardcopyColorImageStorage", 47, 17},
    {"1.2.840.10008.5.1.1.31", "PullPrintRequest", 48, 17},
    {"1.2.840.10008.5.1.1.32", "PullStoredPrintManagementMeta", 49, 17},
    {"1.2.840.10008.5.1.1.33", "MediaCreationManagement", 50, 16},
    {"1.2.840.10008.5.1.4.1.1.1", "ComputedRadiographyImageStorage", 51, 16},
    {"1.2.840.10008.5.1.4.1.1.1.1", "DigitalX-RayImageStorageForPresentation", 52, 16},
    {"1.2.840.10008.5.1.4.1.1.1.1.1", "DigitalX-RayImageStorageForProcessing", 53, 16},
    {"1.2.840.10008.5.1.4.1.1.1.2", "DigitalMammographyX-RayImageStorageForPresentation", 54, 16},
    {"1.2.840.10008.5.1.4.1.1.1.2.1", "DigitalMammographyX-RayImageStorageForProcessing", 55, 16},
    {"1.2.840.10008.5.1.4.1.1.1.3", "DigitalIntra-oralX-RayImageStorageForPresentation", 56, 16},
    {"1.2.840.10008.5.1.4.1.1.1.3.1", "DigitalIntra-oralX-RayImageStorageForProcessing", 57, 16},
    {"1.2.840.10008.5.1.4.1.1.2", "CTImageStorage", 58, 16},
    {"1.2.840.10008.5.1.4.1.1.2.1", "EnhancedCTImageStorage", 59, 16},
    {"1.2.840.10008.5.1.4.1.1.3", "UltrasoundMultiFrameImageStorage", 60, 17},
    {"1.2.840.10008.5.1.4.1.1.3.1", "UltrasoundMultiFrameImageStorage", 61, 16},
    {"1.2.840.10008.5.1.4.1.1.4", "MRImageStorage", 62, 16},
    {"1.2.840.10008.5.1.4.1.1.4.1", "EnhancedMRImageStorage", 63, 16},
    {"1.2.840.10008.5.1.4.1.1.4.2", "MRSpectroscopyStorage", 64, 16},
    {"1.2.840.10008.5.1.4.1.1.5", "NuclearMedicineImageStorage", 65, 17},
    {"1.2.840.10008.5.1.4.1.1.6", "UltrasoundImageStorage", 66, 17},
    {"1.2.840.10008.5.1.4.1.1.6.1", "UltrasoundImageStorage", 67, 16},
    {"1.2.840.10008.5.1.4.1.1.7", "SecondaryCaptureImageStorage", 68, 16},
    {"1.2.840.10008.5.1.4.1.1.7.1", "Multi-frameSingleBitSecondaryCaptureImageStorage", 69, 16},
    {"1.2.840.10008.5.1.4.1.1.7.2", "Multi-frameGrayscaleByteSecondaryCaptureImageStorage", 70, 16},
    {"1.2.840.10008.5.1.4.1.1.7.3", "Multi-frameGrayscaleWordSecondaryCaptureImageStorage", 71, 16},
    {"1.2.840.10008.5.1.4.1.1.7.4", "Multi-frameTrueColorSecondaryCaptureImageStorage", 72, 16},
    {"1.2.840.10008.5.1.4.1.1.8", "StandaloneOverlayStorage", 73, 17},
    {"1.2.840.10008.5.1.4.1.1.9", "StandaloneCurveStorage", 74, 17},
    {"1.2.840.10008.5.1.4.1.1.9.1", "WaveformStorageTrial", 75, 17},
    {"1.2.840.10008.5.1.4.1.1.9.1.1", "12LeadECGWaveformStorage", 76, 16},
    {"1.2.840.10008.5.1.4.1.1.9.1.2", "GeneralECGWaveformStorage", 77, 16},
    {"1.2.840.10008.5.1.4.1.1.9.1.3", "AmbulatoryECGWaveformStorage", 78, 16},
    {"1.2.840.10008.5.1.4.1.1.9.2.1", "HemodynamicWaveformStorage", 79, 16},
    {"1.2.840.10008.5.1.4.1.1.9.3.1", "CardiacElectrophysiologyWaveformStorage", 80, 16},
    {"1.2.840.10008.5.1.4.1.1.9.4.1", "BasicVoiceAudioWaveformStorage", 81, 16},
    {"1.2.840.10008.5.1.4.1.1.10", "StandaloneModalityLUTStorage", 82, 17},
    {"1.2.840.10008.5.1.4.1.1.11", "StandaloneVOILUTStorage", 83, 17},
    {"1.2.840.10008.5.1.4.1.1.11.1", "GrayscaleSoftcopyPresentationStateStorage", 84, 16},
    {"1.2.840.10008.5.1.4.1.1.11.2", "ColorSoftcopyPresentationStateStorage", 85, 16},
    {"1.2.840.10008.5.1.4.1.1.11.3", "Pseudo-ColorSoftcopyPresentationStateStorage", 86, 16},
    {"1.2.840.10008.5.1.4.1.1.11.4", "BlendingSoftcopyPresentationStateStorage", 87, 16},
    {"1.2.840.10008.5.1.4.1.1.12.1", "X-RayAngiographicImageStorage", 88, 16},
    {"1.2.840.10008.5.1.4.1.1.12.1.1", "EnhancedXAImageStorage", 89, 16},
    {"1.2.840.10008.5.1.4.1.1.12.2", "X-RayRadiofluoroscopicImageStorage", 90, 16},
    {"1.2.840.10008.5.1.4.1.1.12.2.1", "EnhancedXRFImageStorage", 91, 16},
    {"1.2.840.10008.5.1.4.1.1.13.1.1", "X-Ray3DAngiographicImageStorage", 92, 16},
    {"1.2.840.10008.5.1.4.1.1.13.1.2", "X-Ray3DCraniofacialImageStorage", 93, 16},
    {"1.2.840.10008.5.1.4.1.1.12.3", "X-RayAngiographicBi-PlaneImageStorage", 94, 17},
    {"1.2.840.10008.5.1.4.1.1.20", "NuclearMedicineImageStorage", 95, 16},
    {"1.2.840.10008.5.1.4.1.1.66", "RawDataStorage", 96, 16},
    {"1.2.840.10008.5.1.4.1.1.66.1", "SpatialRegistrationStorage", 97, 16},
    {"1.2.840.10008.5.1.4.1.1.66.2", "SpatialFiducialsStorage", 98, 16},
    {"1.2.840.10008.5.1.4.1.1.66.3", "DeformableSpatialRegistrationStorage", 99, 16},
    {"1.2.840.10008.5.1.4.1.1.66.4", "SegmentationStorage", 100, 16},
    {"1.2.840.10008.5.1.4.1.1.67", "RealWorldValueMappingStorage", 101, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.1", "VLEndoscopicImageStorage", 102, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.1.1", "VideoEndoscopicImageStorage", 103, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.2", "VLMicroscopicImageStorage", 104, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.2.1", "VideoMicroscopicImageStorage", 105, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.3", "VLSlide-CoordinatesMicroscopicImageStorage", 106, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.4", "VLPhotographicImageStorage", 107, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.4.1", "VideoPhotographicImageStorage", 108, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.1", "OphthalmicPhotography8BitImageStorage", 109, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.2", "OphthalmicPhotography16BitImageStorage", 110, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.3", "StereometricRelationshipStorage", 111, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.4", "OphthalmicTomographyImageStorage", 112, 16},
    {"1.2.840.10008.5.1.4.1.1.77.1.6", "VLWholeSlideMicroscopyImageStorage", 169, 16},
    {"1.2.840.10008.5.1.4.1.1.78.7", "OphthalmicAxialMeasurementsStorage", 184, 16},
    {"1.2.840.10008.5.1.4.1.1.78.8", "IntraocularLensCalculationsStorage", 185, 16},
    {"1.2.840.10008.5.1.4.1.1.80.1", "OphthalmicVisualFieldStaticPerimetryMeasurementsStorage", 186, 16},
    {"1.2.840.10008.5.1.4.1.1.88.1", "TextSRStorageTrial", 113, 17},
    {"1.2.840.10008.5.1.4.1.1.88.2", "AudioSRStorageTrial", 114, 17},
    {"1.2.840.10008.5.1.4.1.1.88.3", "DetailSRStorageTrial", 115, 17},
    {"1.2.840.10008.5.1.4.1.1.88.4", "ComprehensiveSRStorageTrial", 116, 17},
    {"1.2.840.10008.5.1.4.1.1.88.11", "BasicTextSRStorage", 117, 16},
    {"1.2.840.10008.5.1.4.1.1.88.22", "EnhancedSRStorage", 118, 16},
    {"1.2.840.10008.5.1.4.1.1.88.33", "ComprehensiveSRStorage", 119, 16},
    {"1.2.840.10008.5.1.4.1.1.88.40", "ProcedureLogStorage", 120, 16},
    {"1.2.840.10008.5.1.4.1.1.88.50", "MammographyCADSRStorage", 121, 16},
    {"1.2.840.10008.5.1.4.1.1.88.59", "KeyObjectSelectionDocumentStorage", 122, 16},
    {"1.2.840.10008.5.1.4.1.1.88.65", "ChestCADSRStorage", 123, 16},
    {"1.2.840.10008.5.1.4.1.1.88.67", "X-RayRadiationDoseSRStorage", 124, 16},
    {"1.2.840.10008.5.1.4.1.1.88.70", "ImplantationPlanSRDocumentStorage", 183, 16},
    {"1.2.840.10008.5.1.4.1.1.104.1", "EncapsulatedPDFStorage", 125, 16},
    {"1.2.840.10008.5.1.4.1.1.104.2", "EncapsulatedCDAStorage", 126, 16},
    {"1.2.840.10008.5.1.4.1.1.128", "PositronEmissionTomographyImageStorage", 127, 16},
    {"1.2.840.10008.5.1.4.1.1.129", "StandalonePETCurveStorage", 128, 17},
    {"1.2.840.10008.5.1.4.1.1.481.1", "RTImageStorage", 129, 16},
    {"1.2.840.10008.5.1.4.1.1.481.2", "RTDoseStorage", 130, 16},
    {"1.2.840.10008.5.1.4.1.1.481.3", "RTStructureSetStorage", 131, 16},
    {"1.2.840.10008.5.1.4.1.1.481.4", "RTBeamsTreatmentRecordStorage", 132, 16},
    {"1.2.840.10008.5.1.4.1.1.481.5", "RTPlanStorage", 133, 16},
    {"1.2.840.10008.5.1.4.1.1.481.6", "RTBrachyTreatmentRecordStorage", 134, 16},
    {"1.2.840.10008.5.1.4.1.1.481.7", "RTTreatmentSummaryRecordStorage", 135, 16},
    {"1.2.840.10008.5.1.4.1.1.481.8", "RTIonPlanStorage", 136, 16},
    {"1.2.840.10008.5.1.4.1.1.481.9", "RTIonBeamsTreatmentRecordStorage", 137, 16},
    {"1.2.840.10008.5.1.4.1.2.1.1", "PatientRootQuery/RetrieveInformationModel–FIND", 138, 16},
    {"1.2.840.10008.5.1.4.1.2.1.2", "PatientRootQuery/RetrieveInformationModel–MOVES", 139, 16},
    {"1.2.840.10008.5.1.4.1.2.1.3", "PatientRootQuery/RetrieveInformationModel–GET", 140, 16},
    {"1.2.840.10008.5.1.4.1.2.2.1", "StudyRootQuery/RetrieveInformationModel–FIND", 141, 16},
    {"1.2.840.10008.5.1.4.1.2.2.2", "StudyRootQuery/RetrieveInformationModel–MOVE", 142, 16},
    {"1.2.840.10008.5.1.4.1.2.2.3", "StudyRootQuery/RetrieveInformationModel–GET", 143, 16},
    {"1.2.840.10008.5.1.4.1.2.3.1", "Patient/StudyOnlyQuery/RetrieveInformationModel-FIND", 144, 17},
    {"1.2.840.10008.5.1.4.1.2.3.2", "Patient/StudyOnlyQuery/RetrieveInformationModel-MOVE", 145, 17},
    {"1.2.840.10008.5.1.4.1.2.3.3", "Patient/StudyOnlyQuery/RetrieveInformationModel-GET", 146, 17},
    {"1.2.840.10008.5.1.4.31", "ModalityWorklistInformationModel–FIND", 147, 16},
    {"1.2.840.10008.5.1.4.32.1", "GeneralPurposeWorklistInformationModel–FIND", 148, 16},
    {"1.2.840.10008.5.1.4.32.2", "GeneralPurposeScheduledProcedureStep", 149, 16},
    {"1.2.840.10008.5.1.4.32.3", "GeneralPurposePerformedProcedureStep", 150, 16},
    {"1.2.840.10008.5.1.4.32", "GeneralPurposeWorklistMeta", 151, 16},
    {"1.2.840.10008.5.1.4.33", "InstanceAvailabilityNotification", 152, 16},
    {"1.2.840.10008.5.1.4.34.1", "RTBeamsDeliveryInstructionStorage(Supplement74FrozenDraft)", 153, 16},
    {"1.2.840.10008.5.1.4.34.2", "RTConventionalMachineVerification(Supplement74FrozenDraft)", 154, 16},
    {"1.2.840.10008.5.1.4.34.3", "RTIonMachineVerification(Supplement74FrozenDraft)", 155, 16},
    {"1.2.840.10008.5.1.4.34.4.1", "UnifiedProcedureStep–Push", 156, 16},
    {"1.2.840.10008.5.1.4.34.4.2", "UnifiedProcedureStep–Watch", 157, 16},
    {"1.2.840.10008.5.1.4.34.4.3", "UnifiedProcedureStep–Pull", 158, 16},
    {"1.2.840.10008.5.1.4.34.4.4", "UnifiedProcedureStep–Event", 159, 16},
    {"1.2.840.10008.5.1.4.34.5", "UnifiedWorklistandProcedureStepSOPInstance", 160, 0},
    {"1.2.840.10008.5.1.4.37.1", "GeneralRelevantPatientInformationQuery", 161, 16},
    {"1.2.840.10008.5.1.4.37.2", "BreastImagingRelevantPatientInformationQuery", 162, 16},
    {"1.2.840.10008.5.1.4.37.3", "CardiacRelevantPatientInformationQuery", 163, 16},
    {"1.2.840.10008.5.1.4.38.1", "HangingProtocolStorage", 164, 16},
    {"1.2.840.10008.5.1.4.38.2", "HangingProtocolInformationModel–FIND", 165, 16},
    {"1.2.840.10008.5.1.4.38.3", "HangingProtocolInformationModel–MOVE", 166, 16},
    {"1.2.840.10008.5.1.4.41", "ProductCharacteristicsQuery", 167, 16},
    {"1.2.840.10008.5.1.4.42", "SubstanceApprovalQuery", 168, 16},
    {"1.2.840.10008.5.1.4.43.1", "GenericImplantTemplateStorage", 172, 16},
    {"1.2.840.10008.5.1.4.43.2", "GenericImplantTemplateInformationModel–FIND", 172, 16},
    {"1.2.840.10008.5.1.4.43.3", "GenericImplantTemplateInformationModel–MOVE", 173, 16},
    {"1.2.840.10008.5.1.4.43.4", "GenericImplantTemplateInformationModel–GET", 174, 16},
    {"1.2.840.10008.5.1.4.44.1", "ImplantAssemblyTemplateStorage", 175, 16},
    {"1.2.840.10008.5.1.4.44.2", "ImplantAssemblyTemplateInformationModel–FIND", 176, 16},
    {"1.2.840.10008.5.1.4.44.3", "ImplantAssemblyTemplateInformationModel–MOVE", 177, 16},
    {"1.2.840.10008.5.1.4.44.4", "ImplantAssemblyTemplateInformationModel–GET", 178, 16},
    {"1.2.840.10008.5.1.4.45.1", "ImplantTemplateGroupStorage", 179, 16},
    {"1.2.840.10008.5.1.4.45.2", "ImplantTemplateGroupInformationModel–FIND", 180, 16},
    {"1.2.840.10008.5.1.4.45.3", "ImplantTemplateGroupInformationModel–MOVE", 181, 16},
    {"1.2.840.10008.5.1.4.45.4", "ImplantTemplateGroupInformationModel–GET", 182, 16},
    {"1.2.840.10008.7.1.1", "NativeDICOMModel", 170, 0},
    {"1.2.840.10008.7.1.2", "AbstractMultiDimensionalImageModel", 171, 0},
};

const dicmPhotoInfo photoInfo[] = {
    {"MONOCHROME1", 1, 0},
    {"MONOCHROME2", 1, 0},
    {"PALETTE COLOR", 1, 0},
    {"RGB", 3, 0},
    {"HSV", 3, 1},
    {"YBR_FULL", 3, 0},
    {"YBR_FULL_422", 3, 0},
    {"YBR_PARTIAL_422", 3, 0},
    {"YBR_PARTIAL_420", 3, 0},
    {"YBR_ICT", 3, 0},
    {"YBR_RCT", 3, 0},
    {"ARGB", 4, 1},
    {"CMYK", 4, 1},
};

const char* const directoryTypesList[] = {
    "PATIENT",       "STUDY",           "SERIES",       "IMAGE",    "RT DOSE",          "RT STRUCTURE SET",
    "RT PLAN",       "RT TREAT RECORD", "PRESENTATION", "WAVEFORM", "SR DOCUMENT",      "KEY OBJECT DOC",
    "SPECTROSCOPY",  "RAW DATA",        "REGISTRATION", "FIDUCIAL", "HANGING PROTOCOL", "ENCAP DOC",
    "HL7 STRUC DOC", "VALUE MAP",       "STEREOMETRIC", "PALETTE",  "PRIVATE",
};

const dicmModalityInfo modalitiesTable[] = {
    {"AR", "Autorefraction", 0},
    {"AS", "Angioscopy", 1},
    {"AU", "Audio", 0},
    {"BI", "Biomagnetic imaging", 0},
    {"BDUS", "Bone Densitometry (ultrasound)", 0},
    {"BMD", "Bone Densitometry (X-Ray)", 0},
    {"CD", "Color flow Doppler", 1},
    {"CF", "Cinefluorography", 1},
    {"CP", "Culposcopy", 1},
    {"CR", "Computed Radiography", 0},
    {"CT", "Computed Tomography", 0},
    {"DD", "Duplex Doppler", 1},
    {"DF", "Digital fluoroscopy", 1},
    {"DM", "Digital microscopy", 1},
    {"DOC", "Document", 0},
    {"DG", "Diaphanography", 0},
    {"DS", "Digital Subtraction Angiography", 1},
    {"DX", "Digital Radiography", 0},
    {"EC", "Echocardiography", 1},
    {"ECG", "Electrocardiography", 0},
    {"EPS", "Cardiac Electrophysiology", 0},
    {"ES", "Endoscopy", 0},
    {"FA", "Fluorescein angiography", 1},
    {"FID", "Fiducials", 0},
    {"FS", "Fundoscopy", 1},
    {"GM", "General Microscopy", 0},
    {"HC", "Hard Copy", 0},
    {"HD", "Hemodynamic Waveform", 0},
    {"IO", "Intra-Oral Radiography", 0},
    {"IVUS", "Intravascular Ultrasound", 0},
    {"KER", "Keratometry", 0},
    {"KO", "Key Object Selection", 0},
    {"LEN", "Lensometry", 0},
    {"LS", "Laser surface scan", 0},
    {"LP", "Laparoscopy", 1},
    {"MA", "Magnetic resonance angiography", 1},
    {"MG", "Mammography", 0},
    {"MR", "Magnetic Resonance", 0},
    {"MS", "Magnetic resonance spectroscopy", 1},
    {"NM", "Nuclear Medicine", 0},
    {"OAM", "Ophthalmic Axial Measurements", 0},
    {"OCT", "Optical Coherence Tomography (non-Ophthalmic)", 0},
    {"OP", "Ophthalmic Photography", 0},
    {"OPM", "Ophthalmic Mapping", 0},
    {"OPR", "Ophthalmic Refraction", 1},
    {"OPT", "Ophthalmic Tomography", 0},
    {"OPV", "Ophthalmic Visual Field", 0},
    {"OT", "Other", 0},
    {"PR", "Presentation State", 0},
    {"PT", "Positron emission tomography (PET)", 0},
    {"PX", "Panoramic X-Ray", 0},
    {"REG", "Registration", 0},
    {"RESP", "Respiratory Waveform", 0},
    {"RF", "Radio Fluoroscopy", 0},
    {"RG", "Radiographic imaging (conventional film/screen)", 0},
    {"RTDOSE", "Radiotherapy Dose", 0},
    {"RTIMAGE", "Radiotherapy Image", 0},
    {"RTPLAN", "Radiotherapy Plan", 0},
    {"RTRECORD", "RT Treatment Record", 0},
    {"RTSTRUCT", "Radiotherapy Structure Set", 0},
    {"SEG", "Segmentation", 0},
    {"SM", "Slide Microscopy", 0},
    {"SMR", "Stereometric Relationship", 0},
    {"SR", "SR Document", 0},
    {"SRF", "Subjective Refraction", 0},
    {"ST", "Single-photon emission computed tomography (SPECT)", 1},
    {"TG", "Thermography", 0},
    {"US", "Ultrasound", 0},
    {"VA", "Visual Acuity", 0},
    {"VF", "Videofluorography", 0},
    {"XA", "X-Ray Angiography", 0},
    {"XC", "External-camera Photography", 0},
};

const dicmCharSetInfo charSetTable[] = {
    {"ISO_IR 100", "Latin alphabet No.1", 0},
    {"ISO_IR 101", "Latin alphabet No.2", 0},
    {"ISO_IR 109", "Latin alphabet No.3", 0},
    {"ISO_IR 110", "Latin alphabet No.4", 0},
    {"ISO_IR 148", "Latin alphabet No.5", 0},
    {"ISO_IR 144", "Cyrillic", 0},
    {"ISO_IR 127", "Arabic", 0},
    {"ISO_IR 126", "Greek", 0},
    {"ISO_IR 138", "Hebrew", 0},
    {"ISO_IR 13", "Japanese", 0},
    {"ISO_IR 166", "Thai", 0},
    {"ISO 2022 IR 6", "Default Repertoire", 1},
    {"ISO 2022 IR 100", "Latin alphabet No.1", 1},
    {"ISO 2022 IR 101", "Latin alphabet No.2", 1},
    {"ISO 2022 IR 109", "Latin alphabet No.3", 1},
    {"ISO 2022 IR 110", "Latin alphabet No.4", 1},
    {"ISO 2022 IR 148", "Latin alphabet No.5", 1},
    {"ISO 2022 IR 144", "Cyrillic", 1},
    {"ISO 2022 IR 127", "Arabic", 1},
    {"ISO 2022 IR 126", "Greek", 1},
    {"ISO 2022 IR 138", "Hebrew", 1},
    {"ISO 2022 IR 13", "Japanese", 1},
    {"ISO 2022 IR 166", "Thai", 1},
    {"ISO 2022 IR 87", "Japanese", 2},
    {"ISO 2022 IR 159", "Japanese", 2},
    {"ISO 2022 IR 149", "Korean", 2},
    {"ISO_IR 192", "Unicode in UTF-8", 3},
    {"GB18030", "GB18030", 3},
};

const dicmCommandInfo commandList[] = {
    {0x0001, 0, "C-STORE-RQ"},   {0x0010, 0, "C-GET-RQ"},     {0x0020, 0, "C-FIND-RQ"},
    {0x0021, 0, "C-MOVE-RQ"},    {0x0030, 0, "C-ECHO-RQ"},    {0x0100, 0, "N-EVENT-REPORT-RQ"},
    {0x0110, 0, "N-GET-RQ"},     {0x0120, 0, "N-SET-RQ"},     {0x0130, 0, "N-ACTION-RQ"},
    {0x0140, 0, "N-CREATE-RQ"},  {0x0150, 0, "N-DELETE-RQ"},  {0x0FFF, 0, "C-CANCEL-RQ"},
    {0x8001, 0, "C-STORE-RSP"},  {0x8010, 0, "C-GET-RSP"},    {0x8020, 0, "C-FIND-RSP"},
    {0x8021, 0, "C-MOVE-RSP"},   {0x8030, 0, "C-ECHO-RSP"},   {0x8100, 0, "N-EVENT-REPORT-RSP"},
    {0x8110, 0, "N-GET-RSP"},    {0x8120, 0, "N-SET-RSP"},    {0x8130, 0, "N-ACTION-RSP"},
    {0x8140, 0, "N-CREATE-RSP"}, {0x8150, 0, "N-DELETE-RSP"},
};

const char kDicomDirectorySOPClass[] = "1.2.840.10008.1.3.10";
const char kRootSRSOPClass[] = "1.2.840.10008.5.1.4.1.1.88";
const size_t rootSRSOPClassLen = sizeof kRootSRSOPClass - 1;

// First row whose text field equals `text`.
template <typename Row, size_t N, typename Field>
const Row* findByText(const Row (&table)[N], Field field, const char* text) {
    if (isEmpty(text)) return nullptr;
    for (const Row& row : table)
        if (same(row.*field, text)) return &row;
    return nullptr;
}

} // namespace

// ---- Value representations ----

const dicmVRInfo* VUXDicomLibrary::vrInfo(const char* vr) {
    if (isEmpty(vr)) return nullptr;
    // Asked once or more for every element read or written: two capital letters go through a
    // direct table, anything else through the list.
    static const auto byLetters = [] {
        std::array<const dicmVRInfo*, 26 * 26> table{};
        for (const dicmVRInfo& row : vrProperties)
            if (row.vr[0] >= 'A' && row.vr[0] <= 'Z' && row.vr[1] >= 'A' && row.vr[1] <= 'Z' &&
                !table[size_t(row.vr[0] - 'A') * 26 + size_t(row.vr[1] - 'A')])
                table[size_t(row.vr[0] - 'A') * 26 + size_t(row.vr[1] - 'A')] = &row;
        return table;
    }();
    if (vr[0] >= 'A' && vr[0] <= 'Z' && vr[1] >= 'A' && vr[1] <= 'Z')
        return byLetters[size_t(vr[0] - 'A') * 26 + size_t(vr[1] - 'A')];
    for (const dicmVRInfo& row : vrProperties)
        if (std::strncmp(row.vr, vr, 2) == 0) return &row;
    return nullptr;
}

uint32_t VUXDicomLibrary::vrDataType(const char* vr) {
    const dicmVRInfo* row = vrInfo(vr);
    return row ? row->format : 0xFFFFFFFFu;
}

// ---- Transfer syntaxes ----

const dicmXferSyntaxInfo* VUXDicomLibrary::xferSyntaxInfo(const char* uid) {
    return findByText(xferSyntaxesList, &dicmXferSyntaxInfo::uid, uid);
}

const dicmXferSyntaxInfo* VUXDicomLibrary::xferSyntaxInfoByIndex(uint32_t id) {
    for (const dicmXferSyntaxInfo& row : xferSyntaxesList)
        if (row.id == id) return &row;
    return nullptr;
}

const char* VUXDicomLibrary::xferSyntaxUIDByIndex(uint32_t id) {
    const dicmXferSyntaxInfo* row = xferSyntaxInfoByIndex(id);
    return row ? row->uid : "";
}

// ---- SOP classes ----

const dicmSOPClassInfo* VUXDicomLibrary::sopClassInfo(const char* uid) {
    return findByText(SOPClassesList, &dicmSOPClassInfo::uid, uid);
}

bool VUXDicomLibrary::isDicomDirectorySOPClass(const char* uid) {
    return !isEmpty(uid) && same(uid, kDicomDirectorySOPClass);
}

bool VUXDicomLibrary::isStructuredReportSOPClass(const char* uid) {
    return !isEmpty(uid) && std::strncmp(uid, kRootSRSOPClass, rootSRSOPClassLen) == 0;
}

// ---- Other defined terms ----

bool VUXDicomLibrary::isDicomDirectoryTypeValid(const char* type) {
    if (isEmpty(type)) return false;
    for (const char* known : directoryTypesList)
        if (same(known, type)) return true;
    return false;
}

bool VUXDicomLibrary::isPhotoInterpretationTypeValid(const char* name) {
    return photoInterpretationInfo(name) != nullptr;
}

const dicmPhotoInfo* VUXDicomLibrary::photoInterpretationInfo(const char* name) {
    return findByText(photoInfo, &dicmPhotoInfo::name, name);
}

const dicmModalityInfo* VUXDicomLibrary::modalityInfo(const char* code) {
    return findByText(modalitiesTable, &dicmModalityInfo::code, code);
}

bool VUXDicomLibrary::isDicomCharSetValid(const char* term) {
    return charSetInfo(term) != nullptr;
}

const dicmCharSetInfo* VUXDicomLibrary::charSetInfo(const char* term) {
    return findByText(charSetTable, &dicmCharSetInfo::term, term);
}

std::pair<const dicmCommandInfo*, uint32_t> VUXDicomLibrary::commandInfo(uint16_t field) {
    if (field == 0) return {nullptr, 0};
    uint32_t row = 0;
    for (; row < std::size(commandList); ++row)
        if (commandList[row].commandField == field) return {&commandList[row], row};
    return {nullptr, row};
}

const dicmCommandInfo* VUXDicomLibrary::commandInfo(const char* name) {
    return findByText(commandList, &dicmCommandInfo::name, name);
}

bool VUXDicomLibrary::isFileIDValueSuitable(const char* value) {
    if (!value) return false;
    size_t componentLength = 0;
    const char* p = value;
    for (; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (alnum) {
            ++componentLength;
        } else if (c == '\\' && componentLength < 9) {
            componentLength = 0;
        } else {
            return false;
        }
    }
    if (p != value && p[-1] == '\\') return false;
    return componentLength < 9;
}

// ---- Standard data dictionary ----

const dicmDictEntry* dicmDictTableEntry(dataElementTagRecord const& tag, const dicmDictEntryIndex* index,
                                        uint32_t count) {
    // Private groups are never in a standard table.
    if ((tag.group & 1) || !index || count == 0) return nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        if (index[i].group != tag.group) continue;
        const dicmDictEntry* rows = index[i].entries;
        for (uint32_t r = 0; r < index[i].count; ++r)
            if (rows[r].element == tag.element) return &rows[r];
        return nullptr;
    }
    return nullptr;
}

const dicmDictEntry* VUXDicomLibrary::stdDataElementInfo(dataElementTagRecord const& tag) {
    return dicmDictTableEntry(tag, CoreDictionary::entriesIndexes, CoreDictionary::entriesIndexesCount);
}

bool VUXDicomLibrary::dataElementHasMultipleVR(dataElementTagRecord const& tag) {
    return dicmDictTableEntry(tag, CoreDictionary::multiVRTagRefs, CoreDictionary::multiVRTagRefsCount) !=
           nullptr;
}

bool VUXDicomLibrary::vrOfStdDataElement(dataElementTagRecord const& tag, char vr[3]) {
    vr[0] = vr[1] = vr[2] = 0;
    const dicmDictEntry* row = stdDataElementInfo(tag);
    if (!row) return false;
    vr[0] = row->vr[0];
    vr[1] = row->vr[1];
    return vr[0] != 0;
}

bool VUXDicomLibrary::dataElementIsGroupReserved(uint16_t group) {
    return group == 0x0001 || group == 0x0003 || group == 0x0005 || group == 0x0007;
}

bool VUXDicomLibrary::dataElementIsGroupValidForPrivate(uint16_t group) {
    return (group & 1) && !dataElementIsGroupReserved(group);
}

bool VUXDicomLibrary::dataElementIsPrivate(dataElementTagRecord const& tag) {
    return dataElementIsGroupValidForPrivate(tag.group);
}

void VUXDicomLibrary::dataElementTagSwap(dataElementTagRecord& tag) {
    tag.group = uint16_t((tag.group >> 8) | (tag.group << 8));
    tag.element = uint16_t((tag.element >> 8) | (tag.element << 8));
}

uint32_t VUXDicomLibrary::dataElementTagSwap(dataElementTagRecord const& tag) {
    const uint16_t group = uint16_t((tag.group >> 8) | (tag.group << 8));
    const uint16_t element = uint16_t((tag.element >> 8) | (tag.element << 8));
    return (uint32_t(element) << 16) | group;
}

} // namespace VUX::VUXDCM

// ---- Plain entry points ----

const dicmXferSyntaxInfo* DicmDict_XFerSyntax(const char* uid) {
    return VUX::VUXDCM::VUXDicomLibrary::xferSyntaxInfo(uid);
}

const dicmXferSyntaxInfo* DicmDict_XFerSyntaxByIndex(int id) {
    return VUX::VUXDCM::VUXDicomLibrary::xferSyntaxInfoByIndex(static_cast<uint32_t>(id));
}

const char* DicmDict_XFerSyntaxUIDByIndex(int id) {
    return VUX::VUXDCM::VUXDicomLibrary::xferSyntaxUIDByIndex(static_cast<uint32_t>(id));
}

const dicmSOPClassInfo* DicmDict_SOPClass(const char* uid) {
    return VUX::VUXDCM::VUXDicomLibrary::sopClassInfo(uid);
}

const dicmVRInfo* DicmDict_VRInfo(const char* vr) {
    return VUX::VUXDCM::VUXDicomLibrary::vrInfo(vr);
}

uint32_t DicmDict_VRFormat(const char* vr) {
    return VUX::VUXDCM::VUXDicomLibrary::vrDataType(vr);
}
