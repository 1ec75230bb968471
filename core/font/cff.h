// The parts of a Compact Font Format program (a PDF's FontFile3 of subtype
// Type1C or CIDFontType0C) that give text: the charset (glyph names, or CIDs
// in a CID-keyed font), the built-in encoding and the ROS naming a CID-keyed
// font's character collection.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "syntax/object.h"

namespace vellum {

struct CffText {
  bool cid_keyed = false;
  std::string registry, ordering;  // CID-keyed fonts: the ROS operator
  // Name-keyed fonts: glyph id -> Unicode through the glyph names (0 = none).
  std::vector<uint32_t> glyph_unicode;
  // Name-keyed fonts: the built-in encoding, code -> Unicode (0 = none).
  std::array<uint32_t, 256> encoding{};
};

// Reads the first font of the program. Never reads outside `data`; work is
// linear in its size and the glyph count. Fails when the header, the INDEXes
// before the top DICT or the top DICT itself are unreadable.
Result<CffText> parse_cff(ByteSpan data);

}  // namespace vellum
