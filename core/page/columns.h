// Column gutters: bands of white space that run down several consecutive
// lines of a page and separate two blocks of running text. Kept apart from
// line layout because the rule is a judgement of its own (what looks like a
// column and what like a table) that wants its own tests.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace vellum {

// A stretch of a line along its writing direction: runs closer together
// than a word gap can explain are one fragment. `size` is the largest font
// size among its runs.
struct Fragment {
  double lo = 0;
  double hi = 0;
  double size = 0;
};

// Lines first_line..last_line (inclusive, in reading order top to bottom)
// read as columns split at the positions in `cuts` (ascending, each in the
// middle of a gutter).
struct ColumnRegion {
  size_t first_line = 0;
  size_t last_line = 0;
  std::vector<double> cuts;
};

// The fragments of line i are fragments[line_start[i] .. line_start[i + 1]),
// sorted by lo; line_start has one entry more than there are lines. Regions
// come back sorted by first_line and disjoint.
std::vector<ColumnRegion> find_columns(std::span<const Fragment> fragments, std::span<const size_t> line_start);

}  // namespace vellum
