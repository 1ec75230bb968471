// Text state machine: operator effects on position, width and size, the
// fallback for unknown fonts (known ones decode on every corpus page), matrix
// composition order, and the user-space end point and effective size that
// layout uses for word gaps.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "page/content.h"
#include "page/text.h"

namespace vellum {
namespace {

std::vector<TextRun> runs_of(const std::string& content, const FontMap& fonts = {}) {
  return extract_runs(parse_content(as_bytes(content)), fonts);
}

// "text/font x,y w=width s=size", runs separated by " | ".
std::string describe(const std::vector<TextRun>& runs) {
  std::string out;
  for (const TextRun& r : runs) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "/%s %g,%g w=%g s=%g", r.font->c_str(), r.x, r.y, r.width, r.size);
    if (!out.empty()) out += " | ";
    out.append(r.text).append(buf);
  }
  return out;
}

// The font map is empty: every byte is Latin-1 and half an em wide. Plain Tj
// and Td, on every page of the corpus, are left to tests/test_corpus.py.
TEST(ExtractRuns, Runs) {
  const std::pair<const char*, const char*> cases[] = {
      {"BT /F1 10 Tf [(A) -500 (B) /N 250 (C)] TJ ET",
           "A/F1 0,0 w=5 s=10 | B/F1 10,0 w=5 s=10 | C/F1 12.5,0 w=5 s=10"},
      // The later cm applies first: (1, 0) scales to (2, 0), then moves to (12, 0).
      {"1 0 0 1 10 0 cm 2 0 0 2 0 0 cm BT /F1 10 Tf 1 0 Td (A) Tj ET", "A/F1 12,0 w=5 s=10"},
      {"BT /F1 10 Tf 1 0 0 1 50 60 Tm 3 Ts (A) Tj ET", "A/F1 50,63 w=5 s=10"},
      // Rotated text advances along the text matrix's x axis.
      {"BT /F1 10 Tf 0 1 -1 0 100 100 Tm (AB) Tj (C) Tj ET", "AB/F1 100,100 w=10 s=10 | C/F1 100,110 w=5 s=10"},
      {"BT /F1 10 Tf 50 Tz (AB) Tj (C) Tj Tz (D) Tj (E) Tj ET",
           "AB/F1 0,0 w=5 s=10 | C/F1 5,0 w=2.5 s=10 | D/F1 7.5,0 w=0 s=10 | E/F1 7.5,0 w=0 s=10"},
      {"BT /F1 10 Tf 1 Tc 3 Tw (a b) Tj ET", "a b/F1 0,0 w=21 s=10"},
      {"BT /F1 10 Tf 14 TL 0 100 Td T* (A) Tj 0 -20 TD (B) Tj T* (C) Tj ET",
           "A/F1 0,86 w=5 s=10 | B/F1 0,66 w=5 s=10 | C/F1 0,46 w=5 s=10"},
      {"BT /F1 10 Tf 5 5 Td 1 0 0 1 40 50 Tm 12 TL T* (A) Tj ET", "A/F1 40,38 w=5 s=10"},
      // q/Q restore the CTM only; a surplus Q changes nothing.
      {"BT q 3 0 0 3 0 0 cm /F2 9 Tf 2 Tc Q Q 10 10 Td (A) Tj ET", "A/F2 10,10 w=6.5 s=9"},
      {"2 Tc (Hi) Tj", "Hi/ 0,0 w=4 s=0"},
      {"BT /Missing 10 Tf (\xe9) Tj () Tj ET", "\xc3\xa9/Missing 0,0 w=5 s=10 | /Missing 5,0 w=0 s=10"},
      {"BT /F1 10 Tf 3 7 Tf (A) Tj /F2 Tf (B) Tj ET", "A/F1 0,0 w=3.5 s=7 | B/F2 3.5,0 w=0 s=0"},
      {"BT /F1 10 Tf 0 50 Td 12 TL (A) ' 3 1 (a b) \" ET", "A/F1 0,38 w=5 s=10 | a b/F1 0,26 w=21 s=10"},
      // A quote without its string still moves the line and sets the spacings.
      {"BT /F1 10 Tf 0 50 Td 12 TL 3 1 \" (a b) Tj ET", "a b/F1 0,38 w=21 s=10"},
      {"BT /F1 10 Tf /X Tj 5 Tj [1 2] Tj (A) TJ 0 0 m 10 10 l S /Im1 Do ET", ""},
  };
  for (const auto& [content, runs] : cases) EXPECT_EQ(describe(runs_of(content)), runs) << content;
}

// end_x and effective_size, scaled by the text matrix and the CTM, are
// checked through the layout tests' word gaps and line tolerances. Without
// scaling they are exactly x + width and size, so that layout's results for
// such text cannot change.
TEST(ExtractRunsGeometry, UnscaledEndAndSizeAreExact) {
  for (const TextRun& r : runs_of("1 0 0 1 0.1 0.7 cm BT /F 9.7 Tf 0.3 Tc 87 Tz 71.3 0.9 Td [(Hel) -33.3 (lo)] TJ")) {
    EXPECT_EQ(r.end_x, r.x + r.width);
    EXPECT_EQ(r.effective_size, r.size);
  }
}

TEST(ExtractRunsLimits, DeepSaveStackAndNonFiniteNumbers) {
  std::string s;
  for (int i = 0; i < 200000; ++i) s += "q 1 0 0 1 1 0 cm ";
  s += "BT /F 1 Tf (A) Tj ET";
  for (int i = 0; i < 200001; ++i) s += "Q ";
  // Infinite operands propagate into positions without harm.
  s += "BT (B) Tj /F -inf Tf 1e308 0 Td 1e308 Tz [(C) 1e308 (D)] TJ ET";
  std::vector<TextRun> got = runs_of(s);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].x, 200000);
  EXPECT_EQ(got[1].x, 0);
}

}  // namespace
}  // namespace vellum
