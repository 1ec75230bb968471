// Glyph names and base encodings: the table's byte-order binary search, the
// "uni" and "u" forms with their length and scalar-value rules, suffix
// cutting, and the places where the three base tables differ from a naive
// identity mapping.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "font/agl.h"

namespace vellum {
namespace {

constexpr auto none = std::nullopt;

TEST(GlyphName, Resolves) {
  const std::pair<const char*, std::optional<uint32_t>> cases[] = {
      // First and last rows, and neighbours whose order depends on byte
      // comparison (capitals before small letters, prefixes first).
      {"A", 0x41}, {"AE", 0xC6}, {"Oslash", 0xD8}, {"oslash", 0xF8}, {"f", 0x66}, {"ff", 0xFB00}, {"ffl", 0xFB04},
      {"fi", 0xFB01}, {"u", 0x75}, {"zero", 0x30},
      // The full Adobe Glyph List and the TeX names; names of several code points are left out.
      {"afii10017", 0x410}, {"dotlessj", 0x237}, {"visiblespace", 0x2423}, {"dalethatafpatah", none},
      {"", none}, {"a1", none}, {"Zero", none},
      // Suffixes after the first full stop are cut.
      {"a.sc", 0x61}, {"fi.liga.ss01", 0xFB01}, {".notdef", none}, {"uni0041.sc", 0x41}, {"u0041.alt", 0x41},
      // The "uni" form: four hex digits (bytes after them ignored), one leading '+'.
      {"uni00e9", 0xE9}, {"uni00E90301", 0xE9}, {"uni+0E9", 0xE9}, {"uni++E9", none},
      {"uni123", none}, {"uniD800", none}, {"uni00G9", none}, {"uni-0E9", none},
      {"union", 0x222A},  // a glyph-list name before the "uni" form
      {"unio", none},     // "uni" prefix with fewer than 7 bytes: no "u" fallback
      // The "u" form: four to six hex digits, a scalar value.
      {"u00E9", 0xE9}, {"u1F600", 0x1F600}, {"u10FFFF", 0x10FFFF}, {"u110000", none}, {"uD83D", none},
      {"u+0E9", 0xE9}, {"u123", none}, {"u1234567", none},
  };
  for (const auto& [name, unicode] : cases) EXPECT_EQ(glyph_to_unicode(name), unicode) << name;
}

constexpr auto W = BaseEncoding::Windows;
constexpr auto M = BaseEncoding::Mac;
constexpr auto S = BaseEncoding::Standard;

// Where the tables differ from an identity mapping (0: unmapped).
TEST(BaseTable, Entries) {
  const std::tuple<BaseEncoding, uint8_t, uint32_t> cases[] = {
      {W, 0x00, 0},      {W, 0x09, 0x09},   {W, 0x7F, 0x7F},   {W, 0x80, 0x20AC}, {W, 0x81, 0},
      {W, 0x9F, 0x178},  {M, 0x00, 0},      {M, 0x1F, 0x1F},   {M, 0x8E, 0xE9},   {M, 0xA5, 0x2022},
      {M, 0xDB, 0x20AC}, {M, 0xF0, 0xF8FF}, {S, 0x1F, 0},      {S, 0x27, 0x2019}, {S, 0x60, 0x2018},
      {S, 0x7E, 0x7E},   {S, 0x7F, 0},      {S, 0xA1, 0},      {S, 0xE9, 0},
  };
  for (const auto& [table, code, unicode] : cases)
    EXPECT_EQ(base_encoding(table)[code], unicode) << int(table) << " code " << int(code);
  for (int c = 0x80; c <= 0xFF; ++c) EXPECT_NE(base_encoding(M)[c], 0u) << c;  // every Mac high code is mapped
}

TEST(BaseTable, Names) {
  // MacRomanEncoding and StandardEncoding: the /Encoding rows of test_font.cpp.
  for (const char* other : {"WinAnsiEncoding", "MacExpertEncoding", "Identity-H", "", "macromanencoding"})
    EXPECT_EQ(base_encoding_named(other), W) << other;
}

}  // namespace
}  // namespace vellum
