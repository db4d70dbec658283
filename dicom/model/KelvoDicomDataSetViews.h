// The group views: data sets of one group each that the system treats specially, with named
// accessors for a few elements and, for some, their own anonymisation, validity, encoding flags
// or dump. File meta information (0002), directory information (0004), study (0008), patient
// (0010), acquisition (0018) and image (0020); the image pixel group (0028) has its own header.
//
// A view built from a group atom of another group holds no element: it is an empty set of its
// own group, so that it cannot be written back in the other group's place.
#pragma once

#include "KelvoDicomDataSet.h"

class KelvoDicomDataItemGroup;

// The file meta information of a Part-10 file, and the encoding that its transfer syntax gives
// the rest of the file.
class KelvoDicomDataHeader : public KelvoDicomDataSet {
  public:
    // Explicit VR little endian, with the implementation's AE title and version name and the file
    // meta information version 00 01.
    KelvoDicomDataHeader();
    KelvoDicomDataHeader(const KelvoDicomDataHeader& other);
    KelvoDicomDataHeader& operator=(const KelvoDicomDataHeader& other);
    ~KelvoDicomDataHeader() override;

    const char* qtObjName() const override { return "KelvoDicomDataHeader"; }
    // A header is usable when it names a transfer syntax.
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override;
    Kelvo_QTObj* clone() override;
    // The dumps show the group length as it would be written now (explicit VR).
    void flushToText(FILE* file, QTAtom parentAtom) override;
    void flushToXml(FILE* file, QTAtom parentAtom) override;
    using Kelvo_Dictionary::Copy;
    void Copy(Kelvo_Dictionary& other) override;
    using KelvoDicomDataSet::setObjValue;
    void setObjValue(int32_t element, Kelvo_QTObj* object) override;
    // Always explicit VR little endian with a fresh group length first, whatever the flags.
    void flushToBinary(FILE* file, const void* flags) override;
    int32_t anonymize() override;

    // (0002,0010); the encoding flags follow it. -50 for a null UID.
    void XFerSyntax(const char* uid);
    void Version(KelvoDicomDataNode* node);
    void VersionDefault();
    // (0002,0102), only when (0002,0100) names its creator.
    void PrivateInfo(KelvoDicomDataNode* node);

    bool Implicit() const { return _implicit != 0; }
    bool BigEndian() const { return _bigEndian != 0; }
    bool Swap() const { return _swap != 0; }
    bool isSourceACRNema() const { return _acrNema != 0; }
    // Whether the transfer syntax carries encapsulated pixel data.
    bool isDataCompressed();
    void setupEncodingRules();

    // For streams without a Part-10 header: implicit VR little endian, secondary capture.
    static KelvoDicomDataHeader* createACRNemaHeader();
    // The header of the DICOM file at `path` as a new header, or null; read by the file reader
    // (the DICOM files library).
    static KelvoDicomDataHeader* openFile(const char* path);
    // The same with the reason of a failure: 100 the file cannot be opened, 300 not a DICOM
    // stream, 301-303 a malformed or truncated meta information group.
    static KelvoDicomDataHeader* openFile(const char* path, int32_t& status);

  private:
    bool hasTransferSyntax() const;

    uint8_t _acrNema = 0;
    uint8_t _implicit = 0;
    uint8_t _bigEndian = 0;
    uint8_t _swap = 0;
};

// The directory information of a DICOMDIR. While written in binary form it notes where the
// values of (0004,1400) and (0004,1420) went, for the DICOMDIR writer to patch them afterwards.
class KelvoDicomDataFileSet : public KelvoDicomDataSet {
  public:
    // Group 0004 with the file-set consistency flag (0004,1212) = 0.
    KelvoDicomDataFileSet();
    KelvoDicomDataFileSet(QTAtomContainer container, QTAtom atom);
    // The noted positions belong to one write and are not copied.
    KelvoDicomDataFileSet(const KelvoDicomDataFileSet& other);
    KelvoDicomDataFileSet& operator=(const KelvoDicomDataFileSet& other);
    ~KelvoDicomDataFileSet() override;

    const char* qtObjName() const override { return "KelvoDicomDataFileSet"; }
    Kelvo_QTObj* clone() override;
    using Kelvo_Dictionary::Copy;
    void Copy(Kelvo_Dictionary& other) override;
    void flushContent(FILE* file, dicmIOformat format, uint32_t flags) override;
    int32_t anonymize() override;

