// Explicit VR little-endian bytes of the files the benchmarks make for themselves: elements
// appended to a byte string, and a Part 10 preamble with its file meta group.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

struct ExplicitElements {
    std::string bytes;

    void u16(uint32_t v) {
        bytes += char(v & 0xFF);
        bytes += char((v >> 8) & 0xFF);
    }
    void u32(uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void text(uint16_t group, uint16_t element, const char* vr, std::string value) {
        if (value.size() & 1) value += std::strcmp(vr, "UI") == 0 ? '\0' : ' ';
        u16(group);
        u16(element);
        bytes.append(vr, 2);
        u16(uint32_t(value.size()));
        bytes += value;
    }
    void word(uint16_t group, uint16_t element, uint16_t value) {
        text(group, element, "US", std::string{char(value & 0xFF), char(value >> 8)});
    }
    // The header of a value with the long form (OB, OW), the value itself following.
    void longHeader(uint16_t group, uint16_t element, const char* vr, uint32_t length) {
        u16(group);
        u16(element);
        bytes.append(vr, 2);
        u16(0);
        u32(length);
    }

    // The preamble, "DICM" and the file meta group of an explicit little-endian file.
    static ExplicitElements fileHead(const char* sopClass, const char* instance, const char* implementation) {
        ExplicitElements meta;
        meta.longHeader(0x0002, 0x0001, "OB", 2);
        meta.bytes += std::string("\0\1", 2);
        meta.text(0x0002, 0x0002, "UI", sopClass);
        meta.text(0x0002, 0x0003, "UI", instance);
        meta.text(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1");
        meta.text(0x0002, 0x0012, "UI", implementation);
        ExplicitElements head;
        head.bytes.assign(128, '\0');
        head.bytes += "DICM";
        head.u16(0x0002);
        head.u16(0x0000);
        head.bytes += "UL";
        head.u16(4);
        head.u32(uint32_t(meta.bytes.size()));
        head.bytes += meta.bytes;
        return head;
    }
};
