// The extracted document: what the driver fills page by page and every
// output (Markdown, HTML, JSON, the Python objects) reads. Plain data with no
// dependency on how it was extracted, so that the page analysis that fills
// its parts and the renderings that read them stay apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellum {

struct Line {
  std::string text;
  double x = 0;
  double y = 0;
};

// A ruled table: `rows` x `cols` cells, row by row.
struct Table {
  uint64_t rows = 0;
  uint64_t cols = 0;
  std::vector<std::vector<std::string>> cells;
};

enum class ImageFormat : uint8_t { Jpeg, Jpeg2000, Ccitt, Jbig2, Raw };

inline const char* format_name(ImageFormat f) {
  switch (f) {
    case ImageFormat::Jpeg: return "Jpeg";
    case ImageFormat::Jpeg2000: return "Jpeg2000";
    case ImageFormat::Ccitt: return "Ccitt";
    case ImageFormat::Jbig2: return "Jbig2";
    case ImageFormat::Raw: return "Raw";
  }
  return "Raw";
}

// An image XObject as its dictionary describes it. The decoded samples are
// not kept: no output carries them, and holding them would make memory grow
// with the images of the whole file.
struct ParsedImage {
  std::string name;
  ImageFormat format = ImageFormat::Raw;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits_per_component = 8;
  std::string color_space;
};

struct PageText {
  double width = 0;
  double height = 0;
  std::vector<Line> lines;
  bool needs_ocr = false;
  std::vector<Table> tables;
  std::vector<ParsedImage> images;

  // The line texts joined with "\n".
  std::string text() const {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) out.push_back('\n');
      out += lines[i].text;
    }
    return out;
  }
};

struct ExtractedDoc {
  std::string version;
  std::vector<PageText> pages;
};

}  // namespace vellum
