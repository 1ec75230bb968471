// Glyph names and base encodings: the table's byte-order binary search, the
// "uni" and "u" forms with their length and scalar-value rules, suffix
// cutting, and the places where the three base tables differ from a naive
// identity mapping.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "font/agl.h"

namespace vellum {
namespace {

struct NameCase {
  const char* name;
  std::optional<uint32_t> unicode;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class GlyphName : public ::testing::TestWithParam<NameCase> {};

TEST_P(GlyphName, Resolves) { EXPECT_EQ(glyph_to_unicode(GetParam().name), GetParam().unicode); }

INSTANTIATE_TEST_SUITE_P(
    Table, GlyphName,
    ::testing::Values(
        // First and last rows, and neighbours whose order depends on byte
        // comparison (capitals before small letters, prefixes first).
        NameCase{"A", 0x41}, NameCase{"AE", 0xC6}, NameCase{"Oslash", 0xD8}, NameCase{"oslash", 0xF8},
        NameCase{"zero", 0x30}, NameCase{"f", 0x66}, NameCase{"ff", 0xFB00}, NameCase{"ffl", 0xFB04},
        NameCase{"fi", 0xFB01}, NameCase{"minus", 0x2212}, NameCase{"nbspace", 0xA0},
        NameCase{"quotesinglbase", 0x201A}, NameCase{"u", 0x75},
        // The full Adobe Glyph List and the TeX names.
        NameCase{"Eacute", 0xC9}, NameCase{"dotlessi", 0x131}, NameCase{"fraction", 0x2044},
        NameCase{"afii10017", 0x410}, NameCase{"circumflex", 0x2C6}, NameCase{"dotlessj", 0x237},
        NameCase{"visiblespace", 0x2423}, NameCase{"zeta", 0x3B6}, NameCase{"dalethatafpatah", std::nullopt},
        // Not in the table.
        NameCase{"", std::nullopt}, NameCase{"a1", std::nullopt}, NameCase{"Zero", std::nullopt},
        // Suffixes after the first full stop are cut.
        NameCase{"a.sc", 0x61}, NameCase{"a.alt2", 0x61}, NameCase{"fi.liga.ss01", 0xFB01},
        NameCase{".notdef", std::nullopt}, NameCase{"uni0041.sc", 0x41}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(
    Forms, GlyphName,
    ::testing::Values(
        NameCase{"uniFB01", 0xFB01}, NameCase{"uni00E9", 0xE9}, NameCase{"uni00e9", 0xE9},
        NameCase{"uni00E90301", 0xE9},  // bytes after the four digits are ignored
        NameCase{"uni+0E9", 0xE9},      // one leading '+' is a sign
        NameCase{"uni++E9", std::nullopt}, NameCase{"uni12", std::nullopt}, NameCase{"uni123", std::nullopt},
        NameCase{"uniD800", std::nullopt}, NameCase{"uniDFFF", std::nullopt}, NameCase{"uni00G9", std::nullopt},
        NameCase{"union", 0x222A},        // a glyph-list name before the "uni" form
        NameCase{"unio", std::nullopt},   // "uni" prefix with fewer than 7 bytes: no "u" fallback
        NameCase{"uni-0E9", std::nullopt}, NameCase{"u00E9", 0xE9}, NameCase{"u1F600", 0x1F600},
        NameCase{"u10FFFF", 0x10FFFF}, NameCase{"u110000", std::nullopt}, NameCase{"uD83D", std::nullopt},
        NameCase{"u+0E9", 0xE9}, NameCase{"u12", std::nullopt}, NameCase{"u123", std::nullopt},
        NameCase{"u1234567", std::nullopt}, NameCase{"uXYZW", std::nullopt}, NameCase{"u0041.alt", 0x41}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

struct TableCase {
  BaseEncoding table;
  uint8_t code;
  uint32_t unicode;  // 0: unmapped
};

void PrintTo(const TableCase& c, std::ostream* os) { *os << int(c.table) << ":" << int(c.code); }

class BaseTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(BaseTable, Entry) {
  const TableCase& tc = GetParam();
  EXPECT_EQ(base_encoding(tc.table)[tc.code], tc.unicode) << "code " << int(tc.code);
}

constexpr auto W = BaseEncoding::Windows;
constexpr auto M = BaseEncoding::Mac;
constexpr auto S = BaseEncoding::Standard;

INSTANTIATE_TEST_SUITE_P(
    Entries, BaseTable,
    ::testing::Values(
        TableCase{W, 0x00, 0}, TableCase{W, 0x09, 0x09}, TableCase{W, 0x7F, 0x7F}, TableCase{W, 0x80, 0x20AC},
        TableCase{W, 0x81, 0}, TableCase{W, 0x9D, 0}, TableCase{W, 0x9F, 0x178}, TableCase{W, 0xE9, 0xE9},
        TableCase{M, 0x00, 0}, TableCase{M, 0x1F, 0x1F}, TableCase{M, 0x8E, 0xE9}, TableCase{M, 0xA5, 0x2022},
        TableCase{M, 0xDB, 0x20AC}, TableCase{M, 0xF0, 0xF8FF},
        TableCase{S, 0x1F, 0}, TableCase{S, 0x27, 0x2019}, TableCase{S, 0x60, 0x2018}, TableCase{S, 0x7E, 0x7E},
        TableCase{S, 0x7F, 0}, TableCase{S, 0xA1, 0},
        TableCase{S, 0xE9, 0}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(BaseTable, EveryMacHighCodeIsMapped) {
  for (int c = 0x80; c <= 0xFF; ++c) EXPECT_NE(base_encoding(M)[c], 0u) << c;
}

TEST(BaseTable, Names) {
  EXPECT_EQ(base_encoding_named("MacRomanEncoding"), M);
  EXPECT_EQ(base_encoding_named("StandardEncoding"), S);
  for (const char* other : {"WinAnsiEncoding", "MacExpertEncoding", "Identity-H", "", "macromanencoding"})
    EXPECT_EQ(base_encoding_named(other), W) << other;
}

}  // namespace
}  // namespace vellum
