#include "image.h"
namespace vellum {
const char* format_name(ImageFormat) { return "Raw"; }
std::vector<ParsedImage> extract_images(const Resolver&, const Dictionary&) { return {}; }
}  // namespace vellum
