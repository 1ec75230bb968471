// CFF charset and encoding reading on hand-built programs: charset formats,
// custom strings, encodings with supplements, the ROS of CID-keyed fonts,
// and hostile counts and offsets (an INDEX of 65,535 items whose offsets run
// past the data, a charset longer than the glyph count). Real fonts built with
// fontTools are checked end to end in tests/test_fonts.py.
#include <gtest/gtest.h>

#include "font/cff.h"
#include "test_util.h"

namespace vellum {
namespace {

// An INDEX with one-byte offsets.
Bytes index_of(const std::vector<Bytes>& items) {
  Bytes out = {static_cast<uint8_t>(items.size() >> 8), static_cast<uint8_t>(items.size())};
  if (items.empty()) return out;
  out.push_back(1);
  uint8_t offset = 1;
  out.push_back(offset);
  for (const Bytes& item : items) out.push_back(offset = static_cast<uint8_t>(offset + item.size()));
  for (const Bytes& item : items) out.insert(out.end(), item.begin(), item.end());
  return out;
}

// A 2-byte integer operand (28) and an operator.
void op(Bytes& dict, std::vector<int> operands, std::vector<uint8_t> code) {
  for (int v : operands) dict.insert(dict.end(), {28, static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
  dict.insert(dict.end(), code.begin(), code.end());
}

// Header, Name, Top DICT (charset, Encoding, CharStrings offsets after the
// fixed part, or ROS), String and global subroutine INDEXes, then `tail`:
// the CharStrings INDEX (at 0), charset (at charset_at), encoding (at encoding_at).
Bytes cff(const std::vector<Bytes>& strings, const Bytes& charstrings, const Bytes& charset, const Bytes& encoding,
          bool ros = false) {
  const Bytes header = {1, 0, 4, 1};
  const Bytes names = index_of({testing::bytes("F")});
  const Bytes string_index = index_of(strings);
  const Bytes subrs = index_of({});
  // The top DICT's size does not depend on the offsets' values (fixed 3-byte operands).
  auto top = [&](int base) {
    Bytes dict;
    if (ros) op(dict, {391, 392, 0}, {12, 30});
    op(dict, {base + static_cast<int>(charstrings.size())}, {15});
    op(dict, {encoding.empty() ? 0 : base + static_cast<int>(charstrings.size() + charset.size())}, {16});
    op(dict, {base}, {17});
    return dict;
  };
  const size_t fixed = header.size() + names.size() + index_of({top(0)}).size() + string_index.size() + subrs.size();
  const Bytes top_index = index_of({top(static_cast<int>(fixed))});
  Bytes out;
  for (const Bytes* part : {&header, &names, &top_index, &string_index, &subrs, &charstrings, &charset, &encoding})
    out.insert(out.end(), part->begin(), part->end());
  return out;
}

Bytes glyphs(size_t n) { return index_of(std::vector<Bytes>(n, Bytes{14})); }

TEST(Cff, CharsetAndEncoding) {
  // Glyphs: .notdef, A (sid 34), "uni00E9" (sid 391), fi (sid 109).
  const Bytes charset = {0, 0, 34, 1, 135, 0, 109};  // format 0: sids 34, 391, 109 (fi)
  const Bytes encoding = {0x80, 2, 0x41, 0xE9, 1, 0x24, 0, 34};  // codes A, é; supplement $ -> A
  Result<CffText> text = parse_cff(cff({testing::bytes("uni00E9")}, glyphs(4), charset, encoding));
  ASSERT_TRUE(text);
  EXPECT_FALSE(text->cid_keyed);
  EXPECT_EQ(text->glyph_unicode, (std::vector<uint32_t>{0, 'A', 0xE9, 0xFB01}));
  EXPECT_EQ(text->encoding['A'], uint32_t{'A'});
  EXPECT_EQ(text->encoding[0xE9], 0xE9u);
  EXPECT_EQ(text->encoding['$'], uint32_t{'A'});
  EXPECT_EQ(text->encoding['B'], 0u);

  // Format 2 range longer than the glyph count; the standard encoding (offset 0).
  text = parse_cff(cff({}, glyphs(3), {2, 0, 34, 0xFF, 0xFF}, {}));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->glyph_unicode, (std::vector<uint32_t>{0, 'A', 'B'}));
  EXPECT_EQ(text->encoding[0xAE], 0xFB01u);  // StandardEncoding's fi
  EXPECT_EQ(text->encoding['\''], 0x2019u);
}

TEST(Cff, CidKeyedReadsRos) {
  Result<CffText> text = parse_cff(cff({testing::bytes("Adobe"), testing::bytes("Japan1")}, glyphs(2), {0, 0, 5}, {}, true));
  ASSERT_TRUE(text);
  EXPECT_TRUE(text->cid_keyed);
  EXPECT_EQ(text->registry, "Adobe");
  EXPECT_EQ(text->ordering, "Japan1");
}

TEST(Cff, HostileCountsAndOffsets) {
  // A CharStrings INDEX of 65,535 items whose offsets point far past the data.
  Bytes huge = {0xFF, 0xFF, 4, 0, 0, 0, 1, 0x7F, 0xFF, 0xFF, 0xFF};
  Result<CffText> text = parse_cff(cff({}, huge, {1, 0, 34, 0xFF}, {0x01, 0xFF, 0x00, 0xFF}));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->glyph_unicode.size(), 65535u);
  EXPECT_EQ(text->glyph_unicode[1], uint32_t{'A'});
  // Truncations and other hostile offsets: the fuzz_cff target.
  EXPECT_FALSE(parse_cff(testing::bytes("\x02\x00\x04\x01")));
  EXPECT_FALSE(parse_cff(Bytes{1, 0, 4, 1, 0, 0, 0, 0}));  // no top DICT
}

}  // namespace
}  // namespace vellum
