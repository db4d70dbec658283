// Helpers of the string value tests: nodes made as the file reader makes them, and the DICOM
// bytes a value encodes to.
#pragma once

#include "KelvoDicomDataStrings.h"
#include "KelvoDicomUtils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace stringstest {

// A node holding `bytes` as the reader stores an element's value read from a file (a trailing
// padding space dropped).
inline std::unique_ptr<KelvoDicomDataNode> nodeFromFile(const char* vr, const std::string& bytes) {
    auto node = std::make_unique<KelvoDicomDataNode>(vr);
    Handle h = NewHandle(Size(bytes.size()));
    if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    node->AddDicomNodeData(h, uint32_t(bytes.size()), false);
    DisposeHandle(h);
    return node;
}

// The explicit-VR little-endian bytes (VR, length, padded value) of a node.
inline std::string nodeBytes(KelvoDicomDataNode& node) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buffer, &size);
    uint8_t flags = 0;
    node.flushToBinary(f, &flags);
    std::fclose(f);
    std::string out(buffer, size);
    std::free(buffer);
    return out;
}

// The explicit-VR little-endian bytes that a value encodes to.
inline std::string encoded(const KelvoDicomDataElementValue& value) {
    std::unique_ptr<KelvoDicomDataNode> node(value._encodeForDicom());
    return node ? nodeBytes(*node) : std::string("(no node)");
}

// A short explicit-VR header followed by the value bytes.
inline std::string element(const char* vr, const std::string& value) {
    std::string out(vr, 2);
    out += char(value.size() & 0xFF);
    out += char((value.size() >> 8) & 0xFF);
    return out + value;
}

inline std::string joined(const KelvoDicomDataElementValueString& value) {
    std::unique_ptr<KelvoDataT<char>> all(value.concatStringValues());
    return all ? std::string(all->items()) : std::string("(null)");
}

// The texts of value 0 and of every further value.
inline std::vector<std::string> texts(KelvoDicomDataElementValue& value) {
    std::vector<std::string> out;
    const char* first = value.stringValue();
    out.push_back(first ? first : "(null)");
    for (uint32_t i = 0; i + 1 < value.valuesCount(); ++i) {
        const char* text = value.getValue(i)->stringValue();
        out.push_back(text ? text : "(null)");
    }
    return out;
}

} // namespace stringstest
