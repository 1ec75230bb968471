#include "serialize.h"
namespace vellum {
std::string ExtractedDoc::to_markdown() const { return {}; }
std::string ExtractedDoc::to_html() const { return {}; }
std::string ExtractedDoc::to_json() const { return {}; }
std::string escape_html(std::string_view t) { return std::string(t); }
void append_json_float(std::string&, double) {}
}  // namespace vellum
