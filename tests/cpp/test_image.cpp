// Image listing over a small in-memory file read through the resolver:
// format from the last filter, size and depth defaults, colour-space names,
// and what is skipped (non-images, failing filters, dangling entries). A plain
// image: tests/test_api.py; forms and the images inside them: tests/test_forms.py.
#include <gtest/gtest.h>

#include <tuple>

#include "page/image.h"
#include "pdf_fixture.h"
#include "test_util.h"

namespace vellum {
namespace {

using testing::OpenFixture;
using testing::parse_dict;
using testing::PdfFixture;

std::string deflate(std::string_view data) { return std::string(as_chars(testing::zlib(as_bytes(data)))); }

const std::string kJpeg = "\xFF\xD8\xFF\xE0 not really a JPEG \xFF\xD9";
const std::string kImg = "/Subtype /Image ";

TEST(ExtractImages, OneImage) {
  const std::tuple<std::string, std::string, const char*> cases[] = {  // entries, data, "format w h bpc space"
      {kImg + "/Filter [/FlateDecode /DCTDecode]", deflate(kJpeg), "Jpeg 0 0 8 DeviceRGB"},
      {kImg + "/Filter [/DCTDecode /FlateDecode]", deflate(kJpeg), "Raw 0 0 8 DeviceRGB"},  // the last decides
      {kImg + "/F /DCTDecode", kJpeg, "Jpeg 0 0 8 DeviceRGB"},
      {kImg + "/Filter /JPXDecode /F /DCTDecode", "jp2", "Jpeg2000 0 0 8 DeviceRGB"},
      // Sizes and depth: integers in 0..2^32-1, else 0 (sizes) or 8 (depth).
      {kImg + "/Width -1 /Height 4294967295 /BitsPerComponent 16", "", "Raw 0 4294967295 16 DeviceRGB"},
      {kImg + "/Width 4294967296 /Height 2.0 /BitsPerComponent 8.0", "", "Raw 0 0 8 DeviceRGB"},
      // Written after the data as indirect objects: followed.
      {kImg + "/Width 1204 /Height 11 0 R /BitsPerComponent 12 0 R", "", "Raw 1204 300 8 DeviceRGB"},
      {kImg + "/ColorSpace [/ICCBased 7 0 R]", "", "Raw 0 0 8 ICCBased"},
      {kImg + "/ColorSpace []", "", "Raw 0 0 8 Unknown"},
      {kImg + "/ColorSpace 8 0 R", "", "Raw 0 0 8 DeviceCMYK"},
      {kImg + "/ColorSpace 99 0 R", "", "Raw 0 0 8 DeviceRGB"},
      {"/Type /XObject /Width 2", "ab", ""},
      {kImg + "/Filter /NoSuchDecode", "ab", ""},
  };
  for (const auto& [entries, data, expected] : cases) {
    OpenFixture file(PdfFixture()
                         .stream(1, entries, data)
                         .object(7, "<< /N 3 >>")
                         .object(8, "/DeviceCMYK")
                         .object(11, "300")
                         .object(12, "-5"));
    std::vector<ParsedImage> images = extract_images(file.resolver(), parse_dict("<< /XObject << /Im0 1 0 R >> >>"));
    std::string got;
    for (const ParsedImage& im : images) {
      got += std::string(format_name(im.format)) + " " + std::to_string(im.width) + " " + std::to_string(im.height) +
             " " + std::to_string(im.bits_per_component) + " " + im.color_space;
      EXPECT_EQ(im.name, "Im0");
    }
    EXPECT_EQ(got, expected) << entries;  // "" when skipped
  }
}

TEST(ExtractImages, DictionaryOrderDuplicatesAndSkippedEntries) {
  const char* xobjects = "<< /Im2 1 0 R /Im1 1 0 R /Dict 4 0 R /Gone 99 0 R /Im3 2 0 R /Num 42 >>";
  OpenFixture file(PdfFixture()
                       .stream(1, kImg + "/Width 1", "x")
                       .stream(2, kImg + "/Width 2 /Filter /DCTDecode", kJpeg)
                       .object(4, "<< /Subtype /Image /Width 5 >>")  // a dictionary, not a stream
                       .object(5, xobjects)
                       .object(6, "42"));

  for (std::string resources : {std::string("<< /XObject ") + xobjects + " >>", std::string("<< /XObject 5 0 R >>")}) {
    std::vector<ParsedImage> images = extract_images(file.resolver(), parse_dict(resources));
    ASSERT_EQ(images.size(), 3u) << resources;
    EXPECT_EQ(images[0].name + images[1].name + images[2].name, "Im2Im1Im3");
    EXPECT_EQ(images[1].width, 1u);
    EXPECT_EQ(images[2].format, ImageFormat::Jpeg);
  }
  for (const char* resources : {"<< >>", "<< /XObject 99 0 R >>", "<< /XObject 6 0 R >>", "<< /XObject [1 0 R] >>"})
    EXPECT_TRUE(extract_images(file.resolver(), parse_dict(resources)).empty()) << resources;
}

}  // namespace
}  // namespace vellum
