// The raw form of one data element's value: its VR, the value format derived from it, and the
// values as 'NDDD' atoms of the node's own container (host byte order). The currency between the
// reader, the data sets, the typed values and the writers. A node does not know its tag.
#pragma once

#include "KelvoAtomicsDictionary.h"
#include "KelvoDicomTypes.h"

#include <cstdio>
#include <vector>

class KelvoDicomDataNode : public Kelvo_Dictionary {
  public:
    KelvoDicomDataNode();
    KelvoDicomDataNode(uint16_t group, uint16_t element);
    explicit KelvoDicomDataNode(const char* vr);
    KelvoDicomDataNode(const KelvoDicomDataNode& other);
    KelvoDicomDataNode& operator=(const KelvoDicomDataNode& other);
    ~KelvoDicomDataNode() override;

    const char* qtObjName() const override { return "KelvoDicomDataNode"; }
    bool qtObjIsValid() override { return _container != nullptr && _format != -1; }
    bool qtObjIsValid() const override { return _container != nullptr && _format != -1; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    void flushToText(FILE* file, QTAtom parentAtom) override;
    void flushToXml(FILE* file, QTAtom parentAtom) override;
    // `flags` points to one byte: 0x2 implicit VR, 0x4 big endian (null: 0). Writes the VR and
    // length part of the element header and the value; the caller has written the tag.
    void flushToBinary(FILE* file, const void* flags) override;

    // Gives the node a VR once; -50 for an unknown VR.
    bool init(const char* vr);

    int32_t Format() const { return _format; }
    const char* VR() const { return _vr; }
    bool multipleValuesAllowed() const { return _multipleValuesAllowed; }
    bool hasMultipleValues();
    char paddingByte() const { return _paddingByte; }
    int32_t valueCount();

    // A new handle with a copy of value `index` (from 0), owned by the caller; null when none.
    Handle Value(int32_t index);
    // Replaces value `index` with a copy of the handle's bytes, or appends one when there is no
    // value at that index. The caller's handle is left as it was.
    void Value(Handle handle, int32_t index);
    void Append(Handle handle);
    void Append(Handle handle, uint32_t count);
    void strValue(const char* text);
    // The first value as text (format 1), or null.
    const char* textValue();

    uint16_t usValue(int32_t index);
    int16_t shortValue(int32_t index);
    uint32_t ulValue(int32_t index);
    int32_t longValue(int32_t index);
    float floatValue(int32_t index);
    double doubleValue(int32_t index);
    void atValueGet(AttributeTagRecord* tag, int32_t index);
    // Index -1 appends, 0..count-1 replaces; nothing unless the node has that format.
    void ulValueSet(uint32_t value, int32_t index);
    void usValueSet(uint16_t value, int32_t index);
    void shortValueSet(int16_t value, int32_t index);
    void longValueSet(int32_t value, int32_t index);
    void floatValueSet(float value, int32_t index);
    void doubleValueSet(double value, int32_t index);
    void atValueSet(const AttributeTagRecord* tag, int32_t index);
    // Position from 1; a short or missing value zeroes `out` for the number formats.
    void numberGet(int32_t position, void* out, uint32_t size);
    // Position 0 appends; 1..count replaces.
    void numberSet(int32_t position, const void* value);

    // The bytes of all values; for text, rounded down to even (the NUL is not written).
    uint32_t dataBinarySize();
    // What flushToBinary writes as the value length: dataBinarySize() with an odd OB or UN value
    // counted with the padding byte that writeBinaryData adds.
    uint32_t writtenDataSize();
    // What writtenDataSize() answers for a node read (see read) from `element` with `vr`, and its
    // value count, found where the values lie; false where that node would be invalid.
    static bool writtenDataSizeOf(QTAtomContainer container, QTAtom element, const char* vr, uint32_t& size,
                                  int32_t& valueCount);
    // writtenDataSize() plus the explicit-VR header; 0 for an invalid node.
    int32_t fullBinarySize();

    // Stores raw value bytes as values, by format; `swap` converts from the other byte order.
    int32_t AddDicomNodeData(Handle handle, uint32_t count, bool swap);
    void writeBinaryData(FILE* file, bool swap);

    // Fill `node` from a file, a value length bounded by what remains of the file (`fileSize`
    // when the caller knows it, else the file's size now).
    static void read(FILE* file, const dicomNodeDescRecord& desc, const dicomNodeFPosRecord& fpos, bool swap,
                     KelvoDicomDataNode& node, int64_t fileSize = -1);
    static void read(FILE* file, const dataElementNode& element, bool swap, KelvoDicomDataNode& node);
    // What read() and DicmUtils_DicomNodeAddData do together, without a node between them: the
    // value (of a length above 0) read from the file as 'NDDT' values of `elementAtom`. `buffer`
    // is the caller's, kept from one element to the next.
    static int32_t readInto(FILE* file, const dicomNodeDescRecord& desc, const dicomNodeFPosRecord& fpos,
                            bool swap, QTAtomContainer container, QTAtom elementAtom, int64_t fileSize,
                            std::vector<uint8_t>& buffer);
    // Fill `node` from an element atom's 'NDDT' values, with the given VR.
    static void read(QTAtomContainer container, QTAtom elementAtom, const char* vr, KelvoDicomDataNode& node);
    static void read(Kelvo_AtomCoord& element, const char* vr, KelvoDicomDataNode& node);

  private:
    static OSErr addValues(QTAtomContainer container, QTAtom parent, int32_t format, const char* vr,
                           uint8_t* bytes, size_t size, uint32_t count, bool swap);
    void setVR(const dicmVRInfo* info);
    int32_t valueSizeForFormat() const;
    QTAtom valueAtom(int32_t index);
    bool isNumberFormat() const;

    char _vr[3] = {0, 0, 0};
    int32_t _format = -1;
    char _separator = 0;
    bool _multipleValuesAllowed = false;
    char _paddingByte = ' ';
};

// An element atom's 'NDHD' header; false (and a zeroed header) when it has none.
bool DicmUtils_NodeInfo(Kelvo_AtomCoord& element, qtAtomNodeHeader& header, int32_t& status);
bool DicmUtils_NodeInfo(qtAtomNodeHeader& header, QTAtomContainer container, QTAtom parentAtom,
                        int32_t& status);
// Puts a node's values under an element atom's 'NDDT' child; returns that atom (0 on failure).
QTAtom DicmUtils_DicomNodeAddData(QTAtomContainer container, QTAtom elementAtom, KelvoDicomDataNode& node,
                                  int32_t& status);

// Debug trace of nodes, not used in normal operation.
FILE* DicomUtils_DebugTrace(const char* path);
void DicomUtils_DebugPrintNodeInfo(FILE* file, const dicomNodeDescRecord& desc,
                                   const dicomNodeFPosRecord* fpos);
