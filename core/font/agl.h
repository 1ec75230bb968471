// Glyph names to Unicode (a 149-name subset of the Adobe Glyph List plus the
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

enum class BaseEncoding : uint8_t { Windows, Mac, Standard };

// 256 entries, code to Unicode scalar value; 0 means unmapped.
const std::array<uint32_t, 256>& base_encoding(BaseEncoding which);
// "MacRomanEncoding" and "StandardEncoding" select their tables; every other
// name selects the Windows table.
BaseEncoding base_encoding_named(std::string_view name);

}  // namespace vellum
