// Font loading and string decoding: the interval width map against a
// brute-force model (its huge ranges through /W below), /Widths and /W
// walking, text and advance of shown strings (/Encoding with /Differences,
// ToUnicode maps, broken entries), the prepared one-byte table against the
// lookups, and the per-document font cache.
#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "syntax/cos.h"
#include "font/font.h"
#include "pdf_fixture.h"

namespace vellum {
namespace {

using namespace std::string_literals;
using testing::PdfFixture;

// An in-memory document whose object 5 is the font dictionary under test.
struct Obj {
  uint32_t num;
  std::string body;                       // dictionary entries for a stream
  std::optional<std::string> stream_data;
};

PdfFixture with_font(const std::string& font, const std::vector<Obj>& extra) {
  PdfFixture f = PdfFixture::one_page("");
  f.object(5, font);
  for (const Obj& o : extra) o.stream_data ? f.stream(o.num, o.body, *o.stream_data) : f.object(o.num, o.body);
  return f;
}

struct Doc : testing::OpenFixture {
  explicit Doc(const std::string& font, const std::vector<Obj>& extra = {}) : OpenFixture(with_font(font, extra)) {}
  Font font() const { return load_font(resolver(), dict(5)); }
};

// ------------------------------------------------------------------ WidthMap

// Random inserts over a small code space (across the one-byte boundary),
// checked code by code against an array that applies each insert literally,
// before and after the lookup index is built.
TEST(WidthMap, LaterInsertsOverrideExactlyTheirCodes) {
  std::mt19937 rng(7);
  constexpr uint32_t kSpace = 300;
  for (int round = 0; round < 200; ++round) {
    WidthMap m;
    std::vector<std::optional<double>> model(kSpace);
    for (int i = 0; i < 25; ++i) {
      uint32_t a = rng() % kSpace, b = rng() % kSpace;
      if (a > b) std::swap(a, b);
      if (rng() % 3 == 0) b = a;
      double w = static_cast<double>(i + 1);
      if (b == a && rng() % 2) {
        m.insert(a, w);
      } else {
        m.insert_range(a, b, w);
      }
      for (uint32_t c = a; c <= b; ++c) model[c] = w;
      for (uint32_t c = 0; c < kSpace; ++c) ASSERT_EQ(m.find(c), model[c]) << "round " << round << " code " << c;
    }
    m.build_index();
    for (uint32_t c = 0; c < kSpace; ++c) ASSERT_EQ(m.find(c), model[c]) << "indexed, round " << round << " code " << c;
    EXPECT_EQ(m.find(kSpace + 1000), std::nullopt);
  }
}

// -------------------------------------------------------------------- widths

struct WidthCase {
  const char* name;
  std::string font;
  std::vector<Obj> extra;
  double default_width;
  std::map<uint32_t, double> widths;  // code -> expected width (default included)
};

const std::string kType0 = "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [10 0 R] >>";
Obj cid_font(const std::string& entries) { return {10, "<< /Type /Font /Subtype /CIDFontType2 " + entries + " >>", {}}; }

const WidthCase kWidths[] = {
    {"first_char_not_integer", "<< /Subtype /Type1 /FirstChar 32.0 /Widths [100] >>", {}, 0.5, {{0, 0.1}, {32, 0.5}}},
    {"non_numbers_take_their_code", "<< /Subtype /Type1 /FirstChar 65 /Widths [100 9 0 R /x 400] >>",
      {{9, "777", {}}}, 0.5, {{65, 0.1}, {66, 0.5}, {67, 0.5}, {68, 0.4}}},
    {"negative_first_char", "<< /Subtype /Type1 /FirstChar -1 /Widths [100 200] >>", {}, 0.5,
      {{0, 0.2}, {0xFFFFFFFF, 0.5}}},
    // A one-byte font shows codes 0..255 only; entries beyond are not read.
    {"codes_past_255_not_read", "<< /Subtype /Type1 /FirstChar 255 /Widths [100 200] >>", {}, 0.5,
      {{255, 0.1}, {256, 0.5}, {0, 0.5}}},
    {"first_char_near_int64_max",
      "<< /Subtype /Type1 /FirstChar 9223372036854775807 /Widths [100 200] >>", {}, 0.5, {{0, 0.5}}},
    {"non_finite_widths_ignored", "<< /Subtype /Type1 /Widths [-inf +nan -INF 300] >>", {}, 0.5,
      {{0, 0.5}, {1, 0.5}, {2, 0.5}, {3, 0.3}}},
    {"no_subtype_is_simple", "<< /Widths [300] >>", {}, 0.5, {{0, 0.3}}},
    // Both forms of /W entries are read in the rows below, around the broken ones.
    {"non_finite_dw_and_w", kType0, {cid_font("/DW -inf /W [ 1 [+nan] 2 3 +inf 4 [500] ]")}, 1.0,
      {{1, 1.0}, {2, 1.0}, {3, 1.0}, {4, 0.5}}},
    {"first_above_last", kType0, {cid_font("/W [ 5 3 700 ]")}, 1.0, {{3, 1.0}, {4, 1.0}, {5, 1.0}}},
    {"stops_at_name", kType0, {cid_font("/W [ 5 [600] /x 7 8 ]")}, 1.0, {{5, 0.6}, {7, 1.0}, {8, 1.0}}},
    {"malformed_triples_skipped_whole", kType0, {cid_font("/W [ 1 2 /x 3 3 300 5 6.0 500 7 7 200 ]")}, 1.0,
      {{1, 1.0}, {2, 1.0}, {3, 0.3}, {5, 1.0}, {7, 0.2}}},
    {"dangling_first_stops", kType0, {cid_font("/W [ 1 [100] 4 ]")}, 1.0, {{1, 0.1}, {4, 1.0}}},
    // The whole code space is one span, whatever the count of codes.
    {"whole_code_space", kType0, {cid_font("/W [ 0 4294967295 400 7 [900] ]")}, 1.0,
      {{0, 0.4}, {7, 0.9}, {8, 0.4}, {0xFFFFFFFF, 0.4}}},
    {"range_clamped_to_code_space", kType0, {cid_font("/W [ -5 2 300 4294967290 9999999999999 200 ]")}, 1.0,
      {{0, 0.3}, {2, 0.3}, {3, 1.0}, {0xFFFFFFF9, 1.0}, {0xFFFFFFFA, 0.2}, {0xFFFFFFFF, 0.2}}},
    {"w_by_reference", kType0, {cid_font("/W 11 0 R"), {11, "[ 3 [250] ]", {}}}, 1.0, {{3, 0.25}}},
    {"descendants_by_reference", "<< /Subtype /Type0 /DescendantFonts 12 0 R >>",
      {cid_font("/DW 500"), {12, "[10 0 R]", {}}}, 0.5, {{1, 0.5}}},
    {"dangling_descendant", "<< /Subtype /Type0 /DescendantFonts [ 99 0 R ] >>", {}, 1.0, {{1, 1.0}}},
    {"only_first_descendant", "<< /Subtype /Type0 /DescendantFonts [10 0 R 11 0 R] >>",
      {cid_font("/DW 300"), {11, "<< /DW 900 /W [1 [100]] >>", {}}}, 0.3, {{1, 0.3}}},
};

TEST(Widths, PerCode) {
  for (const WidthCase& tc : kWidths) {
    SCOPED_TRACE(tc.name);
    Doc doc(tc.font, tc.extra);
    Font font = doc.font();
    EXPECT_DOUBLE_EQ(font.default_width, tc.default_width);
    for (auto [code, want] : tc.widths)
      EXPECT_DOUBLE_EQ(font.widths.find(code).value_or(font.default_width), want) << "code " << code;
  }
}

// ---------------------------------------------------------------- show_into

// Text and advance of a shown string: encodings (base tables, /Differences,
// broken entries), ToUnicode maps, CMaps, spacing and scaling.
struct ShowCase {
  const char* name;
  std::string font;
  std::vector<Obj> extra;
  std::string shown, text;
  double advance, tc = 0, tw = 0, tfs = 1, th = 1;
};

const std::string kSimple = "<< /Type /Font /Subtype /Type1 >>";
const std::string kType0Bare = "<< /Type /Font /Subtype /Type0 >>";
// A ToUnicode stream holding `body` (the CMap's prelude changes nothing: test_cmap).
Obj to_unicode(const std::string& body) { return {10, "", body}; }
std::string type0_to_unicode(const std::string& entry) {
  return "<< /Subtype /Type0 /DescendantFonts [10 0 R] /ToUnicode " + entry + " >>";
}
const std::string kUtf16 = "\x00W\x01\x41\xD8\x00"s;
std::string encoded(const std::string& encoding) { return "<< /Subtype /Type1 /Encoding " + encoding + " >>"; }

const ShowCase kShows[] = {
    {"simple_word_spacing", kSimple, {}, "A B", "A B", 20, 1, 2, 10},
    {"horizontal_scaling", kSimple, {}, "A B", "A B", 10, 1, 2, 10, 0.5},
    {"type0_no_to_unicode", kType0Bare, {}, "A B", "", 22, 1, 2, 10},
    {"type0_space_code_no_word_spacing", kType0Bare, {}, "\x00\x20"s, "", 10, 0, 5, 10},
    {"simple_widths_used", "<< /Subtype /Type1 /FirstChar 65 /Widths [1000] >>", {}, "AB", "AB", 15, 0, 0, 10},
    {"windows_by_default", kSimple, {}, "\x80\x81\xE9\x09", "\xE2\x82\xAC\xC3\xA9\t", 2},
    {"differences", encoded("<< /Differences [ 65 /B /C 97 /uni0041 ] >>"), {}, "ABCab\x80", "BCCAb\xE2\x82\xAC", 3},
    {"differences_past_255", encoded("<< /Differences [ 250 /a /b /c /d /e /f /g ] >>"), {}, "\xFA\xFF\x00"s, "af",
     1.5},
    {"negative_code_is_zero", encoded("<< /Differences [ -5 /A ] >>"), {}, "\x00\x01"s, "A\x01", 1},
    {"huge_code_then_reset", encoded("<< /Differences [ 9223372036854775807 /A /B 66 /C ] >>"), {}, "\x00\x41\x42"s,
     "AC", 1.5},
    {"unknown_name_keeps_base", encoded("<< /Differences [ 40 /g123 /B 128 /g123 ] >>"), {}, "()\x80", "(B\xE2\x82\xAC",
     1.5},
    {"real_neither_moves_nor_consumes", encoded("<< /Differences [ 40 1.5 /B (x) [1] /C ] >>"), {}, "()", "BC", 1},
    {"base_mac_with_differences", encoded("<< /BaseEncoding /MacRomanEncoding /Differences [ 65 /B ] >>"), {}, "A\x8E",
     "B\xC3\xA9", 1},
    {"base_not_a_name", encoded("<< /BaseEncoding (MacRomanEncoding) >>"), {}, "\x8E", "\xC5\xBD", 0.5},
    {"dictionary_by_reference", encoded("10 0 R"),
     {{10, "<< /BaseEncoding /StandardEncoding /Differences [ 1 /fi ] >>", {}}},
     "\x01'\x80", "fi\xE2\x80\x99", 1.5},
    {"differences_by_reference_ignored", encoded("<< /Differences 10 0 R >>"), {{10, "[ 65 /B ]", {}}}, "A", "A", 0.5},
    {"stream_encoding", encoded("10 0 R"), {{10, "/Differences [ 65 /B ]", ""s}}, "A\x80", "B\xE2\x82\xAC", 1},
    {"dangling_reference", encoded("99 0 R"), {}, "A\x80", "A\xE2\x82\xAC", 1},
    {"to_unicode_overrides_encoding", "<< /Subtype /Type1 /ToUnicode 10 0 R >>",
      {to_unicode("2 beginbfchar <41> <0061> <42> <> endbfchar")}, "ABC", "aC", 1.5},
    {"type0_to_unicode", "<< /Subtype /Type0 /ToUnicode 10 0 R /DescendantFonts [11 0 R] >>",
      {to_unicode("1 beginbfrange <0003> <0005> <0041> endbfrange"), {11, "<< /DW 600 /W [4 [200]] >>", {}}},
      "\x00\x03\x00\x04\x00\x09"s, "AB", 14, 0, 0, 10},
    {"type0_odd_length_last_byte", "<< /Subtype /Type0 /ToUnicode 10 0 R >>",
      {to_unicode("1 beginbfchar <0102> <0058> <03> <0059> endbfchar")}, "\x01\x02\x03"s, "XY", 2},
    // 90ms-RKSJ-H: 'A' is one byte (CID 264), U+3042 two (CID 843), the space
    // one byte (CID 231, default width, word spacing); text from Adobe-Japan1.
    {"predefined_cmap_splits_codes", "<< /Subtype /Type0 /Encoding /90ms-RKSJ-V /DescendantFonts [11 0 R] >>",
      {{11, "<< /DW 1000 /W [264 [500] 843 [800]] >>", {}}}, "A\x82\xA0 ", "A\xE3\x81\x82 ", 25, 0, 2, 10},
    // Ligatures in ToUnicode maps read as letters (single mappings, a range,
    // and inside a longer destination); from glyph names: tests/test_fonts.py.
    {"to_unicode_ligatures_expanded", "<< /Subtype /Type1 /ToUnicode 10 0 R >>",
      {to_unicode("2 beginbfchar <01> <FB01> <02> <0041FB060042> endbfchar "
                  "1 beginbfrange <03> <04> <FB03> endbfrange")},
      "\x01\x02\x03\x04", "fiAstBffiffl", 2},
    // Broken ToUnicode entries: the font decodes through its encoding.
    {"to_unicode_name", "<< /Subtype /Type1 /ToUnicode /Identity-H >>", {}, "A\x80", "A\xE2\x82\xAC", 1},
    {"to_unicode_undecodable", "<< /Subtype /Type1 /ToUnicode 10 0 R >>",
      {{10, "/Filter /NoSuchFilter", "1 beginbfchar <41> <0061> endbfchar"}}, "A\x80", "A\xE2\x82\xAC", 1},
    {"to_unicode_garbage", "<< /Subtype /Type1 /ToUnicode 10 0 R >>", {{10, "", "\x01\xff)(<<[[ garbage"s}}, "A\x80",
     "A\xE2\x82\xAC", 1},
    // A Type0 font whose /ToUnicode names an identity CMap (either) reads its codes as
    // UTF-16 units (W, U+0141, a lone surrogate); a stream, when there is one, still wins.
    {"identity_v_name", type0_to_unicode("/Identity-V"), {cid_font("")}, kUtf16, "W\xC5\x81", 3},
    {"identity_by_reference", type0_to_unicode("9 0 R"), {cid_font(""), {9, "/Identity-H", {}}}, kUtf16, "W\xC5\x81",
     3},
    {"identity_not_a_cmap_name", type0_to_unicode("/Identity"), {cid_font("")}, kUtf16, "", 3},
    {"stream_beats_identity", type0_to_unicode("9 0 R"),
     {cid_font(""), {9, "", "1 beginbfchar <0057> <0061> endbfchar"}}, kUtf16, "a", 3},
};

TEST(ShowInto, TextAndAdvance) {
  for (const ShowCase& tc : kShows) {
    SCOPED_TRACE(tc.name);
    Doc doc(tc.font, tc.extra);
    Font font = doc.font();
    std::string out = "<";
    double advance = font.show_into(as_bytes(tc.shown), out, tc.tc, tc.tw, tc.tfs, tc.th);
    EXPECT_EQ(out, "<" + tc.text);
    EXPECT_DOUBLE_EQ(advance, tc.advance);
  }
}

// A prepared one-byte font reads each code's text and width from a table;
// random fonts (ToUnicode texts from empty to longer than a table entry
// holds, code points outside Unicode in the encoding, absent widths) must
// give the same text and the same advance, bit for bit, as the lookups.
TEST(ShowInto, PreparedTableMatchesLookups) {
  std::mt19937 rng(1234);
  auto pick = [&](uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); };
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    Font plain;
    for (uint32_t& unicode : plain.encoding) {
      const uint32_t kinds[] = {0, 0x20 + pick(0x60), pick(0x110000), 0xD800 + pick(0x800), 0x110000 + pick(1000)};
      unicode = kinds[pick(5)];
    }
    for (int i = 0, n = static_cast<int>(pick(40)); i < n; ++i) plain.widths.insert(pick(300), pick(2000) / 1000.0);
    plain.default_width = pick(1000) / 1000.0;
    if (pick(3) != 0) {
      auto to_unicode = std::make_shared<CMap>();
      for (int i = 0; i < 60; ++i) {
        std::string& text = to_unicode->singles[pick(256)];
        text.clear();
        for (uint32_t k = 0, len = pick(3) == 0 ? pick(12) : 1; k < len; ++k) append_utf8(text, 0x41 + pick(0x800));
      }
      to_unicode->ranges.push_back({0x80, 0xBF, 0x4E00});
      plain.to_unicode = to_unicode;
    }
    Font prepared = plain;
    prepared.prepare();
    std::string shown;
    for (uint32_t i = 0, n = pick(3000); i < n; ++i) shown.push_back(static_cast<char>(pick(256)));
    const double tc = pick(100) / 10.0 - 5, tw = pick(100) / 10.0 - 5, tfs = pick(400) / 10.0, th = pick(200) / 100.0;
    std::string want = "<", got = "<";
    const double want_advance = plain.show_into(as_bytes(shown), want, tc, tw, tfs, th);
    const double got_advance = prepared.show_into(as_bytes(shown), got, tc, tw, tfs, th);
    ASSERT_EQ(got, want);
    ASSERT_EQ(std::bit_cast<uint64_t>(got_advance), std::bit_cast<uint64_t>(want_advance));
  }
}

