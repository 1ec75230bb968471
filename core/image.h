// Image XObjects of a page's resources.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
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

// Whether each image stream's filters decode, remembered for the document:
// an image shared by many pages (a logo, or a hostile stream that inflates
// to the 1 GiB limit) is decoded once, not once per page. Keyed by the
// stream's address, which is stable for the resolver's life.
using ImageCheckCache = std::unordered_map<const Stream*, bool>;

std::vector<ParsedImage> extract_images(const Resolver& resolver, const Dictionary& resources,
                                        ImageCheckCache* checked = nullptr);

}  // namespace vellum
