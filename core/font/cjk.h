// Text of CID-keyed fonts without a ToUnicode map: the four Adobe CJK
// character collections (CID to Unicode) and the predefined CMaps a Type0
// font names as its /Encoding (code-space ranges splitting a string into
// codes, and codes to CIDs). The data is Adobe's published CMap resources,
// compacted by tools/gen_font_tables.py into cjk_tables.inc.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "syntax/object.h"

namespace vellum {

enum class Collection : uint8_t { None, Japan1, GB1, CNS1, Korea1 };

// The collection an /Ordering names (registry Adobe); None for any other.
Collection collection_named(std::string_view registry, std::string_view ordering);
// The character of a CID of the collection; 0 when it has none.
uint32_t collection_unicode(Collection collection, uint32_t cid);
// The lowest CID of the collection whose character is `unicode`; 0 when none.
uint32_t collection_cid(Collection collection, uint32_t unicode);

// A predefined CMap, by name (its vertical form reads as its horizontal one).
class PredefinedCMap {
 public:
  enum class Kind : uint8_t { Identity, Unicode, Legacy };
  struct CodeRange {
    uint8_t size;  // bytes, 1..4
    uint8_t low[4], high[4];
  };
  struct CidRun {
    uint32_t low, high, cid;  // codes low..high map to cid + (code - low)
  };

  Kind kind = Kind::Identity;
  Collection collection = Collection::None;
  std::vector<CodeRange> spaces;  // Legacy and Unicode (UTF-16) kinds
  std::vector<CidRun> runs;       // Legacy: sorted by low, disjoint

  // The code starting at s[i] (i < s.size()) and its length in bytes: the
  // first code-space range matching the bytes; a byte sequence no range
  // matches is one code of one byte, as is a lone trailing byte.
  size_t next_code(ByteSpan s, size_t i, uint32_t& code) const;
  // The CID of a code (0, the .notdef CID, when unmapped).
  uint32_t cid(uint32_t code, size_t length) const;
  // Unicode kind: the character a code stands for (UTF-16 unit or pair).
  static uint32_t unicode_of_code(uint32_t code, size_t length);
};

// nullptr for names that are not predefined CMaps known here.
const PredefinedCMap* predefined_cmap(std::string_view name);

}  // namespace vellum
