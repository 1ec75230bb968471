#include "agl.h"
namespace vellum {
std::optional<uint32_t> glyph_to_unicode(std::string_view) { return std::nullopt; }
}  // namespace vellum
