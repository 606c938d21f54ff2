// UTF-8 of the engine's texts. They come from Python str objects that the
// text conversion accepted, so they are always valid: one decoder and one
// encoder serve every unit.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace morvane::utf8 {

// The code point that starts at `index`; moves `index` past it.
inline char32_t decode(const unsigned char* bytes, std::size_t& index) noexcept {
    const unsigned char lead = bytes[index];
    if (lead < 0x80) {
        index += 1;
        return lead;
    }
    if (lead < 0xE0) {
        index += 2;
        return ((lead & 0x1Fu) << 6) | (bytes[index - 1] & 0x3Fu);
    }
    if (lead < 0xF0) {
        index += 3;
        return ((lead & 0x0Fu) << 12) | ((bytes[index - 2] & 0x3Fu) << 6) | (bytes[index - 1] & 0x3Fu);
    }
    index += 4;
    return ((lead & 0x07u) << 18) | ((bytes[index - 3] & 0x3Fu) << 12) | ((bytes[index - 2] & 0x3Fu) << 6) |
           (bytes[index - 1] & 0x3Fu);
}

// The one code point of `text`, or -1 when it holds none or several.
inline long single_code_point(std::string_view text) noexcept {
    if (text.empty() || text.size() > 4) return -1;
    std::size_t index = 0;
    const char32_t code_point = decode(reinterpret_cast<const unsigned char*>(text.data()), index);
    return index == text.size() ? static_cast<long>(code_point) : -1;
}

// Appends the encoding of a code point.
inline void append(std::string& out, char32_t code_point) {
    const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
    if (code_point < 0x80) {
        out += byte(code_point);
    } else if (code_point < 0x800) {
        out += byte(0xC0 | (code_point >> 6));
        out += byte(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += byte(0xE0 | (code_point >> 12));
        out += byte(0x80 | ((code_point >> 6) & 0x3F));
        out += byte(0x80 | (code_point & 0x3F));
    } else {
        out += byte(0xF0 | (code_point >> 18));
        out += byte(0x80 | ((code_point >> 12) & 0x3F));
        out += byte(0x80 | ((code_point >> 6) & 0x3F));
        out += byte(0x80 | (code_point & 0x3F));
    }
}

}  // namespace morvane::utf8
