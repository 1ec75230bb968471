// TrueType cmap reading on hand-built hostile tables (overlapping or runaway
// segment counts, offsets past the end, huge group counts) that must stay
// bounded and read nothing outside the data (truncations: the fuzz_truetype
// target). Symbolic subtables and post names, in fonts built with fontTools,
// are checked end to end in tests/test_fonts.py.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "font/truetype.h"
#include "test_util.h"

namespace vellum {
namespace {

struct Writer {
  Bytes b;
  Writer& u8(uint32_t v) { return b.push_back(static_cast<uint8_t>(v)), *this; }
  Writer& u16(uint32_t v) { return u8(v >> 8).u8(v); }
  Writer& u32(uint32_t v) { return u16(v >> 16).u16(v); }
  Writer& raw(const Bytes& more) { return b.insert(b.end(), more.begin(), more.end()), *this; }
};

// An sfnt whose cmap table holds one (3,1) record with `subtable`, and a
// maxp table when a glyph count is given.
Bytes font(const Bytes& subtable, std::optional<uint32_t> glyphs = std::nullopt) {
  const uint32_t tables = glyphs ? 2 : 1, cmap_size = 12 + static_cast<uint32_t>(subtable.size());
  Writer w;
  w.u32(0x00010000).u16(tables).u16(0).u16(0).u16(0);
  w.u32(0x636D6170).u32(0).u32(12 + 16 * tables).u32(cmap_size);                    // "cmap"
  if (glyphs) w.u32(0x6D617870).u32(0).u32(12 + 16 * tables + cmap_size).u32(6);  // "maxp"
  w.u16(0).u16(1).u16(3).u16(1).u32(12).raw(subtable);
  if (glyphs) w.u32(0x5000).u16(*glyphs);
  return w.b;
}

struct Segment {
  uint32_t start, end, delta;
};
// Format 4 with idRangeOffset 0; `declared` overrides the segment count.
Bytes format4(const std::vector<Segment>& segments, std::optional<uint32_t> declared = std::nullopt) {
  const uint32_t n = declared.value_or(static_cast<uint32_t>(segments.size()));
  Writer w;
  w.u16(4).u16(0).u16(0).u16(2 * n).u16(0).u16(0).u16(0);
  for (const Segment& s : segments) w.u16(s.end);
  w.u16(0);
  for (const Segment& s : segments) w.u16(s.start);
  for (const Segment& s : segments) w.u16(s.delta);
  for (size_t k = 0; k < segments.size(); ++k) w.u16(0);
  return w.b;
}

Bytes format12(const std::vector<std::array<uint32_t, 3>>& groups, uint32_t declared) {
  Writer w;
  w.u16(12).u16(0).u32(0).u32(0).u32(declared);
  for (const auto& g : groups) w.u32(g[0]).u32(g[1]).u32(g[2]);
  return w.b;
}

TEST(TrueType, HostileTablesStayBounded) {
  // The most segments a format 4 can declare (32,767), each covering the
  // whole code space: one walk of 2^16 codes, the first segment winning.
  std::vector<Segment> all(32767, Segment{0, 0xFFFF, 1});
  Result<TrueTypeText> text = parse_truetype(font(format4(all), 3));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->unicode_of_glyph(2), 1u);

  const std::vector<Bytes> hostile = {
      format4({{0x41, 0x41, 0}}, 30000),                             // segment arrays past the end
      format12({{0, 0x10FFFF, 0}}, 0xFFFFFFFF),                       // 2^32 groups declared
      format12({{0x10, 0x20, 0xFFFFFFF0}}, 1),                        // glyph ids overflowing
      Writer().u16(6).u16(0).u16(0).u16(0x41).u16(0xFFFF).u16(1).b,   // format 6 cut short
  };
  for (const Bytes& subtable : hostile) {
    text = parse_truetype(font(subtable));
    ASSERT_TRUE(text);
    EXPECT_LE(text->glyph_unicode.size(), 65536u);
  }
  // Tables and subtables whose offsets point past the end.
  Bytes far = font(format4({{0x41, 0x41, 0}}));
  far[12 + 8] = 0x7F;  // the cmap table's offset
  EXPECT_TRUE(parse_truetype(far));
  EXPECT_FALSE(parse_truetype(testing::bytes("%!PS-AdobeFont")));
}

}  // namespace
}  // namespace vellum
