#include "KelvoDicomDataSetViews.h"

#include "KelvoDicomDataSetViewsSupport.h"
#include "KelvoDicomSequence.h"
#include "KelvoDicomUtils.h"
#include "PlatformErrors.h"

#include <cstring>
#include <string>

namespace {

constexpr uint16_t kHeaderGroup = 0x0002;
constexpr uint16_t kFileSetGroup = 0x0004;
constexpr uint16_t kStudyGroup = 0x0008;
constexpr uint16_t kPatientGroup = 0x0010;
constexpr uint16_t kAcquisitionGroup = 0x0018;
constexpr uint16_t kImageGroup = 0x0020;

const char* const kExplicitLittleEndianUID = "1.2.840.10008.1.2.1";
const char* const kImplicitLittleEndianUID = "1.2.840.10008.1.2";
const char* const kCRImageStorageUID = "1.2.840.10008.5.1.4.1.1.1";

// Gives an existing identifier element a new anonymous identifier, in the element's own VR.
// Returns the status of the store (0 when the element is absent).
int32_t anonymizeIdentifier(KelvoDicomDataSet& set, uint16_t element) {
    if (!set.HasKey(element)) return noErr;
    KelvoDicomDataNode node;
    set.getProperty(element, node);
    char vr[3] = {};
    if (node.qtObjIsValid() && node.VR()[0]) {
        vr[0] = node.VR()[0];
        vr[1] = node.VR()[1];
    } else {
        // Present but empty (a Type 2 identifier): no value to read, but its header holds the
        // element's own VR, and it is anonymised like a full one.
        qtAtomNodeHeader header{};
        int32_t status = 0;
        const QTAtom atom = set.FindItem(element, set.getRootOfItems());
        if (!atom || !DicmUtils_NodeInfo(header, set.Dictionary(), atom, status) || !header.vr[0])
            return status != noErr ? status : int32_t(kKelvoUnacceptedValue);
        vr[0] = header.vr[0];
        vr[1] = header.vr[1];
    }
    std::string id;
    char* fresh = nullptr;
    DicmUtils_IDAnonymizer(&fresh);
    if (fresh && fresh[0]) {
        id = fresh;
    } else {
        // No new identifier: the current one turned into the stamp in place.
        const char* current = node.textValue();
        id = current ? current : "";
        DicmUtils_IDAnonymizer(id.data());
        id.resize(std::strlen(id.c_str()));
    }
    delete[] fresh;
    KelvoDicomDataNode value(vr);
    value.strValue(id.c_str());
    set.setProperty(element, vr, value);
    return set.Error();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// File meta information

KelvoDicomDataHeader::KelvoDicomDataHeader() : KelvoDicomDataSet(kHeaderGroup) {
    if (_status != noErr) return;
    XFerSyntax(kExplicitLittleEndianUID);
    setStringValueProperty(0x0016, "kelvodicom");
    setStringValueProperty(0x0013, "kelvodicom63");
    VersionDefault();
}

KelvoDicomDataHeader::KelvoDicomDataHeader(const KelvoDicomDataHeader& other)
    : KelvoDicomDataSet(other), _acrNema(other._acrNema), _implicit(other._implicit),
      _bigEndian(other._bigEndian), _swap(other._swap) {}

KelvoDicomDataHeader& KelvoDicomDataHeader::operator=(const KelvoDicomDataHeader& other) {
    if (&other != this) {
        KelvoDicomDataSet::operator=(other);
        DicmViews_Rebind(_container, _root, _group);
        _acrNema = other._acrNema;
        _implicit = other._implicit;
        _bigEndian = other._bigEndian;
        _swap = other._swap;
    }
    return *this;
}

KelvoDicomDataHeader::~KelvoDicomDataHeader() = default;

bool KelvoDicomDataHeader::hasTransferSyntax() const {
    if (!_container || !_root) return false;
    QTAtom atom = QTFindChildByID(_container, _root, kDicomElementAtom, 0x0010, nullptr);
    if (!atom) return false;
    KelvoDicomDataNode node;
    KelvoDicomDataNode::read(_container, atom, "UI", node);
    const char* uid = node.textValue();
    return uid && uid[0];
}

bool KelvoDicomDataHeader::qtObjIsValid() {
    return hasTransferSyntax();
}
bool KelvoDicomDataHeader::qtObjIsValid() const {
    return hasTransferSyntax();
}

Kelvo_QTObj* KelvoDicomDataHeader::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new KelvoDicomDataHeader(*this);
}

void KelvoDicomDataHeader::flushToText(FILE* file, QTAtom parentAtom) {
    if (!file) {
        _status = paramErr;
        return;
    }
    GroupLengthRefresh(false);
    KelvoDicomDataSet::flushToText(file, parentAtom);
}

void KelvoDicomDataHeader::flushToXml(FILE* file, QTAtom parentAtom) {
    if (!file) {
        _status = paramErr;
        return;
    }
    GroupLengthRefresh(false);
    KelvoDicomDataSet::flushToXml(file, parentAtom);
}

void KelvoDicomDataHeader::Copy(Kelvo_Dictionary& other) {
    if (&other == this || !other.isA(qtObjName())) return;
    Kelvo_Dictionary::Copy(other);
    if (_status != noErr) return;
    DicmViews_Rebind(_container, _root, _group);
    _acrNema = static_cast<KelvoDicomDataHeader&>(other)._acrNema;
    setupEncodingRules();
}

void KelvoDicomDataHeader::setObjValue(int32_t element, Kelvo_QTObj* object) {
    KelvoDicomDataSet::setObjValue(element, object);
    if (element == 0x0010) setupEncodingRules();
}

void KelvoDicomDataHeader::flushToBinary(FILE* file, const void*) {
    if (!file) {
        _status = paramErr;
        return;
    }
    const uint32_t flags = kDicomWriteGroupLength; // explicit VR little endian
    KelvoDicomDataSet::flushToBinary(file, &flags);
    std::fflush(file);
}

int32_t KelvoDicomDataHeader::anonymize() {
    setStringValueProperty(0x0016, "kelvodicom62");
    const int32_t first = _status;
    setStringValueProperty(0x0013, "kelvodicom62");
    if (first != noErr) _status = first;
    return _status;
}

void KelvoDicomDataHeader::XFerSyntax(const char* uid) {
    if (!uid) {
        _status = paramErr;
        return;
    }
    setStringValueProperty(0x0010, uid);
    setupEncodingRules();
}

void KelvoDicomDataHeader::Version(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, 0x0001, node, _status);
}

