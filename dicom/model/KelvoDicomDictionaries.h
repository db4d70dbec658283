// Tag look-ups: the standard data dictionary first, then the external dictionaries that a host
// program loaded, in load order.
#pragma once

#include "KelvoAtomicsLists.h"
#include "KelvoDicomTypes.h"

#include <cstdio>
#include <memory>
#include <unordered_map>

// One external dictionary: a 'DCGG' atom per group (id = group) holding a 'DCEE' atom per
// element (id = element) whose data is the entry's dicmDictFileRecord.
class KelvoDicomDictionary : public Kelvo_QTObj {
  public:
    static constexpr QTAtomType groupAtom = FOUR_CHAR_CODE("DCGG");
    static constexpr QTAtomType elementAtom = FOUR_CHAR_CODE("DCEE");

    KelvoDicomDictionary();
    KelvoDicomDictionary(const char* path, dicmIOformat format);
    KelvoDicomDictionary(const KelvoDicomDictionary& other);
    KelvoDicomDictionary& operator=(const KelvoDicomDictionary& other);
    ~KelvoDicomDictionary() override;

    const char* qtObjName() const override { return "KelvoDicomDictionary"; }
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override { return const_cast<KelvoDicomDictionary*>(this)->qtObjIsValid(); }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;

    // Reads a text (1) or binary (3) dictionary file. True when the dictionary holds entries
    // afterwards. Statuses: 100 the file cannot be opened; 111 a format other than 1 to 3, an XML
    // file (2, not read), or a text file with lines but none a dictionary line. An empty text
    // file, or one of comments and blank lines, is an empty dictionary with status 0.
    virtual bool loadEntries(const char* path, dicmIOformat format);
    // The entry of a tag, or null. An entry stays valid, unchanged, as long as the dictionary.
    virtual const dicmDictEntry* dicomTagInfo(const AttributeTagRecord& tag);

    const char* description() const { return _description; }
    void description(const char* text);
    int32_t entryCount();

    void _resetFoundEntries() { _found = nullptr; }

  private:
    struct StoredEntry {
        dicmDictFileRecord record;
        dicmDictEntry view;
    };
    bool storeRecord(const dicmDictFileRecord& record);
    // Every line of the file; false when one of them was not a dictionary line (passed over).
    bool readText(FILE* file);
    void readBinary(FILE* file);

    char* _description = nullptr;
    Kelvo_AtomContainer _entries;
    std::unordered_map<uint32_t, std::unique_ptr<StoredEntry>> _stable;
    const dicmDictEntry* _found = nullptr;
};

class KelvoDicomStandardDictionaryUtils {
  public:
    KelvoDicomStandardDictionaryUtils() = delete;

    // The row of a tag: standard first, then the external dictionaries in load order. Every
    // caller passes 0 as `flag`; another value looks up (0000,0000).
    static const dicmDictEntry* dicomTagInfo(const AttributeTagRecord& tag, unsigned char flag = 0);
    static void dicomVRForTag(const AttributeTagRecord& tag, unsigned char flag, char vr[3]);
    static bool dicomTagHasMultipleVR(const AttributeTagRecord& tag);
    // 0, 100 (cannot open) or 111 (unknown format, or a file that yields no entry).
    static int32_t loadExternalDictionary(const char* description, const char* path, dicmIOformat format);
    static int32_t externalDictionaryCount();
    // Forgets every external dictionary (tests and unloading).
    static void unloadExternalDictionaries();
    // The library information block at the head of text (1) and XML (2) dumps.
    static void libraryInfoWrite(FILE* file, dicmIOformat format);

    static bool isDirectoryTypeValid(const char* type);
    static const dicmSOPClassInfo* sopClassInfo(const char* uid);
    static const dicmPhotoInfo* photoInterpretationInfo(const char* name);
    static const dicmVRInfo* vrInfo(const char* vr);
    static uint32_t vrFormat(const char* vr);
    static const dicmXferSyntaxInfo* xferSyntaxByUID(const char* uid);
};

extern "C" const dicmDictEntry* DicmDict_Tag(uint16_t group, uint16_t element, unsigned char flag);
