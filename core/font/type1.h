// The built-in encoding of a Type 1 font program (a PDF's FontFile): the
// /Encoding of its clear-text part, StandardEncoding or an array filled by
// `dup <code> /<name> put` entries.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "syntax/object.h"

namespace vellum {

// Code -> Unicode (0 where the glyph name gives none); nothing when the
// clear-text part (the first `clear_length` bytes, or up to `eexec`) has no
// /Encoding. One pass over the clear text, whatever the number of entries.
std::optional<std::array<uint32_t, 256>> type1_encoding(ByteSpan program, size_t clear_length);

}  // namespace vellum