void KelvoDicomDataHeader::VersionDefault() {
    const uint8_t version[2] = {0x00, 0x01};
    Handle bytes = nullptr;
    if (PtrToHand(version, &bytes, 2) != noErr || !bytes) {
        _status = memFullErr;
        return;
    }
    KelvoDicomDataNode node("OB");
    node.Value(bytes, 0);
    DisposeHandle(bytes);
    setProperty(0x0001, "OB", node);
}

void KelvoDicomDataHeader::PrivateInfo(KelvoDicomDataNode* node) {
    if (!HasKey(0x0100)) return;
    DicmViews_SetNode(*this, 0x0102, node, _status);
}

bool KelvoDicomDataHeader::isDataCompressed() {
    if (!hasTransferSyntax()) return false;
    const dicmXferSyntaxInfo* info = DicmDict_XFerSyntax(getStringValueProperty(0x0010));
    return info && (info->flags & kDicmXferEncapsulated) != 0;
}

void KelvoDicomDataHeader::setupEncodingRules() {
    _implicit = _bigEndian = _swap = 0;
    // Not through the virtual validity test: the constructor comes here too.
    if (!hasTransferSyntax()) return;
    bool implicit = false, bigEndian = false;
    DicomUtils_XferSyntaxInfo(getStringValueProperty(0x0010), implicit, bigEndian);
    _implicit = implicit;
    _bigEndian = bigEndian;
    // Hosts are little endian: big-endian values are swapped.
    _swap = bigEndian;
}

KelvoDicomDataHeader* KelvoDicomDataHeader::createACRNemaHeader() {
    auto* header = new KelvoDicomDataHeader();
    header->XFerSyntax(kImplicitLittleEndianUID);
    header->setStringValueProperty(0x0002, kCRImageStorageUID);
    header->_acrNema = 1;
    return header;
}

// ---------------------------------------------------------------------------------------------
// Directory information

