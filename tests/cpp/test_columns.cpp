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

struct Case {
  const char* name;
  Layout layout;
  const char* regions;
};

class FindColumns : public ::testing::TestWithParam<Case> {};

TEST_P(FindColumns, Regions) { EXPECT_EQ(regions_of(GetParam().layout), GetParam().regions) << GetParam().name; }

const Layout kTitle = repeat(1, {{72, 540}});
const Layout kTwo = repeat(6, {{72, 296}, {316, 540}});

INSTANTIATE_TEST_SUITE_P(
    Cases, FindColumns,
    ::testing::Values(
        Case{"two columns", kTwo, "0-5@306;"},
        Case{"title and footer around two columns", kTitle + kTwo + kTitle, "1-6@306;"},
        // The right column ends early, the left one late; a short last
        // line of a paragraph still counts as running text.
        Case{"uneven columns", kTwo + repeat(2, {{72, 296}}) + repeat(1, {{72, 150}}) + kTitle, "0-8@306;"},
        Case{"three columns", repeat(5, {{72, 220}, {232, 380}, {392, 540}}), "0-4@226,386;"},
        Case{"sidebar beside text", repeat(5, {{36, 140}, {160, 560}}), "0-4@150;"},
        // The right column's first line stands above the first line with both.
        Case{"right column starts higher", repeat(1, {{316, 540}}) + kTwo, "0-6@306;"},
        Case{"too few lines", repeat(2, {{72, 296}, {316, 540}}), ""},
        // Short cells far apart: a table, read row by row.
        Case{"table of short cells", repeat(8, {{72, 120}, {300, 330}, {480, 520}}), ""},
        // Long text beside numbers: the numbers are no running text.
        Case{"text beside numbers", repeat(8, {{72, 296}, {480, 520}}), ""},
        // Cells of uneven length, each long enough: they do not fill their side.
        Case{"uneven cells",
             repeat(2, {{72, 300}, {340, 430}}) + repeat(2, {{72, 160}, {340, 540}}) + repeat(2, {{72, 300}, {340, 430}}) +
                 repeat(2, {{72, 160}, {340, 540}}),
             ""},
        Case{"gap narrower than half a size", repeat(6, {{72, 304}, {308, 540}}), ""},
        Case{"one column", repeat(10, {{72, 540}}), ""},
        Case{"no lines", Layout{}, ""}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

}  // namespace
}  // namespace vellum
