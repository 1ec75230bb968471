// Image XObjects of a page's resources.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "object.h"
#include "resolver.h"

namespace vellum {

enum class ImageFormat : uint8_t { Jpeg, Jpeg2000, Ccitt, Jbig2, Raw };
const char* format_name(ImageFormat f);

// The decoded bytes are not kept: no output carries them, and holding them
// would make memory grow with the images of the whole file. The filters are
// still run (validated), since an image whose filters fail is skipped.
struct ParsedImage {
  std::string name;
  ImageFormat format = ImageFormat::Raw;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits_per_component = 8;
  std::string color_space;
};

std::vector<ParsedImage> extract_images(const Resolver& resolver, const Dictionary& resources);

}  // namespace vellum
