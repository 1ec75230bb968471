// The extracted document and its three text renderings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "layout.h"

namespace vellum {

struct ExtractedDoc {
  std::string version;
  std::vector<PageText> pages;

  std::string to_markdown() const;
  std::string to_html() const;
  std::string to_json() const;
};

std::string escape_html(std::string_view text);
// Shortest round-trip JSON number text ("612.0", "1e+16", "null" for non-finite).
void append_json_float(std::string& out, double value);

}  // namespace vellum
