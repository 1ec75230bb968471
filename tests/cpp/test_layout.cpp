// Line layout: reading order, baseline tolerance, word spacing, and word gaps
// and baseline tolerances measured in user space for text scaled by a matrix.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "page/content.h"
#include "page/layout.h"

namespace vellum {
namespace {

constexpr std::array<double, 4> kLetter = {0, 0, 612, 792};

// A run as the text machine makes it when no matrix scales.
TextRun run(std::string text, double x, double y, double width, double size) {
  return TextRun{std::move(text), nullptr, x, y, width, size, x + width, size};
}

// The page's lines joined with "|".
std::string lines_of(const PageText& page) {
  std::string text = page.text();
  std::replace(text.begin(), text.end(), '\n', '|');
  return text;
}

TEST(LayoutPage, Lines) {
  const std::pair<std::vector<TextRun>, const char*> cases[] = {
      {{}, ""},
      {{run("a", 0, 700, 5, 12), run("b", 100, 694, 5, 12), run("c", 0, 693.9, 5, 12)}, "a b|c"},
      // Size-1 text: the tolerance floor is 1.0, not 0.5; the larger size counts.
      {{run("a", 0, 700, 0.5, 1), run("b", 0.5, 699.2, 0.5, 1), run("C", 4.5, 691, 5, 20)}, "abC"},
      // Against the line's first run only: 690 is 5 from 695 but 10 from 700.
      {{run("a", 0, 700, 5, 12), run("b", 50, 695, 5, 12), run("c", 100, 690, 5, 12)}, "a b|c"},
      {{run("a", 0, 700, 1, 0.5), run("b", 1.19, 700, 1, 0.5), run("c", 2.4, 700, 1, 0.5)}, "ab c"},
      {{run("ab", 0, 700, 10, 10), run("c", 3, 700, 5, 10)}, "abc"},
      {{run("a ", 0, 700, 10, 10), run("b", 50, 700, 5, 10), run(" c", 90, 700, 5, 10)}, "a b c"},
      {{run("", 0, 700, 0, 10), run("b", 50, 700, 5, 10), run("", 90, 700, 0, 10), run("c", 99, 700, 5, 10)},
           " b c"},
      // A line reads by x: the raised run follows, after its gap.
      {{run("base", 0, 700, 20, 12), run("2", 30, 701, 3, 12)}, "base 2"},
      {{run("c", 20, 700, 5, 10), run("1", 0, 700, 0, 10), run("2", 0, 700, 5, 10)}, "12 c"},
  };
  for (const auto& [runs, text] : cases) {
    PageText page = layout_page(runs, kLetter);
    EXPECT_EQ(lines_of(page), text);
    EXPECT_EQ(page.needs_ocr, runs.empty()) << text;
  }
}

// The merge sort against the standard stable sort, on data with many ties.
// Runs are wider than any x step, so no gap adds a space.
TEST(LayoutPageOrder, MatchesStableSortAndSurvivesNan) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    std::vector<TextRun> runs;
    for (size_t i = 0, n = rng() % 300; i < n; ++i)
      runs.push_back(run(std::to_string(i) + ";", rng() % 5, 100.0 * (rng() % 8), 10, 1));
    std::vector<TextRun> sorted = runs;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const TextRun& a, const TextRun& b) { return a.y != b.y ? a.y > b.y : a.x < b.x; });
    std::string want;
    for (size_t i = 0; i < sorted.size(); ++i)
      want += (i > 0 && sorted[i].y != sorted[i - 1].y ? "\n" : "") + sorted[i].text;
    ASSERT_EQ(layout_page(runs, kLetter).text(), want);
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<TextRun> runs;
  for (int i = 0; i < 40; ++i) runs.push_back(run("x", i % 3 ? i : nan, i % 4 ? 10.0 * i : nan, 1, i % 5 ? 10 : nan));
  std::string text = layout_page(runs, kLetter).text();
  EXPECT_EQ(std::count(text.begin(), text.end(), 'x'), 40);
}

// Whole pages end to end, from content through the text machine: the lines
// joined with "|". (The layout's unscaled measures, which no caller uses, are
// not checked.)
const std::string kWelcome = " /TT2 1 Tf [ (We) 4 (l) 7 (c) 5 (o) 4 (m) 1 (e) ] TJ ET";
const std::string kTm10 = "BT 10 0 0 10 100 700 Tm";
const std::string kCmTm33 = "0.24 0 0 0.24 36 36 cm BT 33 0 0 33 0 0 Tm";