KelvoDicomDataFileSet::KelvoDicomDataFileSet() : KelvoDicomDataSet(kFileSetGroup) {
    if (_status == noErr) setUSValueProperty(0x1212, 0);
}

KelvoDicomDataFileSet::KelvoDicomDataFileSet(QTAtomContainer container, QTAtom atom)
    : KelvoDicomDataSet(container, atom) {
    if (_status == noErr && _group != kFileSetGroup)
        DicmViews_EmptyGroup(_container, _root, _group, kFileSetGroup, _status);
}

KelvoDicomDataFileSet::KelvoDicomDataFileSet(const KelvoDicomDataFileSet& other) : KelvoDicomDataSet(other) {}

KelvoDicomDataFileSet& KelvoDicomDataFileSet::operator=(const KelvoDicomDataFileSet& other) {
    if (&other != this) {
        KelvoDicomDataSet::operator=(other);
        DicmViews_Rebind(_container, _root, _group);
    }
    return *this;
}

KelvoDicomDataFileSet::~KelvoDicomDataFileSet() = default;

Kelvo_QTObj* KelvoDicomDataFileSet::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new KelvoDicomDataFileSet(*this);
}

void KelvoDicomDataFileSet::Copy(Kelvo_Dictionary& other) {
    if (&other == this || !other.isA(qtObjName())) return;
    Kelvo_Dictionary::Copy(other);
    if (_status == noErr) DicmViews_Rebind(_container, _root, _group);
}

void KelvoDicomDataFileSet::flushContent(FILE* file, dicmIOformat format, uint32_t flags) {
    if (format != dicmIOformatBinary) {
        KelvoDicomDataSet::flushContent(file, format, flags);
        return;
    }
    if (!file) {
        _status = paramErr;
        return;
    }
    if (!_container) return;
    // The positions describe this write only.
    _nextRecordPosition = 0;
    _lowerLevelPosition = 0;
    KelvoDicomDataNode node;
    QTAtom child = 0;
    while (true) {
        _status = QTNextChildAnyType(_container, _root, child, &child);
        if (_status != noErr || !child) break;
        QTAtomType type = 0;
        QTAtomID id = 0;
        QTGetAtomTypeAndID(_container, child, &type, &id);
        if (id == kDicomZeroID || (type != kDicomElementAtom && type != kDicomSequenceAtom)) continue;
        const uint16_t element = uint16_t(id);
        DicomUtils_WriteTag(file, flags, _group, element);
        if (type == kDicomSequenceAtom) {
            KelvoDicomDataItemGroup sequence(_container, child, KelvoAtomView::borrowed);
            sequence.flushToBinary(file, &flags);
            continue;
        }
        qtAtomNodeHeader header{};
        int32_t headerStatus = 0;
        const bool haveHeader = DicmUtils_NodeInfo(header, _container, child, headerStatus);
        char vr[3] = {header.vr[0], header.vr[1], 0};
        bool haveNode = false;
        if (haveHeader) {
            KelvoDicomDataNode::read(_container, child, vr, node);
            haveNode = node.qtObjIsValid();
        }
        uint8_t f = uint8_t(flags);
        if (haveNode) {
            node.flushToBinary(file, &f);
        } else {
            KelvoDicomDataNode empty(vr[0] ? vr : "UN");
            empty.flushToBinary(file, &f);
        }
        if (element != 0x1400 && element != 0x1420) continue;
        // Only a 32-bit value can be patched in place; anything else leaves no position.
        const int64_t end = ftello(file);
        const int64_t at = haveNode && node.writtenDataSize() == 4 && end >= 4 ? end - 4 : 0;
        (element == 0x1400 ? _nextRecordPosition : _lowerLevelPosition) = at;
    }
    if (child == 0) _status = noErr;
}

int32_t KelvoDicomDataFileSet::anonymize() {
    return KelvoDicomDataSet::anonymize();
}

void KelvoDicomDataFileSet::DirectoryType(const char* type) {
    if (!type || !VUX::VUXDCM::VUXDicomLibrary::isDicomDirectoryTypeValid(type)) {
        _status = kKelvoUnacceptedValue;
        return;
    }
    setStringValueProperty(0x1430, type);
}

