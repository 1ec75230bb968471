// Ruled-table detection: segments under the CTM, clustering of the rule
// positions, and runs placed on the overlapping bands (the binary search is
// checked against a plain first-match scan on random grids).
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "page/content.h"
#include "page/tables.h"

namespace vellum {
namespace {

using Cells = std::vector<std::vector<std::string>>;

TextRun run(std::string text, double x, double y) {
  TextRun r;
  r.text = std::move(text);
  r.x = x;
  r.y = y;
  return r;
}

std::vector<Table> detect(std::string_view content, const std::vector<TextRun>& runs = {}) {
  return detect_tables(parse_content(as_bytes(content)), runs);
}

TEST(Cluster, Representatives) {
  const double nan = std::nan("");
  struct Case {
    std::vector<double> in;
    bool descending;
    std::vector<double> out;
  } cases[] = {
      {{}, false, {}},
      {{101.5, 100}, false, {100}},
      {{102, 100}, false, {100, 102}},
      {{3.0, 0, 1.5}, false, {0, 3.0}},  // compared with the last kept value
      {{10, 50, 30, 31}, true, {50, 30, 10}},
      {{nan, 5, 10}, false, {5, 10}},  // a NaN never swallows the real boundaries
  };
  for (const Case& c : cases) EXPECT_EQ(cluster(c.in, c.descending), c.out);
}

// A 3 x 2 grid over x 100..300, y 400..700, drawn two ways.
constexpr const char* kRects =
    "100 600 100 100 re 200 600 100 100 re 100 500 100 100 re 200 500 100 100 re "
    "100 400 100 100 re 200 400 100 100 re S";
constexpr const char* kLines =
    "100 700 m 300 700 l 100 600 m 300 600 l 100 500 m 300 500 l 100 400 m 300 400 l "
    "100 400 m 100 700 l 200 400 m 200 700 l 300 400 m 300 700 l S";
const std::vector<TextRun> kGridRuns = {run("a", 110, 650), run("b", 210, 650), run("c", 110, 550),
                                        run("d", 250, 450), run("out", 303, 450)};
const Cells kGridCells = {{"a", "b"}, {"c", ""}, {"", "d"}};

TEST(DetectTables, Grids) {
  struct Case {
    const char* content;
    std::vector<TextRun> runs;
    Cells cells;  // empty: no table
  } cases[] = {
      {"BT /F1 12 Tf (x) Tj ET", {run("x", 10, 10)}, {}},
      {"0 100 m 500 100 l 0 200 m 500 200 l S", {}, {}},                    // horizontal rules only
      {"0 0 m 100 100 l 100 0 m 200 100 l 0 0 m 0 100 l", {}, {}},          // slanted segments
      {"0 0 100 1.5 re 200 0 100 1.5 re f", {}, {}},                        // flat: y values only
      {kRects, kGridRuns, kGridCells},
      {kLines, kGridRuns, kGridCells},
      // One rectangle: a 1 x 1 table of the runs starting within 2.0 of it.
      {"50 50 200 100 re", {run("in", 60, 100), run("edge", 48.5, 151.5), run("below", 60, 47)}, {{"in edge"}}},
      // Column bands [98, 202) around boundaries 100 and 200.
      {"100 0 m 100 100 l 200 0 m 200 100 l 0 0 m 300 0 l 0 100 m 300 100 l",
       {run("a", 99, 50), run("b", 201.9, 50), run("c", 202, 50), run("d", 97.9, 50)}, {{"a b"}}},
      // On overlapping bands the left column and the upper row win.
      {kLines, {run("L", 201, 650), run("U", 150, 601), run("D", 150, 597.9)}, {{"L U", ""}, {"D", ""}, {"", ""}}},
      {"0 0 100 100 re", {run("Total", 10, 50), run("Sum", 40, 50), run("A ", 10, 50), run("B", 20, 50)},
       {{"Total Sum A B"}}},
      // q/Q: only the first rectangle is shifted by 50.
      {"q 1 0 0 1 50 0 cm 0 0 100 100 re Q 400 0 100 100 re", {run("s", 51, 50), run("u", 1, 50)}, {{"s", "", ""}}},
      // Q restores the saved matrix, not the identity; a Q too many is ignored.
      {"1 0 0 1 0 100 cm q 1 0 0 1 50 0 cm Q Q 0 0 100 100 re", {run("r", 50, 150)}, {{"r"}}},
      // cm takes the identity's value for a non-number operand (a = 1).
      {"/X 0 0 1 50 0 cm 0 0 100 100 re", {run("r", 55, 50)}, {{"r"}}},
      // A later cm applies first: x maps to 2x + 100.
      {"1 0 0 1 100 0 cm 2 0 0 1 0 0 cm 0 0 50 50 re", {run("r", 101, 25)}, {{"r"}}},
      // m and l take 0 for a missing operand: "100 l" goes to (100, 0).
      {"0 0 m 100 l 100 m 100 100 l 0 0 m 0 100 l 0 100 m 100 100 l", {run("r", 50, 50)}, {{"r"}}},
      // Two separately ruled tables make one grid.
      {"0 500 100 100 re 0 100 200 100 re", {run("t", 10, 550), run("br", 150, 150)},
       {{"t", ""}, {"", ""}, {"", "br"}}},
      {"100 0 m 100 9 l 101.5 0 m 101.5 9 l 300 0 m 300 9 l 0 0 m 400 0 l 0 9 m 400 9 l", {}, {{""}}},
      {"100 0 m 100 9 l 102 0 m 102 9 l 300 0 m 300 9 l 0 0 m 400 0 l 0 9 m 400 9 l", {}, {{"", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    std::vector<Table> tables = detect(c.content, c.runs);
    if (c.cells.empty()) {
      EXPECT_TRUE(tables.empty());
      continue;
    }
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].rows, c.cells.size());
    EXPECT_EQ(tables[0].cols, c.cells[0].size());
    EXPECT_EQ(tables[0].cells, c.cells);
  }
}

TEST(DetectTables, PlacementMatchesFirstMatchScan) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> pos(0, 400);  // half units: many runs on band edges
  for (int trial = 0; trial < 20; ++trial) {
    std::string content;
    std::vector<double> xs, ys;
    for (int k = 0; k < 2 + trial * 3; ++k) {
      std::string x = std::to_string(pos(rng) * 0.5), y = std::to_string(pos(rng) * 0.5);
      xs.push_back(std::stod(x));
      ys.push_back(std::stod(y));
      content += x + " 0 m " + x + " 500 l 0 " + y + " m 500 " + y + " l ";
    }
    std::vector<TextRun> runs;
    for (int k = 0; k < 300; ++k) runs.push_back(run(std::to_string(k), pos(rng) * 0.5 - 2, pos(rng) * 0.5 - 2));

    std::vector<double> cx = cluster(xs, false), cy = cluster(ys, true);
    std::vector<Table> tables = detect(content, runs);
    ASSERT_EQ(tables.size(), cx.size() >= 2 && cy.size() >= 2 ? 1u : 0u);
    if (tables.empty()) continue;
    Cells expected(cy.size() - 1, std::vector<std::string>(cx.size() - 1));
    for (const TextRun& r : runs) {
      size_t i = 0, j = 0;
      while (i + 1 < cx.size() && !(cx[i] - 2.0 <= r.x && r.x < cx[i + 1] + 2.0)) ++i;
      while (j + 1 < cy.size() && !(cy[j + 1] - 2.0 < r.y && r.y <= cy[j] + 2.0)) ++j;
      if (i + 1 == cx.size() || j + 1 == cy.size()) continue;
      std::string& cell = expected[j][i];
      cell += (cell.empty() ? "" : " ") + r.text;
    }
    EXPECT_EQ(tables[0].cells, expected) << "trial " << trial;
  }
}

// Scattered rules must not allocate rows x cols cells without bound: a grid
// past a million cells is not reported; one just below it is.
TEST(DetectTables, HugeGridIsNotAllocated) {
  for (int n : {1100, 1000}) {
    std::string content;
    for (int k = 0; k < n; ++k) {
      std::string v = std::to_string(k * 3);
      content += v + " 0 m " + v + " 5000 l 0 " + v + " m 5000 " + v + " l ";
    }
    std::vector<Table> tables = detect(content, {run("x", 1, 2996)});
    if (n == 1100) {
      EXPECT_TRUE(tables.empty());
      continue;
    }
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].rows, 999u);
    EXPECT_EQ(tables[0].cells[0][0], "x");
  }
}

// A document's tables share one budget of cells: a table is reported while
// it fits in what is left (6 cells each here, out of 14).
TEST(DetectTables, DocumentCellBudget) {
  const ContentOps grid = parse_content(as_bytes("0 0 300 200 re 100 0 m 100 200 l 200 0 m 200 200 l 0 100 m 300 100 l S"));
  uint64_t budget = 14;
  EXPECT_EQ(detect_tables(grid, {}, &budget).size(), 1u);
  EXPECT_EQ(detect_tables(grid, {}, &budget).size(), 1u);
  EXPECT_EQ(budget, 2u);
  EXPECT_TRUE(detect_tables(grid, {}, &budget).empty());
  EXPECT_EQ(budget, 2u);
}

}  // namespace
}  // namespace vellum
