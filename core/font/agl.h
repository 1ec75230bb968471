// Glyph names to Unicode (the Adobe Glyph List, TeX glyph names, and the
// uniXXXX and uXXXX forms) and the three built-in base encodings of simple
// fonts: Windows-1252 (the default), Mac OS Roman and printable ASCII
// standard encoding.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vellum {

// The name's part before its first '.', looked up in the table, then read as
// uniXXXX (four hex digits, extra bytes ignored) or uXXXX..uXXXXXX. Only
// Unicode scalar values are returned.
std::optional<uint32_t> glyph_to_unicode(std::string_view name);

// Glyph names of the font formats' standard tables; empty outside them.
std::string_view cff_standard_string(uint32_t sid);    // CFF string ids 0..390
std::string_view standard_encoding_name(uint8_t code);  // PostScript StandardEncoding
std::string_view mac_glyph_name(uint32_t index);        // TrueType post table, 0..257

// The letters of a Latin ligature U+FB00..U+FB06 ("ffi" for U+FB03), so that
// words read whole; empty for every other character.
std::string_view ligature_letters(uint32_t unicode);

enum class BaseEncoding : uint8_t { Windows, Mac, Standard };

// 256 entries, code to Unicode scalar value; 0 means unmapped.
const std::array<uint32_t, 256>& base_encoding(BaseEncoding which);
// "MacRomanEncoding" and "StandardEncoding" select their tables; every other
// name selects the Windows table.
BaseEncoding base_encoding_named(std::string_view name);

}  // namespace vellum
