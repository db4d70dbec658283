// A small typed file for storing blobs: 512 zero bytes, the magic "KELV", then a flattened atom
// container whose root holds a 'DESC' atom (version and document type, big-endian) and one
// 'DATA' atom per node, each with optional flags ('FLGS'), an optional description ('DESC') and
// the payload ('PCKG').
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformAtoms.h"
#include "PlatformTypes.h"

class Kelvo_QTObjDocument : public Kelvo_QTObj {
  public:
    static constexpr uint32_t kDocumentVersion = 2;
    static constexpr uint32_t kHeaderPadding = 512;

    // A new document for writing; type 0 gives -50 and no container.
    explicit Kelvo_QTObjDocument(uint32_t type);
    // Reads the document at `path`.
    explicit Kelvo_QTObjDocument(const char* path);
    Kelvo_QTObjDocument(const Kelvo_QTObjDocument&) = delete;
    Kelvo_QTObjDocument& operator=(const Kelvo_QTObjDocument&) = delete;
    ~Kelvo_QTObjDocument() override;

    const char* qtObjName() const override { return "Kelvo_QTObjDocument"; }
    bool qtObjIsValid() override { return _container != nullptr; }
    bool qtObjIsValid() const override { return _container != nullptr; }

    uint32_t DocType() const { return _type; }
    uint32_t DocVersion() const { return _version; }
    int32_t NodesCount() const { return _nodeCount; }

    // Appends a node holding the payload's bytes, with the flags and the description when given.
    void Doc_NodeData(Handle payload, uint32_t* flags, char* description);
    // Reads node `index` (1-based): a new payload handle (owned by the caller), the flags when
    // the node has them, and a new description (delete[] by the caller) when it has one.
    void Doc_NodeData(Handle* payload, uint32_t* flags, char** description, int16_t index);
    void Doc_NodeDescription(QTAtom atom, char** text);
    // The payload of node `index` as a new atom container, owned by the caller.
    void Doc_NodeDataToAtomContainer(QTAtomContainer* out, uint32_t* flags, char** description,
                                     int16_t index);

    void Doc_Read(const char* path);
    void Doc_Write(const char* path);

  private:
    void disposeContainer();

    QTAtomContainer _container = nullptr;
    uint32_t _type = 0;
    uint32_t _version = kDocumentVersion;
    int32_t _nodeCount = 0;
};
