// The extraction driver's failure rules.
#include <gtest/gtest.h>

#include "extract/extract.h"
#include "pdf_fixture.h"

using namespace vellum;
using vellum::testing::PdfFixture;

TEST(Extract, FailureRules) {
  PdfFixture empty;
  empty.object(1, "<< /Pages 2 0 R >>").object(2, "<< /Kids [] >>");
  std::string empty_file = empty.build();  // the document borrows the bytes
  auto doc = Document::parse_with_password(as_bytes(empty_file), {});
  ASSERT_TRUE(doc);
  auto out = extract(*doc);
  ASSERT_TRUE(out) << out.error().display();
  EXPECT_TRUE(out->pages.empty());
  EXPECT_EQ(out->version, "1.7");

  std::string broken = PdfFixture::one_page("/Contents 4 0 R").stream(4, "/Filter /NoSuchDecode", "x").build();
  auto bad = Document::parse_with_password(as_bytes(broken), {});
  ASSERT_TRUE(bad);
  EXPECT_EQ(extract(*bad).error().display(), "Unsupported: unsupported filter: NoSuchDecode");

  std::string missing = PdfFixture::one_page("/Contents 4 0 R").build();
  auto m = Document::parse_with_password(as_bytes(missing), {});
  EXPECT_EQ(extract(*m).error().display(), "ObjectNotFound: no such object");
}
