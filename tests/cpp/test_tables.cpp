// Ruled-table detection: what counts as a rule (painted, not white), one
// table per connected grid, spanning cells, cell text joined as the page's
// lines join it, the chart guard, and the bounds on hostile grids. Clipped
// pages, rotated grids and curves: the corpus files of
// tests/test_corpus.py.
#include <gtest/gtest.h>

#include "page/content.h"
#include "page/tables.h"

namespace vellum {
namespace {

using Cells = std::vector<std::vector<std::string>>;

// Runs come from the real text machine (no fonts: every glyph half an em).
std::vector<Table> detect(const std::string& content, uint64_t* budget = nullptr) {
  ContentOps ops = parse_content(as_bytes(content));
  return detect_tables(ops, extract_runs(ops, FontMap{}), budget);
}

// Text at (x, y), 10 units high.
std::string text(double x, double y, const std::string& shown) {
  return "BT /F1 10 Tf 1 0 0 1 " + std::to_string(x) + " " + std::to_string(y) + " Tm " + shown + " ET ";
}

// A stroked grid: columns at xs, rows at ys (top first), texts row by row
// (empty: no text), each 3 units right of and 4 above the cell's corner.
std::string grid(const std::vector<double>& xs, const std::vector<double>& ys, const Cells& texts = {}) {
  std::string out;
  for (double x : xs)
    out += std::to_string(x) + " " + std::to_string(ys.back()) + " m " + std::to_string(x) + " " +
           std::to_string(ys.front()) + " l ";
  for (double y : ys)
    out += std::to_string(xs.front()) + " " + std::to_string(y) + " m " + std::to_string(xs.back()) + " " +
           std::to_string(y) + " l ";
  out += "S ";
  for (size_t r = 0; r < texts.size(); ++r)
    for (size_t c = 0; c < texts[r].size(); ++c)
      if (!texts[r][c].empty()) out += text(xs[c] + 3, ys[r + 1] + 4, "(" + texts[r][c] + ") Tj");
  return out;
}

const std::vector<double> kXs = {100, 200, 300};
const std::vector<double> kYs = {700, 680, 660};
const Cells kAbcd = {{"a", "b"}, {"c", "d"}};

// Thin filled bars along kXs and kYs, and the texts of kAbcd in their cells.
const std::string kBars =
    "100 699.5 200 1 re 100 679.5 200 1 re 100 659.5 200 1 re 99.5 660 1 40 re 199.5 660 1 40 re 299.5 660 1 40 re f ";
const std::string kAbcdText = text(103, 684, "(a) Tj") + text(203, 684, "(b) Tj") + text(103, 664, "(c) Tj") +
                              text(203, 664, "(d) Tj");

TEST(DetectTables, WhatIsATable) {
  const std::string real = grid(kXs, kYs, kAbcd);
  struct Case {
    const char* name;
    std::string content;
    std::vector<Cells> tables;
  } cases[] = {
      {"boxed paragraph", "50 50 200 100 re S " + text(60, 100, "(Some prose) Tj"), {}},
      {"one row of boxes", "100 100 50 20 re 150 100 50 20 re S " + text(105, 105, "(a) Tj") + text(155, 105, "(b) Tj"),
       {}},
      // Thin filled bars are rules; a white fill, in any device space, is not.
      {"grid of bars", kBars + kAbcdText, {kAbcd}},
      {"white bars, rgb, restored by Q", "0 g q 1 1 1 rg " + kBars + "Q", {}},
      {"white bars, cmyk scn", "/CS0 cs 0 0 0 0 scn " + kBars, {}},
      // In a one-component resource space (a separation), 1 is full ink.
      {"separation ink", "/Sep cs 1 scn " + kBars + kAbcdText, {kAbcd}},
      // A shaded paragraph (thick fill) next to a grid does not join it; an
      // inset cell background adds no boundary.
      {"shaded box and inset background",
       "0.9 g 20 20 300 100 re f 105 663 90 14 re f 0 g " + real, {kAbcd}},
      // Two ruled tables and a banner: two tables, top one first.
      {"two tables and a banner",
       "0 0 1 rg 50 750 500 30 re f 0 g " + grid({100, 200, 300}, {300, 280, 260}, {{"e", "f"}, {"g", "h"}}) +
           grid(kXs, kYs, kAbcd),
       {kAbcd, {{"e", "f"}, {"g", "h"}}}},
      // A header rule-less between its columns: the spanning cell's text in
      // its first column.
      {"spanning header",
       "100 700 m 400 700 l 100 680 m 400 680 l 100 660 m 400 660 l 100 660 m 100 700 l 400 660 m 400 700 l "
       "200 660 m 200 680 l 300 660 m 300 680 l S " + text(103, 684, "(Header across all) Tj") +
           text(103, 664, "(x) Tj") + text(203, 664, "(y) Tj") + text(303, 664, "(z) Tj"),
       {{{"Header across all", "", ""}, {"x", "y", "z"}}}},
      // (Cell text takes the page's word-gap rule, make_line: test_layout.cpp; the
      // corpus walk checks that no cell reads letter-spaced.)
      // One string spaced across two cells is cut at its spaces.
      {"string across cells", grid(kXs, kYs, {{"a", "b"}}) + text(103, 664, "(c                   d) Tj"), {kAbcd}},
      // Chart gridlines: 10 x 10 cells, three labels.
      {"chart grid",
       grid({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, {100, 90, 80, 70, 60, 50, 40, 30, 20, 10, 0},
            {{"1", "2", "3"}}),
       {}},
      // Column rules in the header only: the body rows are undivided.
      {"header-only column rules",
       "100 700 m 300 700 l 100 680 m 300 680 l 100 660 m 300 660 l 100 640 m 300 640 l 100 620 m 300 620 l "
       "100 620 m 100 700 l 200 680 m 200 700 l 300 620 m 300 700 l S " + text(103, 684, "(h1) Tj") +
           text(203, 684, "(h2) Tj") + text(103, 664, "(r1 1) Tj") + text(103, 644, "(r2 2) Tj") +
           text(103, 624, "(r3 3) Tj"),
       {}},
      // Rules whose positions differ by less than 2 units are one boundary; a
      // text two lines high in a cell reads as one line after the other.
      {"nearby rules, two-line cell",
       grid(kXs, {700, 660, 640}) + "101.5 660 m 101.5 700 l 100 659 m 300 659 l S " + text(103, 684, "(first) Tj") +
           text(103, 672, "(second) Tj") + text(203, 684, "(b) Tj") + text(103, 644, "(c) Tj") +
           text(203, 644, "(d) Tj"),
       {{{"first second", "b"}, {"c", "d"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Table> tables = detect(c.content);
    ASSERT_EQ(tables.size(), c.tables.size());
    for (size_t i = 0; i < tables.size(); ++i) {
      EXPECT_EQ(tables[i].cells, c.tables[i]);
      EXPECT_EQ(tables[i].rows, c.tables[i].size());
      EXPECT_EQ(tables[i].cols, c.tables[i][0].size());
    }
  }
}

// Hostile grids: a thousand crossing rules is past the cell limit (no
// allocation of a million cells), and a document's tables share one budget.
TEST(DetectTables, Bounds) {
  std::string content;
  for (int k = 0; k < 1100; ++k) {
    std::string v = std::to_string(k * 3);
    content += v + " 0 m " + v + " 5000 l 0 " + v + " m 5000 " + v + " l ";
  }
  EXPECT_TRUE(detect(content + "S").empty());

  const std::string table = grid(kXs, kYs, kAbcd);
  uint64_t budget = 10;
  EXPECT_EQ(detect(table, &budget).size(), 1u);
  EXPECT_EQ(detect(table, &budget).size(), 1u);
  EXPECT_EQ(budget, 2u);
  EXPECT_TRUE(detect(table, &budget).empty());
  EXPECT_EQ(budget, 2u);
}

}  // namespace
}  // namespace vellum
