// The extraction driver's failure rules: a page that cannot be read fails the
// whole extraction, unless the selection leaves it out (then it is not even
// decoded). The messages users see for broken files, and a document without
// pages: tests/test_api.py.
#include <gtest/gtest.h>

#include "extract/extract.h"
#include "pdf_fixture.h"

using namespace vellum;
using vellum::testing::PdfFixture;

TEST(Extract, FailureRules) {
  std::string missing = PdfFixture::one_page("/Contents 4 0 R").build();
  auto m = Document::parse_with_password(as_bytes(missing), {});
  EXPECT_EQ(extract(*m).error().display(), "ObjectNotFound: no such object");

  PdfFixture f;
  f.object(1, "<< /Pages 2 0 R >>").object(2, "<< /Kids [3 0 R 4 0 R 4 0 R] >>").object(4, "<< /Type /Page >>");
  f.object(3, "<< /Type /Page /Contents 6 0 R >>").stream(6, "/Filter /NoSuchDecode", "x");
  std::string broken = f.build();
  auto bad = Document::parse_with_password(as_bytes(broken), {});
  ASSERT_TRUE(bad);
  EXPECT_EQ(extract(*bad).error().display(), "Unsupported: unsupported filter: NoSuchDecode");
  const int64_t others[] = {-1, 1};
  auto chosen = extract(*bad, PageSelection{false, others});
  ASSERT_TRUE(chosen) << chosen.error().display();
  EXPECT_EQ(chosen->pages.size(), 2u);
}

// The order, negative indices and messages are checked through the Python
// functions (tests/test_api.py); here the extremes of int64_t,
// whose negation overflows.
TEST(Extract, PageSelectionExtremes) {
  for (int64_t bad : {INT64_MAX, INT64_MIN}) {
    const int64_t one[] = {bad};
    auto got = resolve_selection(PageSelection{false, one}, 3);
    ASSERT_FALSE(got) << bad;
    EXPECT_EQ(got.error().kind, ErrorKind::PageOutOfRange);
  }
}
