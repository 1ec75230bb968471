// The page tree and page content assembly.
#include <gtest/gtest.h>

#include "syntax/cos.h"
#include "page/pagetree.h"
#include "pdf_fixture.h"

using namespace vellum;
using vellum::testing::OpenFixture;
using vellum::testing::parse_dict;
using vellum::testing::PdfFixture;

namespace {

// The pages hold pointers into `o`'s resolver.
Result<std::vector<Page>> pages_of(const OpenFixture& o) {
  auto catalog = o.resolver().resolve_dict(*o.resolver().xref().trailer.get("Root"));
  if (!catalog) return catalog.error();
  return collect_pages(o.resolver(), **catalog);
}

}  // namespace

TEST(PageTree, InheritanceAndDefaults) {
  PdfFixture f;
  f.object(1, "<< /Pages 2 0 R >>")
      .object(2, "<< /Kids [3 0 R 4 0 R 5 0 R 3 0 R] /MediaBox [0 0 595 842] /Rotate -90 /Resources << /Font << >> >> >>")
      .object(3, "<< /Type /Page >>")
      .object(4, "<< /MediaBox [0 0 612] /Rotate 90.0 /Resources 99 0 R >>")
      .object(5, "<< /MediaBox [0 0 /X 100 200] /Rotate 450 >>");
  OpenFixture o(f);
  auto pages = pages_of(o);
  ASSERT_TRUE(pages) << pages.error().display();
  ASSERT_EQ(pages->size(), 3u);  // the repeated kid is listed once
  EXPECT_EQ((*pages)[0].media_box, (std::array<double, 4>{0, 0, 595, 842}));
  EXPECT_EQ((*pages)[0].rotate, 270);
  EXPECT_TRUE((*pages)[0].resources->contains("Font"));
  EXPECT_EQ((*pages)[1].media_box, (std::array<double, 4>{0, 0, 595, 842}));  // three numbers: inherited
  EXPECT_EQ((*pages)[1].rotate, 270);                                         // a real: inherited
  EXPECT_TRUE((*pages)[1].resources->empty());                                // missing object: empty
  EXPECT_EQ((*pages)[2].media_box, (std::array<double, 4>{0, 0, 100, 200}));
  EXPECT_EQ((*pages)[2].rotate, 90);
}

TEST(PageTree, RootWithoutKidsAndDefaultBox) {
  OpenFixture o(PdfFixture().object(1, "<< /Pages << /Contents 9 0 R >> >>"));
  auto pages = pages_of(o);
  ASSERT_TRUE(pages);
  ASSERT_EQ(pages->size(), 1u);
  EXPECT_EQ((*pages)[0].media_box, (std::array<double, 4>{0, 0, 612, 792}));
}

TEST(PageTree, LoopsAndIndirectKids) {
  PdfFixture f;
  f.object(1, "<< /Pages 2 0 R >>")
      .object(2, "<< /Kids 6 0 R >>")  // an indirect /Kids array
      .object(6, "[3 0 R 4 0 R]")
      .object(3, "<< /Kids [4 0 R 3 0 R 2 0 R] >>")  // back to itself, and to the root
      .object(4, "<< /Type /Page >>");
  OpenFixture o(f);
  auto pages = pages_of(o);
  ASSERT_TRUE(pages) << pages.error().display();
  EXPECT_EQ(pages->size(), 1u);
}

// Arrays 10..59 each hold two direct nodes whose /Kids is the next array:
// walked naively that is 2^50 visits. Every dictionary is visited once, so
// the two pages at the bottom come out once each.
TEST(PageTree, SharedKidsArraysOfDirectNodes) {
  PdfFixture f;
  f.object(1, "<< /Pages << /Kids 10 0 R >> >>");
  for (uint32_t n = 10; n < 60; ++n) {
    const std::string next = std::to_string(n + 1) + " 0 R";
    f.object(n, "[<< /Kids " + next + " >> << /Kids " + next + " >>]");
  }
  f.object(60, "[<< /Type /Page /Rotate 90 >> << /Type /Page >>]");
  OpenFixture o(f);
  auto pages = pages_of(o);
  ASSERT_TRUE(pages) << pages.error().display();
  ASSERT_EQ(pages->size(), 2u);
  EXPECT_EQ((*pages)[0].rotate, 90);
}

