// Document information: text strings, dates, indirect and wrong-kind entries,
// and outlines the file can make loop or nest without end. What other writers
// produce is read in tests/test_api.py (against PyMuPDF).
#include <gtest/gtest.h>

#include "extract/info.h"
#include "pdf_fixture.h"

using namespace vellum;
using namespace std::string_literals;
using vellum::testing::PdfFixture;

TEST(Info, TextStrings) {
  const std::pair<std::string, std::string> cases[] = {
      // UTF-16BE: a lone last byte, a high surrogate before a pair or a byte, a lone low one.
      {"\xFE\xFF\x00H\x26\x03\x42"s, "H\xE2\x98\x83" "B"},
      {"\xFE\xFF\xD8\x00\xD8\x3D\xDE\x00"s, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {"\xFE\xFF\xD8\x00\x41"s, "\xEF\xBF\xBD" "A"},
      {"\xFE\xFF\xDC\x00\x00\x42"s, "\xEF\xBF\xBD" "B"},
      {"\xFE\xFF\x00\x1B\x00" "e\x00n\x00\x1B\x00H\x00i"s, "Hi"},                     // a language escape
      {"\xEF\xBB\xBFk\xC3\xA9", "k\xC3\xA9"},                                        // UTF-8 (PDF 2.0)
      {"\x93\x8D\x84\xA0\xE9\x18", "\xEF\xAC\x81\xE2\x80\x9C\xE2\x80\x94\xE2\x82\xAC\xC3\xA9\xCB\x98"},  // PDFDoc
      {"\x9F", "\xEF\xBF\xBD"},                                                      // undefined code
  };
  for (const auto& [bytes, utf8] : cases) EXPECT_EQ(decode_text_string(bytes), utf8) << bytes;
}

TEST(Info, Dates) {
  const std::pair<const char*, const char*> cases[] = {  // "-": not a date
      {"D:20240501123000-05'30", "2024-05-01T12:30:00-05:30"}, {"D:20240501123000Z00'00'", "2024-05-01T12:30:00+00:00"},
      {"D:20240501123000Z", "2024-05-01T12:30:00+00:00"},      {"D:2024", "2024-01-01T00:00:00"},
      {"D:202405011230", "2024-05-01T12:30:00"},              {"20240501", "2024-05-01T00:00:00"},
      {"D:20240501123000+", "2024-05-01T12:30:00"},           {"D:20241301", "-"},
      {"D:2024050", "-"}, {"D:20240501250000", "-"}, {"Tue May 1 2024", "-"}, {"", "-"},
  };
  for (const auto& [pdf, iso] : cases) EXPECT_EQ(iso_date(pdf).value_or("-"), iso) << pdf;
}

namespace {

// Three pages (objects 3, 4, 5) and the catalog entries `catalog`.
PdfFixture three_pages(const std::string& catalog) {
  PdfFixture f;
  f.object(1, "<< /Type /Catalog /Pages 2 0 R " + catalog + " >>")
      .object(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>")
      .object(3, "<< /Type /Page /Parent 2 0 R >>")
      .object(4, "<< /Type /Page /Parent 2 0 R >>")
      .object(5, "<< /Type /Page /Parent 2 0 R >>");
  return f;
}

DocumentInfo info_of(const PdfFixture& f) {
  std::string file = f.build();
  auto doc = Document::parse_with_password(as_bytes(file), {});
  EXPECT_TRUE(doc);
  auto info = read_info(*doc);
  EXPECT_TRUE(info) << info.error().display();
  return info ? *info : DocumentInfo{};
}

std::vector<std::string> outline_lines(const PdfFixture& f) {
  const DocumentInfo info = info_of(f);
  std::vector<std::string> lines;
  for (const OutlineItem& item : info.outline)
    lines.push_back(std::to_string(item.level) + " " + item.title + " " +
                    (item.page ? std::to_string(*item.page) : "-"));
  return lines;
}

}  // namespace

// Titles, authors, dates, the page count and the HTML title as other writers
// produce them: tests/test_api.py. Here: indirect and wrong-kind
// entries.
TEST(Info, InformationDictionary) {
  PdfFixture f = three_pages("");
  f.object(9, "<< /Producer 10 0 R /ModDate (garbage) /Subject 42 >>")
      .object(10, "(indirect \\(producer\\))")
      .trailer("/Root 1 0 R /Info 9 0 R");
  const DocumentInfo info = info_of(f);
  EXPECT_EQ(info.producer, "indirect (producer)");
  EXPECT_EQ(info.subject, std::nullopt);  // not a string
  EXPECT_EQ(info.modification_date, std::nullopt);
}

TEST(Info, OutlineDestinationsAndNesting) {
  PdfFixture f = three_pages("/Outlines 20 0 R /Dests << /second [4 0 R /Fit] >> /Names << /Dests 30 0 R >>");
  f.object(20, "<< /First 21 0 R >>")
      .object(21, "<< /Title (One) /Dest [3 0 R /XYZ 0 0 0] /First 22 0 R /Next 24 0 R >>")
      .object(22, "<< /Title (One.a) /Dest /second /Next 23 0 R >>")
      .object(23, "<< /Title (One.b) /A << /S /GoTo /D (third) >> >>")
      .object(24, "<< /Title (Two) /A << /S /URI /URI (http://example.com) >> /Next 25 0 R >>")
      .object(25, "<< /Title (Three) /Dest [99 0 R /Fit] /Next 21 0 R >>")  // loops back to One
      .object(30, "<< /Kids [31 0 R 30 0 R] >>")                                // a tree that holds itself
      .object(31, "<< /Names [(third) << /D [5 0 R /Fit] >>] >>");
  EXPECT_EQ(outline_lines(f),
            (std::vector<std::string>{"1 One 0", "2 One.a 1", "2 One.b 2", "1 Two -", "1 Three -"}));
}

TEST(Info, OutlineDepthIsBounded) {
  // Each item is the only child of the one before, far deeper than listed;
  // the last one points back to the first.
  const uint32_t kItems = kMaxOutlineDepth + 20;
  PdfFixture f = three_pages("/Outlines 20 0 R");
  f.object(20, "<< /First 21 0 R >>");
  for (uint32_t i = 0; i < kItems; ++i) {
    uint32_t next = i + 1 < kItems ? 22 + i : 21;
    f.object(21 + i, "<< /Title (x) /Dest [4 0 R /Fit] /First " + std::to_string(next) + " 0 R >>");
  }
  std::vector<std::string> lines = outline_lines(f);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kMaxOutlineDepth));
  EXPECT_EQ(lines.back(), std::to_string(kMaxOutlineDepth) + " x 1");
}
