// The parts of a TrueType / OpenType font program (a PDF's FontFile2) that
// give text: the cmap table inverted to glyph -> Unicode, the post table's
// glyph names, and the symbolic code -> glyph maps of simple fonts.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "syntax/object.h"

namespace vellum {

struct TrueTypeText {
  // Glyph id -> Unicode scalar value (0 = none): from a Unicode cmap
  // subtable (the lowest code of each glyph), else the post table's names.
  std::vector<uint32_t> glyph_unicode;
  bool has_unicode_cmap = false;
  // One-byte code -> glyph id through the (3,0) subtable (code, or 0xF000 +
  // code, as the PDF standard's section 9.6.6.4 reads it) or else (1,0);
  // empty when the font has neither.
  std::vector<uint16_t> symbolic_glyphs;

  uint32_t unicode_of_glyph(uint32_t gid) const { return gid < glyph_unicode.size() ? glyph_unicode[gid] : 0; }
};

// Never reads outside `data`; work is linear in its size (a cmap covers at
// most the 17 planes once, however its segments overlap). Fails on data that
// is not an sfnt (or TrueType collection, whose first font is read).
Result<TrueTypeText> parse_truetype(ByteSpan data);

}  // namespace vellum
