// Document open: header, version, trailer checks; the extraction driver's
// failure rules.
#include <gtest/gtest.h>

#include "doc.h"
#include "pdf_fixture.h"

using namespace vellum;
using vellum::testing::PdfFixture;

namespace {

// The fixture's file with its header replaced by `header` (offsets shifted by
// prepending junk keep working only when the table is rebuilt, so the junk
// goes in front of a file whose offsets are corrected by a second build).
std::string with_prefix(const std::string& prefix, PdfFixture f) {
  std::string file = f.build();
  // Shift every offset: rebuild the table by reading it back.
  std::string shifted = prefix + file;
  size_t xref_at = shifted.find("xref\n");
  std::string out = shifted.substr(0, xref_at);
  std::string table = shifted.substr(xref_at);
  size_t p = 0;
  while ((p = table.find(" 00000 n", p)) != std::string::npos) {
    size_t start = p - 10;
    uint64_t off = std::stoull(table.substr(start, 10)) + prefix.size();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%010llu", static_cast<unsigned long long>(off));
    table.replace(start, 10, buf);
    p += 8;
  }
  size_t sx = table.find("startxref\n") + 10;
  size_t nl = table.find('\n', sx);
  table.replace(sx, nl - sx, std::to_string(xref_at));
  return out + table;
}

std::string open_error(const std::string& file, const std::string& password = "") {
  auto doc = Document::parse_with_password(as_bytes(file), as_bytes(password));
  if (!doc) return doc.error().display();
  return "ok " + doc->version();
}

}  // namespace

TEST(Document, HeaderAndVersion) {
  PdfFixture f = PdfFixture::one_page("");
  EXPECT_EQ(open_error(""), "InvalidHeader: no %PDF- header");
  EXPECT_EQ(open_error("%PDF"), "InvalidHeader: no %PDF- header");
  EXPECT_EQ(open_error(f.build()), "ok 1.7");
  EXPECT_EQ(open_error(with_prefix(std::string(500, 'j'), f)), "ok 1.7");
  EXPECT_EQ(open_error(with_prefix(std::string(1019, 'j'), f)), "ok 1.7");
  EXPECT_EQ(open_error(with_prefix(std::string(1020, 'j'), f)), "InvalidHeader: no %PDF- header");
}

TEST(Document, VersionIsCutAtEightBytes) {
  // Same length replacement keeps the offsets valid.
  std::string file = PdfFixture::one_page("").build();
  std::string header = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n";
  std::string replaced = "%PDF-1.7\f12345678\n";
  ASSERT_EQ(header.size() + 3, replaced.size());
  file.replace(0, header.size(), replaced.substr(0, header.size()));
  auto doc = Document::parse_with_password(as_bytes(file), {});
  ASSERT_TRUE(doc) << doc.error().display();
  EXPECT_EQ(doc->version(), "1.7\f1234");
}

TEST(Document, TrailerAndEncryptErrors) {
  EXPECT_EQ(open_error(PdfFixture().object(1, "<< >>").trailer("").build()),
            "MissingTrailer: trailer has no /Root");
  EXPECT_EQ(open_error(PdfFixture::one_page("").trailer("/Root 1 0 R /Encrypt 9 0 R").build()),
            "ObjectNotFound: no such object");
}

TEST(Document, ExtractRules) {
  PdfFixture empty;
  empty.object(1, "<< /Pages 2 0 R >>").object(2, "<< /Kids [] >>");
  std::string empty_file = empty.build();  // the document borrows the bytes
  auto doc = Document::parse_with_password(as_bytes(empty_file), {});
  ASSERT_TRUE(doc);
  auto out = doc->extract();
  ASSERT_TRUE(out) << out.error().display();
  EXPECT_TRUE(out->pages.empty());
  EXPECT_EQ(out->version, "1.7");

  std::string broken = PdfFixture::one_page("/Contents 4 0 R").stream(4, "/Filter /NoSuchDecode", "x").build();
  auto bad = Document::parse_with_password(as_bytes(broken), {});
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->extract().error().display(), "Unsupported: unsupported filter: NoSuchDecode");

  std::string missing = PdfFixture::one_page("/Contents 4 0 R").build();
  auto m = Document::parse_with_password(as_bytes(missing), {});
  EXPECT_EQ(m->extract().error().display(), "ObjectNotFound: no such object");
}
