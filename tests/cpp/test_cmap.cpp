// ToUnicode CMaps: section parsing, the tolerance of broken input, UTF-16BE
// decoding, and a randomised comparison of the indexed range lookup against
// the plain file-order walk (which covers the precedence of single mappings
// over ranges, overlapping and inverted ranges, huge ranges, and ranges
// running into the surrogate block). Arbitrary bytes, and lookup_into against
// lookup: fuzz_cmap. UTF-16 decoding: test_info.cpp (text strings).
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "font/cmap.h"

namespace vellum {
namespace {

using namespace std::string_literals;

CMap parse_text(const std::string& text) { return CMap::parse(as_bytes(text)); }

using Probe = std::pair<uint32_t, std::optional<std::string>>;  // nullopt: unmapped

std::string repeat(const std::string& unit, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

struct Case {
  const char* name;
  std::string cmap;
  std::vector<Probe> probes;
};

const Case kCases[] = {
    // (The PostScript around the sections, which every real ToUnicode map has, is read in the corpus tests.)
    {"bfchar_surrogate_pair", "beginbfchar <0001> <D83DDE00> endbfchar", {{1, "\xF0\x9F\x98\x80"}}},
    {"bfchar_literal_destination", "beginbfchar <41> (\\000B) endbfchar", {{0x41, "B"}}},
    // Entries start with '<': any other byte ends the section.
    {"literal_source_ends_section", "beginbfchar <40> <0041> (A) <0042> <42> <0043> endbfchar",
     {{0x40, "A"}, {0x41, std::nullopt}, {0x42, std::nullopt}}},
    {"five_byte_source_uses_four", "beginbfchar <0102030405> <0041> endbfchar",
     {{0x01020304, "A"}, {0x02030405, std::nullopt}}},
    {"bfrange_array_longer_than_range", "beginbfrange <0010> <0011> [<0041> <0042> <0043>] endbfrange",
     {{0x10, "A"}, {0x11, "B"}, {0x12, "C"}, {0x13, std::nullopt}}},
    {"bfrange_array_non_string_takes_code", "beginbfrange <0010> <0012> [<0041> /x <0043>] endbfrange",
     {{0x10, "A"}, {0x11, std::nullopt}, {0x12, "C"}}},
    {"bfrange_array_wraps_code", "beginbfrange <FFFFFFFF> <FFFFFFFF> [<0041> <0042>] endbfrange",
     {{0xFFFFFFFF, "A"}, {0, "B"}}},
    {"bfrange_multichar_destination_uses_first", "beginbfrange <01> <02> <00660069> endbfrange", {{1, "f"}, {2, "g"}}},
    {"bfrange_empty_destination_is_nul", "beginbfrange <05> <06> <> endbfrange", {{5, "\0"s}, {6, "\x01"}}},
    {"bfrange_bad_bound_skipped", "beginbfrange <01> /x <0041> <02> <03> <0042> endbfrange",
     {{1, std::nullopt}, {2, "B"}, {3, "C"}}},
    {"later_array_element_beats_bfchar",
     "beginbfchar <03> <007A> endbfchar beginbfrange <03> <03> [<0051>] endbfrange", {{3, "Q"}}},
    // Broken input: what can be read is kept.
    {"stray_delimiter_ends_section", "beginbfchar <01> <0041> ] <02> <0042> endbfchar beginbfchar <03> <0043>",
     {{1, "A"}, {2, std::nullopt}, {3, "C"}}},
    {"cidrange_entries_skipped",
     "begincidrange <0000> <00FF> 0 endcidrange begincidchar <01> 5 endcidchar usecmap "
     "beginbfchar <01> <0041> endbfchar", {{0, std::nullopt}, {1, "A"}}},
    {"bad_hex_entry_skipped", "beginbfchar <0G> <0041> <02> <0042> endbfchar beginbfchar <03> <0043> endbfchar",
     {{2, std::nullopt}, {3, "C"}}},
    {"unterminated_string_at_top", "( beginbfchar <01> <0041> endbfchar", {{1, std::nullopt}}},
    // Destinations keep their first 512 bytes (256 UTF-16 units), in arrays
    // too (single mappings: tests/test_hostile.py).
    {"long_destinations_cut_at_512_bytes", "beginbfchar <01> <" + repeat("0041", 256) + "> endbfchar "
     "beginbfrange <03> <03> [<" + repeat("0043", 1000) + ">] endbfrange",
     {{1, std::string(256, 'A')}, {3, std::string(256, 'C')}}},
};

TEST(CMapLookup, Probes) {
  for (const Case& tc : kCases) {
    SCOPED_TRACE(tc.name);
    CMap cmap = parse_text(tc.cmap);
    for (const auto& [code, text] : tc.probes) EXPECT_EQ(cmap.lookup(code), text) << "code " << code;
  }
}

// The file-order walk over the parsed tables, written out plainly: the
// reference the segment index must agree with.
std::optional<std::string> reference_lookup(const CMap& cmap, uint32_t code) {
  if (auto it = cmap.singles.find(code); it != cmap.singles.end()) return it->second;
  for (const CMap::Range& r : cmap.ranges) {
    if (code < r.low || code > r.high) continue;
    uint64_t v = uint64_t{r.start} + (code - r.low);
    if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) continue;
    std::string s;
    append_utf8(s, static_cast<uint32_t>(v));
    return s;
  }
  return std::nullopt;
}

// Tables built directly (the parser's rows are above; the identity map of
// Type0 fonts is built so too).
TEST(CMapIndex, AgreesWithFileOrderWalk) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Small code and value spaces so that ranges overlap a lot and often
    // run into the surrogate block or past U+10FFFF.
    const uint32_t code_space = round % 2 ? 300 : 0xFFFFFFFF;
    std::uniform_int_distribution<uint32_t> code(0, code_space);
    std::uniform_int_distribution<int> starts(0, 4);
    CMap cmap;
    std::vector<uint32_t> probes = {0, 1, 0xFFFFFFFF};
    for (int i = 0, n = 1 + static_cast<int>(rng() % 40); i < n; ++i) {
      uint32_t a = code(rng), b = code(rng);
      if (rng() % 5) std::tie(a, b) = std::pair(std::min(a, b), std::max(a, b));  // sometimes low > high
      if (code_space == 0xFFFFFFFF && rng() % 2) b = a + rng() % 1000;             // keep some short
      const uint32_t starts_at[] = {0x41, 0xD700, 0xE000, 0x10FF00, static_cast<uint32_t>(rng() % 0x10FFFF)};
      const uint32_t start = starts_at[starts(rng)];
      if (rng() % 6 == 0) {
        cmap.singles.emplace(a, std::string(1, static_cast<char>('0' + rng() % 10)));
      } else {
        cmap.ranges.push_back({a, b, start});
      }
      for (uint32_t edge : {a, b}) {
        for (int64_t d = -2; d <= 2; ++d) probes.push_back(static_cast<uint32_t>(edge + d));
        // Codes where the value crosses into and out of the surrogate block and U+10FFFF.
        for (uint32_t value : {0xD7FFu, 0xD800u, 0xDFFFu, 0xE000u, 0x10FFFFu, 0x110000u})
          if (value >= start) probes.push_back(a + (value - start));
      }
      // Lookups between additions: the index follows the tables.
      const uint32_t p = code(rng);
      ASSERT_EQ(cmap.lookup(p), reference_lookup(cmap, p)) << "code " << p;
    }
    for (int i = 0; i < 200; ++i) probes.push_back(code(rng));
    for (uint32_t p : probes) ASSERT_EQ(cmap.lookup(p), reference_lookup(cmap, p)) << "code " << p;
  }
}

// Hostile shapes: deep nesting, many unterminated objects, a long run of
// section openers. All must finish (linearly) and leave the good entries.
TEST(CMapParse, HostileInputStaysBounded) {
  std::string deep(100000, '[');
  std::string openers;
  for (int i = 0; i < 20000; ++i) openers += "beginbfrange <01> ";
  std::string numbers;
  for (int i = 0; i < 20000; ++i) numbers += "1 ";
  for (const std::string& junk : {deep, openers, numbers + std::string(100000, 'x'), std::string(50000, '<')}) {
    CMap cmap = parse_text("beginbfchar <07> <0041> endbfchar " + junk);
    EXPECT_EQ(cmap.lookup(7), "A");
  }
}

}  // namespace
}  // namespace vellum
