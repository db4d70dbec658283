// Hand-assembled lossless JPEG streams: segments by field, entropy-coded data as a string of bits.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace codectest {

class StreamBuilder {
  public:
    StreamBuilder& raw(std::initializer_list<int> bytes) {
        for (int b : bytes)
            out.push_back(uint8_t(b));
        return *this;
    }
    StreamBuilder& soi() { return raw({0xFF, 0xD8}); }
    StreamBuilder& eoi() { return raw({0xFF, 0xD9}); }
    // A frame header; components are {id, sampling byte}.
    StreamBuilder& sof(int marker, int precision, int height, int width,
                       std::vector<std::pair<int, int>> comps = {{1, 0x11}}, int lengthAdjust = 0) {
        raw({0xFF, marker});
        put16(8 + 3 * int(comps.size()) + lengthAdjust);
        raw({precision});
        put16(height);
        put16(width);
        raw({int(comps.size())});
        for (auto [id, sampling] : comps)
            raw({id, sampling, 0});
        return *this;
    }
    // A Huffman table: counts of codes of length 1-16 and the symbols.
    StreamBuilder& dht(int index, std::vector<int> counts, std::vector<int> values) {
        counts.resize(16, 0);
        raw({0xFF, 0xC4});
        put16(2 + 1 + 16 + int(values.size()));
        raw({index});
        for (int c : counts)
            raw({c});
        for (int v : values)
            raw({v});
        return *this;
    }
    StreamBuilder& dri(int interval) {
        raw({0xFF, 0xDD, 0x00, 0x04});
        put16(interval);
        return *this;
    }
    // A scan header; components are {id, table byte}.
    StreamBuilder& sos(std::vector<std::pair<int, int>> comps, int psv, int pt = 0) {
        raw({0xFF, 0xDA});
        put16(6 + 2 * int(comps.size()));
        raw({int(comps.size())});
        for (auto [id, tables] : comps)
            raw({id, tables});
        return raw({psv, 0, pt});
    }
    StreamBuilder& segment(int marker, std::vector<int> body) {
        raw({0xFF, marker});
        put16(2 + int(body.size()));
        for (int b : body)
            raw({b});
        return *this;
    }
    // Entropy-coded bits ('0' and '1'; anything else is ignored), padded with 1-bits to a byte,
    // FF bytes followed by 00 unless stuffing is off.
    StreamBuilder& bits(const std::string& text, bool stuff = true) {
        int acc = 0, n = 0;
        auto flush = [&] {
            out.push_back(uint8_t(acc));
            if (acc == 0xFF && stuff) out.push_back(0);
            acc = 0;
            n = 0;
        };
        for (char c : text) {
            if (c != '0' && c != '1') continue;
            acc = (acc << 1) | (c - '0');
            if (++n == 8) flush();
        }
        if (n > 0) {
            while (n < 8)
                acc = (acc << 1) | 1, ++n;
            flush();
        }
        return *this;
    }
    StreamBuilder& rst(int n) { return raw({0xFF, 0xD0 + n}); }

    std::vector<uint8_t> out;

  private:
    void put16(int v) { raw({(v >> 8) & 0xFF, v & 0xFF}); }
};

} // namespace codectest
