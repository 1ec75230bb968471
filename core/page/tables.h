// Ruled tables: grids of painted rules, several per page, cells split only
// where a rule crosses them, cell text laid out like the page's lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/extracted_doc.h"
#include "page/content.h"
#include "page/text.h"

namespace vellum {

// The cells all reported tables of one document may hold together. Pages
// that share one content stream would otherwise repeat a grid of up to 2^20
// cells (tens of MB) once per page, from a file of a few kilobytes.
constexpr uint64_t kMaxDocumentTableCells = uint64_t{1} << 24;

// With `cell_budget`, a table is reported only if its cells fit in what is
// left of it, and they are taken from it. Tables come in reading order (top
// to bottom, then left to right).
std::vector<Table> detect_tables(const ContentOps& content, const std::vector<TextRun>& runs,
                                 uint64_t* cell_budget = nullptr);

}  // namespace vellum