TEST(PageTree, Errors) {
  auto depth_chain = [](int levels) {
    PdfFixture f;
    f.object(1, "<< /Pages 2 0 R >>");
    for (int i = 0; i < levels; ++i)
      f.object(2 + i, "<< /Kids [" + std::to_string(3 + i) + " 0 R] >>");
    f.object(2 + levels, "<< /Type /Page >>");
    return f;
  };
  struct Case {
    PdfFixture fixture;
    const char* error;
  } cases[] = {
      {PdfFixture().object(1, "<< >>"), "InvalidObject: catalog has no /Pages"},
      {PdfFixture().object(1, "<< /Pages 2 0 R >>").object(2, "<< /Kids 3 0 R >>").object(3, "<< >>"),
       "InvalidObject: /Kids not array"},
      {PdfFixture().object(1, "<< /Pages 2 0 R >>").object(2, "<< /Kids [5 0 R] >>"),
       "ObjectNotFound: no such object"},
      {depth_chain(66), "InvalidObject: page tree too deep"},
  };
  for (Case& c : cases) {
    OpenFixture o(c.fixture);
    auto pages = pages_of(o);
    EXPECT_EQ(pages ? std::string("ok") : pages.error().display(), c.error);
  }
  OpenFixture o(depth_chain(64));
  auto ok = pages_of(o);
  ASSERT_TRUE(ok) << ok.error().display();
  EXPECT_EQ(ok->size(), 1u);
}

TEST(PageContent, Assembly) {
  PdfFixture f = PdfFixture::one_page("");
  f.stream(4, "", "BT ET").stream(5, "", "q").stream(6, "", "Q").object(7, "12");
  OpenFixture o(f);
  auto content = [&](const char* contents) -> std::string {
    auto r = page_content(o.resolver(), parse_dict(contents));
    return r ? std::string(r->begin(), r->end()) : r.error().display();
  };
  EXPECT_EQ(content("<< /Contents 4 0 R >>"), "BT ET");
  EXPECT_EQ(content("<< /Contents [4 0 R 5 0 R] >>"), "BT ET\nq\n");
  EXPECT_EQ(content("<< /Contents [5 0 R 7 0 R 6 0 R] >>"), "q\nQ\n");
  EXPECT_EQ(content("<< /Contents [4 0 R 8 0 R] >>"), "ObjectNotFound: no such object");
  EXPECT_EQ(content("<< /Contents 7 0 R >>"), "");
  EXPECT_EQ(content("<< >>"), "");
}

// One budget across pages: a stream shared by every page counts each time it
// is decoded, and the decode that would pass the budget fails.
TEST(PageContent, DocumentBudget) {
  PdfFixture f = PdfFixture::one_page("");
  f.stream(4, "", std::string(40, 'x')).stream(5, "", "q");
  OpenFixture o(f);
  const Resolver& r = o.resolver();
  Dictionary shared = parse_dict("<< /Contents 4 0 R >>");
  Dictionary array = parse_dict("<< /Contents [5 0 R 4 0 R] >>");
  uint64_t budget = 100;
  EXPECT_TRUE(page_content(r, shared, &budget));
  EXPECT_TRUE(page_content(r, shared, &budget));
  EXPECT_EQ(budget, 20u);
  EXPECT_EQ(page_content(r, array, &budget).error().display(), "BadStream: decoded page content exceeds the document's budget");
  uint64_t exact = 40;
  EXPECT_TRUE(page_content(r, shared, &exact));  // exactly the budget still decodes
  EXPECT_EQ(exact, 0u);
}
