// ToUnicode CMaps: bfchar and bfrange mappings from codes to Unicode text.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "object.h"

namespace vellum {

class CMap {
 public:
  struct Range {
    uint32_t low, high, start;
  };

  static CMap parse(ByteSpan data);  // never fails
  // Text for the code (a new string, possibly empty) or nothing.
  std::optional<std::string> lookup(uint32_t code) const;
  // Append the code's text to `out`; false when the code is unmapped.
  bool lookup_into(uint32_t code, std::string& out) const;

  std::unordered_map<uint32_t, std::string> singles;
  std::vector<Range> ranges;
};

// UTF-16BE bytes to UTF-8 text; unpaired surrogates become U+FFFD.
std::string utf16_be(ByteSpan bytes);

}  // namespace vellum
