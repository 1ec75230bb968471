// Ruled tables: segments from the content stream, clustered into one grid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/extracted_doc.h"
#include "page/content.h"
#include "page/text.h"

namespace vellum {

struct Segments {
  std::vector<double> xs;  // x of every vertical segment
  std::vector<double> ys;  // y of every horizontal segment
};

std::vector<double> cluster(std::vector<double> values, bool descending);
// The cells all reported tables of one document may hold together. Pages
// that share one content stream would otherwise repeat a grid of up to 2^20
// cells (tens of MB) once per page, from a file of a few kilobytes.
constexpr uint64_t kMaxDocumentTableCells = uint64_t{1} << 24;

// With `cell_budget`, a table is reported only if its cells fit in what is
// left of it, and they are taken from it.
std::vector<Table> detect_tables(const ContentOps& content, const std::vector<TextRun>& runs,
                                 uint64_t* cell_budget = nullptr);

}  // namespace vellum
