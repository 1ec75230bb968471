// The three text renderings of an extracted document.
#pragma once

#include <string>
#include <string_view>

#include "model/extracted_doc.h"

namespace vellum {

std::string to_markdown(const ExtractedDoc& doc);
std::string to_html(const ExtractedDoc& doc, std::string_view title = "vellum");
std::string to_json(const ExtractedDoc& doc);

std::string escape_html(std::string_view text);
// Shortest round-trip JSON number text ("612.0", "1e+16", "null" for non-finite).
void append_json_float(std::string& out, double value);

}  // namespace vellum