// ------------------------------------------------------------ font map, cache

TEST(LoadFonts, ResourceShapes) {
  Doc doc("<< /Subtype /Type1 >>",
          {{6, "<< /Subtype /Type0 >>", {}},
           {7, "<< /F1 5 0 R /F2 6 0 R /Missing 99 0 R /Num 3 /Direct << /Subtype /Type1 /Widths [100] >> >>", {}},
           {20, "<< /Font 7 0 R >>", {}},
           {22, "<< /ProcSet [/PDF] >>", {}},
           {23, "<< /Font 99 0 R >>", {}},
           {24, "<< /Font /F1 >>", {}}});
  const Resolver& r = doc.resolver();

  FontMap fonts = load_fonts(r, doc.dict(20));
  ASSERT_EQ(fonts.size(), 3u);  // the dangling and the non-dictionary entries are left out
  EXPECT_FALSE(fonts.at("F1")->two_byte);
  EXPECT_TRUE(fonts.at("F2")->two_byte);
  EXPECT_EQ(fonts.at("Direct")->widths.find(0), 0.1);

  for (uint32_t without_fonts : {22u, 23u, 24u}) EXPECT_TRUE(load_fonts(r, doc.dict(without_fonts)).empty());
}

TEST(LoadFonts, CacheSharesFontObjectsAcrossPages) {
  Doc doc("<< /Subtype /Type1 /ToUnicode 10 0 R /FirstChar 65 /Widths [700] >>",
          {to_unicode("1 beginbfchar <41> <0061> endbfchar"),
           {20, "<< /Font << /F1 5 0 R /D << /Subtype /Type1 >> >> >>", {}},
           {21, "<< /Font << /G 5 0 R /D << /Subtype /Type1 >> >> >>", {}}});
  FontCache cache;
  FontMap first = load_fonts(doc.resolver(), doc.dict(20), &cache);
  FontMap second = load_fonts(doc.resolver(), doc.dict(21), &cache);
  EXPECT_EQ(first.at("F1").get(), second.at("G").get());  // parsed once
  EXPECT_NE(first.at("D").get(), second.at("D").get());   // direct fonts are not cached
  EXPECT_EQ(cache.by_object.size(), 1u);
}

}  // namespace
}  // namespace vellum