const std::pair<std::string, const char*> kPages[] = {
    // Kerned pieces of one word set at size 1 and scaled up by a matrix stay
    // one word; a real gap between words gives one space.
    {kCmTm33 + kWelcome, "Welcome"},
    {kCmTm33 + " /TT2 1 Tf [(Hello) -300 (World)] TJ ET", "Hello World"},
    {kTm10 + " /TT2 1 Tf [(Hel) -100 (lo)] TJ ET", "Hello"},  // 1 unit at size 10
    // Lines set at a large Tfs and scaled down by a matrix (some office
    // suites set 9-point text as 180 Tf under a 0.05 text matrix) are grouped
    // by their visible size: lines a few points apart stay apart, a slightly
    // raised run still joins its line. (Lines
    // 14 units apart at 180 Tf under 0.05: tests/test_fonts.py, flipped, through a Type0 font.)
    // A CTM scaling a 43/21-point heading and body line by about 0.55.
    {"0.553 0 0 0.553 0 0 cm BT /F 43 Tf 1 0 0 1 0 700 Tm (Head) Tj ET BT /F 21 Tf 1 0 0 1 0 669 Tm (Body) Tj ET",
     "Head|Body"},
    // A run raised by 2 units still belongs to the line of visible size 9.
    {"BT /F 180 Tf 0.05 0 0 0.05 72 700 Tm (base) Tj 0.05 0 0 0.05 20 702 Tm (up) Tj ET", "up base"},
    // Text scaled up keeps the unscaled tolerance: Tf 1 under a text matrix
    // of 10 still separates baselines 3 apart (the 1.0 floor); so does a
    // negative Tfs.
    {"BT /F 1 Tf 10 0 0 10 72 700 Tm (base) Tj 10 0 0 10 20 703 Tm (up) Tj ET", "up|base"},
    {"BT /F -10 Tf 1 0 0 1 72 700 Tm (a) Tj 1 0 0 1 67 697 Tm (b) Tj ET", "a|b"},
    // Directions, raised and lowered runs (columns and tables far apart are
    // read end to end in tests/test_reading_order.py). A cell set half a unit
    // higher than its row joins it in place.
    {"BT /F 10 Tf 1 0 0 1 72 700 Tm (left) Tj 1 0 0 1 200 700.5 Tm (right) Tj 1 0 0 1 72 688 Tm (next) Tj ET",
     "left right|next"},
    // Rotated text, one glyph per run: whole lines, read in their own frame
    // (a quarter turn stands for all three: they share the exact rotation).
    {"BT /F 10 Tf 0 1 -1 0 100 100 Tm (up) Tj 0 1 -1 0 100 112 Tm (wa) Tj 0 1 -1 0 100 122 Tm (rd) Tj "
     "0 1 -1 0 112 100 Tm (next) Tj ET",
     "upward|next"},
    {"BT /F 10 Tf 0.7071 0.7071 -0.7071 0.7071 100 100 Tm (one) Tj 0.7071 0.7071 -0.7071 0.7071 117.7 117.7 Tm "
     "(two) Tj ET",
     "one two"},
    // Upright text leads: it holds most characters.
    {"BT /F 10 Tf 0 1 -1 0 20 100 Tm (margin) Tj 1 0 0 1 72 700 Tm (body text here) Tj ET",
     "body text here|margin"},
    // Raised by Ts further than the baseline tolerance.
    {"BT /F 12 Tf 1 0 0 1 72 700 Tm (E = mc) Tj 8 Ts (2) Tj 0 Ts ( holds) Tj ET", "E = mc2 holds"},
    {"BT /F 12 Tf 1 0 0 1 72 700 Tm (H) Tj -7 Ts (2) Tj 0 Ts (O) Tj ET", "H2O"},
    // A smaller font moved by the text matrix, above the tolerance.
    {"BT /F 12 Tf 1 0 0 1 72 700 Tm (x) Tj /F 6 Tf 1 0 0 1 78 706.5 Tm (2) Tj /F 12 Tf 1 0 0 1 81 700 Tm (+1) Tj ET",
     "x2+1"},
    // A small exponent between two lines belongs to the glyph it follows.
    {"BT /F 12 Tf 1 0 0 1 100 680 Tm (1) Tj 1 0 0 1 80 671 Tm (= a) Tj /F 8.5 Tf 1 0 0 1 98 675.5 Tm (2) Tj "
     "/F 12 Tf 1 0 0 1 99 663 Tm (n) Tj /F 8.5 Tf 1 0 0 1 105 666.6 Tm (2) Tj ET",
     "1|= a2|n2"},
    // Spaces padding a clipped cell run under the next cell.
    {"BT /F 10 Tf 1 0 0 1 72 700 Tm [(a) (b) (  ) (  ) (  ) (  )] TJ 1 0 0 1 90 700 Tm [(c) 4 (d) 4 (e) 4 (f) 4 (g) "
     "4 (h)] TJ ET",
     "ab  cdefgh"},
};

TEST(LayoutPage, EndToEnd) {
  for (const auto& [content, text] : kPages) {
    std::vector<TextRun> runs = extract_runs(parse_content(as_bytes(content)), {});
    EXPECT_EQ(lines_of(layout_page(runs, kLetter)), text) << content;
  }
}

// Where a rotated line starts in page space (upright lines: tests/test_hostile.py
// reads their x; a box given corner first: tests/test_api.py).
TEST(LayoutPage, RotatedLinePosition) {
  auto runs = extract_runs(parse_content(as_bytes("BT /F 10 Tf 0 1 -1 0 100 50 Tm (ab) Tj (cd) Tj ET")), {});
  PageText page = layout_page(runs, kLetter);
  ASSERT_EQ(page.lines.size(), 1u);
  EXPECT_EQ(page.lines[0].text, "abcd");
  EXPECT_NEAR(page.lines[0].x, 100, 1e-9);
  EXPECT_NEAR(page.lines[0].y, 50, 1e-9);
}

}  // namespace
}  // namespace vellum
