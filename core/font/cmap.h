// ToUnicode CMaps: bfchar and bfrange mappings from character codes to
// Unicode text, and the UTF-16BE decoder for their destination strings.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "syntax/object.h"

namespace vellum {

class CMap {
 public:
  // A bfrange with a string destination: low..high maps to start + (code - low).
  struct Range {
    uint32_t low, high, start;
  };

  static CMap parse(ByteSpan data);  // never fails
  // Text for the code (a new string, possibly empty) or nothing.
  std::optional<std::string> lookup(uint32_t code) const;
  // Append the code's text to `out`; false (and `out` unchanged) when the
  // code is unmapped.
  bool lookup_into(uint32_t code, std::string& out) const;

  // Read-only after parse(): the range index below is built from `ranges`.
  std::unordered_map<uint32_t, std::string> singles;
  std::vector<Range> ranges;  // file order

 private:
  // The code space cut into disjoint, sorted segments, each naming the range
  // that wins there (the first in file order whose value is a Unicode scalar
  // value), so a lookup is one binary search however many ranges overlap.
  struct Segment {
    uint32_t low, high;  // inclusive
    uint32_t range;      // index into `ranges`
  };
  void build_index();
  std::vector<Segment> segments_;
  // ranges.size() when the index was built; a mismatch (ranges added by
  // hand) falls back to the file-order walk.
  size_t indexed_ranges_ = 0;
};

// UTF-16BE bytes to UTF-8 text; unpaired surrogates become U+FFFD and a lone
// last byte is a unit of its own.
std::string utf16_be(ByteSpan bytes);

// Append one Unicode scalar value as UTF-8.
void append_utf8(std::string& out, uint32_t scalar);

}  // namespace vellum
