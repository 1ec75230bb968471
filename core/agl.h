// Glyph names to Unicode: a 149-name table plus the uniXXXX and uXXXX forms.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vellum {

std::optional<uint32_t> glyph_to_unicode(std::string_view name);

}  // namespace vellum
