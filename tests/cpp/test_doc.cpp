// Document open: header, version, trailer checks. An empty file and the
// plain version: tests/test_api.py.
#include <gtest/gtest.h>

#include "file/doc.h"
#include "pdf_fixture.h"

using namespace vellum;
using vellum::testing::PdfFixture;

namespace {

std::string open_error(const std::string& file, const std::string& password = "") {
  auto doc = Document::parse_with_password(as_bytes(file), as_bytes(password));
  if (!doc) return doc.error().display();
  return "ok " + doc->version();
}

}  // namespace

// The header is searched for in the first 1024 bytes; the version is what
// follows "%PDF-", cut at eight bytes. A trailer without /Root, or whose
// /Encrypt is missing, fails with its own error.
TEST(Document, HeaderVersionAndTrailer) {
  auto with_header = [](std::string header) { return PdfFixture::one_page("").header(std::move(header)).build(); };
  const std::string junk(1019, 'j');
  EXPECT_EQ(open_error("%PDF"), "InvalidHeader: no %PDF- header");
  EXPECT_EQ(open_error(with_header(junk.substr(0, 500) + PdfFixture::kHeader)), "ok 1.7");
  EXPECT_EQ(open_error(with_header(junk + PdfFixture::kHeader)), "ok 1.7");
  EXPECT_EQ(open_error(with_header(junk + "j" + PdfFixture::kHeader)), "InvalidHeader: no %PDF- header");
  EXPECT_EQ(open_error(with_header("%PDF-1.7\f12345678\n")), "ok 1.7\f1234");
  EXPECT_EQ(open_error(PdfFixture().object(1, "<< >>").trailer("").build()),
            "MissingTrailer: trailer has no /Root");
  EXPECT_EQ(open_error(PdfFixture::one_page("").trailer("/Root 1 0 R /Encrypt 9 0 R").build()),
            "ObjectNotFound: no such object");
}