void KelvoDicomDataFileSet::Directory(KelvoDicomDataItemGroup* records) {
    if (!records) {
        RemoveKey(0x1220);
        return;
    }
    if (!records->qtObjIsValid() || records->elementID() != 0x1220) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    setObjValue(0x1220, records);
}

void KelvoDicomDataFileSet::isConsistent(bool consistent) {
    setUSValueProperty(0x1212, consistent ? 0 : 0xFFFF);
}

void KelvoDicomDataFileSet::isActive(bool active) {
    setUSValueProperty(0x1410, active ? 0xFFFF : 0);
}

// ---------------------------------------------------------------------------------------------
// Study, patient, acquisition and image

#define KELVO_DICOM_VIEW_COMMON(Class, Group)                                                                \
    Class::Class() : KelvoDicomDataSet(Group) {}                                                             \
    Class::Class(QTAtomContainer container, QTAtom atom) : KelvoDicomDataSet(container, atom) {              \
        if (_status == noErr && _group != Group)                                                             \
            DicmViews_EmptyGroup(_container, _root, _group, Group, _status);                                 \
    }                                                                                                        \
    Class::~Class() = default;                                                                               \
    Kelvo_QTObj* Class::clone() {                                                                            \
        if (!qtObjIsValid()) return nullptr;                                                                 \
        return new Class(*this);                                                                             \
    }                                                                                                        \
    void Class::Copy(Kelvo_Dictionary& other) {                                                              \
        if (&other == this || !other.isA(qtObjName())) return;                                               \
        Kelvo_Dictionary::Copy(other);                                                                       \
        if (_status == noErr) DicmViews_Rebind(_container, _root, _group);                                   \
    }

KELVO_DICOM_VIEW_COMMON(KelvoDicomDataStudy, kStudyGroup)
KELVO_DICOM_VIEW_COMMON(KelvoDicomDataPatient, kPatientGroup)
KELVO_DICOM_VIEW_COMMON(KelvoDicomDataAcquisition, kAcquisitionGroup)
KELVO_DICOM_VIEW_COMMON(KelvoDicomDataImage, kImageGroup)

#undef KELVO_DICOM_VIEW_COMMON

void KelvoDicomDataStudy::CharacterSet(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, 0x0005, node, _status);
}
void KelvoDicomDataStudy::ImageType(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, 0x0008, node, _status);
}
void KelvoDicomDataStudy::PerformingPhysician(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, 0x1050, node, _status);
}

int32_t KelvoDicomDataPatient::anonymize() {
    int32_t first = KelvoDicomDataSet::anonymize();
    const int32_t id = anonymizeIdentifier(*this, 0x0020);
    if (first == noErr) first = id;
    if (HasKey(0x1040)) {
        KelvoDicomDataNode address;
        getProperty(0x1040, address);
        if (const char* text = address.textValue()) {
            std::string value(text);
            DicmUtils_StringAnonymizer(value.data(), "LO");
            // Stored with the element's own VR so that an address of another VR is not refused.
            char vr[3] = {address.VR()[0], address.VR()[1], 0};
            KelvoDicomDataNode node(vr);
            node.strValue(value.c_str());
            setProperty(0x1040, vr, node);
            if (first == noErr) first = _status;
        }
    }
    _status = first;
    return _status;
}

void KelvoDicomDataPatient::Sex(const char* sex) {
    if (!sex) return;
    const char* value = "O";
    if (sex[0] == 'F' || sex[0] == 'f')
        value = "F";
    else if (sex[0] == 'M' || sex[0] == 'm')
        value = "M";
    setStringValueProperty(0x0040, value);
}

void KelvoDicomDataAcquisition::SoftwareVersion(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, 0x1020, node, _status);
}
void KelvoDicomDataAcquisition::LastCalibrationDate(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, 0x1200, node, _status);
}
void KelvoDicomDataAcquisition::LastCalibrationTime(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, 0x1201, node, _status);
}

int32_t KelvoDicomDataImage::anonymize() {
    int32_t first = KelvoDicomDataSet::anonymize();
    const int32_t id = anonymizeIdentifier(*this, 0x0010);
    _status = first != noErr ? first : id;
    return _status;
}

void KelvoDicomDataImage::ImageComments(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, 0x4000, node, _status);
}
