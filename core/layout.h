// Line layout: runs sorted top to bottom, grouped by baseline, joined with
// spaces at visible gaps.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "image.h"
#include "tables.h"
#include "text.h"

namespace vellum {

struct Line {
  std::string text;
  double x = 0;
  double y = 0;
};

struct PageText {
  double width = 0;
  double height = 0;
  std::vector<Line> lines;
  bool needs_ocr = false;
  std::vector<Table> tables;
  std::vector<ParsedImage> images;

  std::string text() const;  // line texts joined with "\n"
};

PageText layout_page(const std::vector<TextRun>& runs, const std::array<double, 4>& media_box);

}  // namespace vellum
