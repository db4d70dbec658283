// Records and atom types shared by the DICOM model, its reader and its writers.
#pragma once

#include "PlatformAtoms.h"
#include "VUXDicomLib.h"

#include <cstdint>

// A data element tag: group and element, as the toolkit passes it.
struct AttributeTagRecord {
    uint16_t group;
    uint16_t element;
};
static_assert(sizeof(AttributeTagRecord) == sizeof(dataElementTagRecord));

// What the reader knows of an element before its value: tag, VR and value length.
struct dicomNodeDescRecord {
    uint16_t group;
    uint16_t element;
    char vr[2];
    char reserved[2];
    uint32_t length;
};
static_assert(sizeof(dicomNodeDescRecord) == 12);

// Where an element starts in its file and where its value starts.
struct dicomNodeFPosRecord {
    int64_t elementPosition;
    int64_t valuePosition;
};
static_assert(sizeof(dicomNodeFPosRecord) == 16);

struct dataElementNode {
    uint32_t kind;
    dicomNodeDescRecord desc;
    dicomNodeFPosRecord fpos;
};
static_assert(sizeof(dataElementNode) == 32);

// The 'NDHD' atom of an element: VR, value length and file positions (0 when the element did not
// come from a file), stored as this record in host byte order.
struct qtAtomNodeHeader {
    char vr[2];
    uint16_t reserved;
    uint32_t length;
    int64_t elementPosition;
    int64_t valuePosition;
};
static_assert(sizeof(qtAtomNodeHeader) == 24);

constexpr uint32_t kDicomUndefinedLength = 0xFFFFFFFFu;

// Atom types of the DICOM tree.
constexpr QTAtomType kDicomGroupAtom = FOUR_CHAR_CODE("DAST");
constexpr QTAtomType kDicomElementAtom = FOUR_CHAR_CODE("DAEL");
constexpr QTAtomType kDicomNodeHeaderAtom = FOUR_CHAR_CODE("NDHD");
constexpr QTAtomType kDicomNodeDataAtom = FOUR_CHAR_CODE("NDDT");
constexpr QTAtomType kDicomNodeValueAtom = FOUR_CHAR_CODE("NDDD");
constexpr QTAtomType kDicomSequenceAtom = FOUR_CHAR_CODE("SQIT");
constexpr QTAtomType kDicomItemAtom = FOUR_CHAR_CODE("ITEM");
constexpr QTAtomType kDicomMediaFileAtom = FOUR_CHAR_CODE("MDFL");
// Group or element number 0 as an atom id (0 would ask for a new id); sorts behind every real
// number.
constexpr int32_t kDicomZeroID = int32_t(FOUR_CHAR_CODE("NGEZ"));

inline int32_t DicmUtils_AtomIDForNumber(uint16_t number) {
    return number == 0 ? kDicomZeroID : int32_t(number);
}
inline uint16_t DicmUtils_NumberForAtomID(int32_t id) {
    return id == kDicomZeroID ? 0 : uint16_t(id);
}

// The type and id of an atom (0 for an atom that is not there).
inline QTAtomType DicmUtils_AtomType(QTAtomContainer c, QTAtom a) {
    QTAtomType t = 0;
    QTGetAtomTypeAndID(c, a, &t, nullptr);
    return t;
}
inline QTAtomID DicmUtils_AtomID(QTAtomContainer c, QTAtom a) {
    QTAtomID id = 0;
    QTGetAtomTypeAndID(c, a, nullptr, &id);
    return id;
}
