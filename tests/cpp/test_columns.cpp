// Column gutters: running text in columns is found, with and without a
// full-width title and footer; tables of short cells and short stretches are
// not columns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "page/columns.h"

namespace vellum {
namespace {

using Layout = std::vector<std::vector<Fragment>>;  // fragments per line

// `rows` lines, each holding one fragment per (lo, hi) pair, at size 10.
Layout repeat(size_t rows, std::vector<std::pair<double, double>> spans) {
  std::vector<Fragment> line;
  for (auto [lo, hi] : spans) line.push_back({lo, hi, 10});
  return Layout(rows, line);
}

Layout operator+(Layout a, const Layout& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Regions as "first-last@cut,cut;".
std::string regions_of(const Layout& layout) {
  std::vector<Fragment> fragments;
  std::vector<size_t> start;
  for (const auto& line : layout) {
    start.push_back(fragments.size());
    fragments.insert(fragments.end(), line.begin(), line.end());
  }
  start.push_back(fragments.size());
  std::string out;
  for (const ColumnRegion& r : find_columns(fragments, start)) {
    // Appended piece by piece: GCC 12 warns (-Wrestrict) on chained
    // temporaries of std::string here.
    out.append(std::to_string(r.first_line)).append("-").append(std::to_string(r.last_line)).append("@");
    for (size_t i = 0; i < r.cuts.size(); ++i) {
      if (i) out += ',';
      out.append(std::to_string(static_cast<int>(r.cuts[i])));
    }
    out += ';';
  }
  return out;
}

const Layout kTitle = repeat(1, {{72, 540}});
const Layout kTwo = repeat(6, {{72, 296}, {316, 540}});

// Two and three columns, with and without a title, a sidebar and a table of
// short cells are read end to end from real layouts in
// tests/test_reading_order.py; a single column on most corpus pages.
TEST(FindColumns, Regions) {
  const std::pair<Layout, const char*> cases[] = {
      {kTitle + kTwo + kTitle, "1-6@306;"},  // title and footer around two columns
      // The right column ends early, the left one late; a short last
      // line of a paragraph still counts as running text.
      {kTwo + repeat(2, {{72, 296}}) + repeat(1, {{72, 150}}) + kTitle, "0-8@306;"},
      // The right column's first line stands above the first line with both.
      {repeat(1, {{316, 540}}) + kTwo, "0-6@306;"},
      {repeat(2, {{72, 296}, {316, 540}}), ""},  // too few lines
      // Long text beside numbers: the numbers are no running text.
      {repeat(8, {{72, 296}, {480, 520}}), ""},
      // Cells of uneven length, each long enough: they do not fill their side.
      {repeat(2, {{72, 300}, {340, 430}}) + repeat(2, {{72, 160}, {340, 540}}) + repeat(2, {{72, 300}, {340, 430}}) +
           repeat(2, {{72, 160}, {340, 540}}),
       ""},
      {repeat(6, {{72, 304}, {308, 540}}), ""},  // a gap narrower than half a size
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(regions_of(cases[i].first), cases[i].second) << "case " << i;
}

}  // namespace
}  // namespace vellum
