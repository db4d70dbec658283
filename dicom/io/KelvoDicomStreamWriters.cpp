// The output streams and the text and XML dumps of a tree.
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomDictionaries.h"
#include "KelvoDicomStream.h"

#include <cstring>
#include <string>

namespace {

const char* const kRule = "#========================================================\n";

// The text of a path handed over as a counted array: up to its terminating NUL, or all of it
// when the NUL is missing, so that the stream never reads past the array.
std::string pathOf(const KelvoDataT<char>& path) {
    if (!path.qtObjIsValid()) return {};
    const char* items = path.items();
    return std::string(items, strnlen(items, path.itemCount()));
}

// Each group of the tree, in order, read where it lies: a dump of a large tree holds no second
// copy of it.
template <typename Fn> void forEachGroup(const KelvoDicomDataTree& constTree, Fn fn) {
    auto& tree = const_cast<KelvoDicomDataTree&>(constTree);
    if (!tree.qtObjIsValid() || tree.empty()) return;
    QTAtomContainer c = tree.Dictionary();
    QTAtom child = 0;
    while (QTNextChildAnyType(c, 0, child, &child) == noErr && child) {
        if (DicmUtils_AtomType(c, child) != kDicomGroupAtom) continue;
        KelvoDicomDataSet set(c, child, KelvoAtomView::borrowed);
        fn(set);
    }
}

} // namespace

bool KelvoDicomOutputFile::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomFileStream::isA(name) || std::strcmp(name, "KelvoDicomOutputFile") == 0;
}

KelvoDicomOutputFile::~KelvoDicomOutputFile() {
    // The stream belongs to the file being written: a write never closed leaves no file behind.
    _file.abandon();
    _stream = nullptr;
}

bool KelvoDicomOutputFile::_open() {
    _status = 0;
    _stream = _file.open(pathText()) == noErr ? _file.stream() : nullptr;
    if (!_stream) {
        _file.abandon();
        _status = kKelvoCannotOpenForWriting;
    }
    return _stream != nullptr;
}

void KelvoDicomOutputFile::_close() {
    if (!_stream) return;
    _stream = nullptr;
    if (_status != 0) {
        _file.abandon(); // what failed part way is never put in place
        return;
    }
    if (OSErr err = _file.commit()) _status = err;
}

void KelvoDicomOutputFile::write(const KelvoDicomDataTree& tree) {
    if (!qtObjIsValid()) {
        _status = kKelvoMediaMissing;
        return;
    }
    if (!tree.qtObjIsValid()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    if (tree.readError() != 0) {
        _status = tree.readError(); // what could not be read is not written as if it were whole
        return;
    }
    // A dump over the file it describes would replace the file with its own description.
    if (tree.Path() && PlatformSameFile(tree.Path(), pathText())) {
        _status = paramErr;
        return;
    }
    open();
    if (isActive()) {
        delete _header;
        _header = tree.Header();
        if (_header && _header->qtObjIsValid()) {
            _needSwap = _header->Swap();
            _isImplicit = _header->Implicit();
            _writeHeader();
            _writeDataSet(tree);
        } else {
            _status = kKelvoNothingToWorkOn; // nothing is made of a tree without a header
        }
    }
    int32_t status = _status;
    close();
    if (_status == 0) _status = status;
}

// The stream keeps its own terminated copy of the path, whether the caller's array was owned or
// borrowed.
KelvoDicomOutputFileText::KelvoDicomOutputFileText(const KelvoDataT<char>& path) {
    _streamType = FOUR_CHAR_CODE("TEXT");
    setPath(pathOf(path).c_str());
}

bool KelvoDicomOutputFileText::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomOutputFile::isA(name) || std::strcmp(name, "KelvoDicomOutputFileText") == 0;
}

void KelvoDicomOutputFileText::_writeHeader() {
    std::fputs(kRule, _stream);
    std::fputs("[DICOM]\n", _stream);
    KelvoDicomStandardDictionaryUtils::libraryInfoWrite(_stream, dicmIOformatText);
    std::fputs("[HEADER]\n", _stream);
    std::fputs(kRule, _stream);
    if (_header) _header->flushToText(_stream, 0);
    std::fputs("[HEADER End]\n", _stream);
}

void KelvoDicomOutputFileText::_writeDataSet(const KelvoDicomDataTree& tree) {
    std::fputs(kRule, _stream);
    std::fputs("[DATASET_LIST]\n", _stream);
    std::fputs(kRule, _stream);
    forEachGroup(tree, [this](KelvoDicomDataSet& set) { set.flushToText(_stream, 0); });
    std::fputs("[DATASET_LIST End]\n", _stream);
    std::fputs(kRule, _stream);
    std::fputs("[DICOM End]\n", _stream);
    std::fputs(kRule, _stream);
    std::fflush(_stream);
}

KelvoDicomOutputFileXml::KelvoDicomOutputFileXml(const KelvoDataT<char>& path) {
    _streamType = FOUR_CHAR_CODE("TEXT");
    setPath(pathOf(path).c_str());
}

bool KelvoDicomOutputFileXml::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomOutputFile::isA(name) || std::strcmp(name, "KelvoDicomOutputFileXml") == 0;
}

void KelvoDicomOutputFileXml::_writeHeader() {
    std::fputs("<DICOM>\n", _stream);
    KelvoDicomStandardDictionaryUtils::libraryInfoWrite(_stream, dicmIOformatXML);
    std::fputs("<HEADER>\n", _stream);
    if (_header) _header->flushToXml(_stream, 0);
    std::fputs("</HEADER>\n", _stream);
}

void KelvoDicomOutputFileXml::_writeDataSet(const KelvoDicomDataTree& tree) {
    std::fputs("<DATASET_LIST>\n", _stream);
    forEachGroup(tree, [this](KelvoDicomDataSet& set) { set.flushToXml(_stream, 0); });
    std::fputs("</DATASET_LIST>\n", _stream);
    std::fputs("</DICOM>\n", _stream);
    std::fflush(_stream);
}
