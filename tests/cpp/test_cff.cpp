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

// The programs as bytes, part by part: header; Name INDEX ("F"); Top DICT
// INDEX (an optional ROS, then the charset, Encoding and CharStrings offsets,
// each a 3-byte integer); String INDEX; empty global subroutine INDEX; then
// the CharStrings INDEX, the charset and the encoding.
Bytes program(const char* top_dict, const char* strings, const char* rest) {
  return testing::hex(std::string("01000401 000101010246 ") + top_dict + " " + strings + " 0000 " + rest);
}

TEST(Cff, CharsetAndEncoding) {
  // Glyphs: .notdef, A (sid 34), "uni00E9" (sid 391), fi (sid 109); charset
  // format 0; encoding format 0 with codes A, é and a supplement $ -> A.
  Result<CffText> text =
      parse_cff(program("000101010D 1C00350F 1C003C10 1C002911", "0001010108756E6930304539",
                        "0004 01 0102030405 0E0E0E0E  00 0022 0187 006D  80 02 41E9 01 24 0022"));
  ASSERT_TRUE(text);
  EXPECT_FALSE(text->cid_keyed);
  EXPECT_EQ(text->glyph_unicode, (std::vector<uint32_t>{0, 'A', 0xE9, 0xFB01}));
  EXPECT_EQ(text->encoding['A'], uint32_t{'A'});
  EXPECT_EQ(text->encoding[0xE9], 0xE9u);
  EXPECT_EQ(text->encoding['$'], uint32_t{'A'});
  EXPECT_EQ(text->encoding['B'], 0u);

  // Format 2 range longer than the glyph count; the standard encoding (offset 0).
  text = parse_cff(
      program("000101010D 1C00290F 1C000010 1C001F11", "0000", "0003 01 01020304 0E0E0E  02 0022 FFFF"));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->glyph_unicode, (std::vector<uint32_t>{0, 'A', 'B'}));
  EXPECT_EQ(text->encoding[0xAE], 0xFB01u);  // StandardEncoding's fi
  EXPECT_EQ(text->encoding['\''], 0x2019u);
}

TEST(Cff, CidKeyedReadsRos) {
  // ROS: sids 391 ("Adobe"), 392 ("Japan1"), supplement 0.
  Result<CffText> text =
      parse_cff(program("0001010118 1C01871C01881C00000C1E 1C00410F 1C000010 1C003911",
                        "00020101060C41646F62654A6170616E31", "0002 01 010203 0E0E  00 0005"));
  ASSERT_TRUE(text);
  EXPECT_TRUE(text->cid_keyed);
  EXPECT_EQ(text->registry, "Adobe");
  EXPECT_EQ(text->ordering, "Japan1");
}

TEST(Cff, HostileCountsAndOffsets) {
  // A CharStrings INDEX of 65,535 items whose offsets point far past the
  // data; a format 1 charset and encoding of 255 entries each.
  Result<CffText> text = parse_cff(program("000101010D 1C002A0F 1C002E10 1C001F11", "0000",
                                           "FFFF 04 00000001 7FFFFFFF  01 0022 FF  01 FF 00 FF"));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->glyph_unicode.size(), 65535u);
  EXPECT_EQ(text->glyph_unicode[1], uint32_t{'A'});
  // Truncations and other hostile offsets: the fuzz_cff target.
  EXPECT_FALSE(parse_cff(testing::bytes("\x02\x00\x04\x01")));
  EXPECT_FALSE(parse_cff(Bytes{1, 0, 4, 1, 0, 0, 0, 0}));  // no top DICT
}

}  // namespace
}  // namespace vellum
