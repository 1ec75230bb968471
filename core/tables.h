// Ruled tables: segments from the content stream, clustered into one grid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "content.h"
#include "text.h"

namespace vellum {

struct Segments {
  std::vector<double> xs;  // x of every vertical segment
  std::vector<double> ys;  // y of every horizontal segment
};

struct Table {
  uint64_t rows = 0;
  uint64_t cols = 0;
  std::vector<std::vector<std::string>> cells;
};

std::vector<double> cluster(std::vector<double> values, bool descending);
std::vector<Table> detect_tables(const ContentOps& content, const std::vector<TextRun>& runs);

}  // namespace vellum