    // (0004,1430): only a record type of the standard; 322 otherwise.
    void DirectoryType(const char* type);
    // (0004,1220): null removes it; an item group of element 0x1220 is stored; 9 otherwise.
    void Directory(KelvoDicomDataItemGroup* records);
    // (0004,1212): 0 when consistent, 0xFFFF when not.
    void isConsistent(bool consistent);
    // (0004,1410): 0xFFFF when the record is in use, 0 when not.
    void isActive(bool active);

    // Stream positions of the 32-bit values of (0004,1400) and (0004,1420) in the last binary
    // write; 0 when that write held none.
    int64_t nextRecordOffsetPosition() const { return _nextRecordPosition; }
    int64_t lowerLevelOffsetPosition() const { return _lowerLevelPosition; }

  private:
    int64_t _nextRecordPosition = 0;
    int64_t _lowerLevelPosition = 0;
};

class KelvoDicomDataStudy : public KelvoDicomDataSet {
  public:
    KelvoDicomDataStudy();
    KelvoDicomDataStudy(QTAtomContainer container, QTAtom atom);
    KelvoDicomDataStudy(const KelvoDicomDataStudy& other) = default;
    KelvoDicomDataStudy& operator=(const KelvoDicomDataStudy& other) = default;
    ~KelvoDicomDataStudy() override;

    const char* qtObjName() const override { return "KelvoDicomDataStudy"; }
    Kelvo_QTObj* clone() override;
    using Kelvo_Dictionary::Copy;
    void Copy(Kelvo_Dictionary& other) override;

    void CharacterSet(KelvoDicomDataNode* node);
    void ImageType(KelvoDicomDataNode* node);
    void PerformingPhysician(KelvoDicomDataNode* node);
};

class KelvoDicomDataPatient : public KelvoDicomDataSet {
  public:
    KelvoDicomDataPatient();
    KelvoDicomDataPatient(QTAtomContainer container, QTAtom atom);
    KelvoDicomDataPatient(const KelvoDicomDataPatient& other) = default;
    KelvoDicomDataPatient& operator=(const KelvoDicomDataPatient& other) = default;
    ~KelvoDicomDataPatient() override;

    const char* qtObjName() const override { return "KelvoDicomDataPatient"; }
    Kelvo_QTObj* clone() override;
    using Kelvo_Dictionary::Copy;
    void Copy(Kelvo_Dictionary& other) override;
    // The data set's anonymisation, then a new anonymous Patient ID and an anonymised address.
    int32_t anonymize() override;

    // (0010,0040): "F" or "M" by the first letter in either case, "O" for anything else.
    void Sex(const char* sex);
};

class KelvoDicomDataAcquisition : public KelvoDicomDataSet {
  public:
    KelvoDicomDataAcquisition();
    KelvoDicomDataAcquisition(QTAtomContainer container, QTAtom atom);
    KelvoDicomDataAcquisition(const KelvoDicomDataAcquisition& other) = default;
    KelvoDicomDataAcquisition& operator=(const KelvoDicomDataAcquisition& other) = default;
    ~KelvoDicomDataAcquisition() override;

    const char* qtObjName() const override { return "KelvoDicomDataAcquisition"; }
    Kelvo_QTObj* clone() override;
    using Kelvo_Dictionary::Copy;
    void Copy(Kelvo_Dictionary& other) override;

    void SoftwareVersion(KelvoDicomDataNode* node);
    void LastCalibrationDate(KelvoDicomDataNode* node);
    void LastCalibrationTime(KelvoDicomDataNode* node);
};

class KelvoDicomDataImage : public KelvoDicomDataSet {
  public:
    KelvoDicomDataImage();
    KelvoDicomDataImage(QTAtomContainer container, QTAtom atom);
    KelvoDicomDataImage(const KelvoDicomDataImage& other) = default;
    KelvoDicomDataImage& operator=(const KelvoDicomDataImage& other) = default;
    ~KelvoDicomDataImage() override;

    const char* qtObjName() const override { return "KelvoDicomDataImage"; }
    Kelvo_QTObj* clone() override;
    using Kelvo_Dictionary::Copy;
    void Copy(Kelvo_Dictionary& other) override;
    // The data set's anonymisation, then a new anonymous Study ID.
    int32_t anonymize() override;

    void ImageComments(KelvoDicomDataNode* node);
};
