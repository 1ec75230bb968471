// The page tree and page content assembly: inheritance, loops, the depth
// limit, and the document's content budget.
#include <gtest/gtest.h>

#include <cstdio>

#include "syntax/cos.h"
#include "page/pagetree.h"
#include "pdf_fixture.h"

using namespace vellum;
using vellum::testing::OpenFixture;
using vellum::testing::parse_dict;
using vellum::testing::PdfFixture;

namespace {

// The pages as "box rotation fonts?" joined by " | ", or the error.
std::string pages_of(const PdfFixture& f) {
  OpenFixture o(f);
  auto catalog = o.resolver().resolve_dict(*o.resolver().xref().trailer.get("Root"));
  if (!catalog) return catalog.error().display();
  auto pages = collect_pages(o.resolver(), **catalog);
  if (!pages) return pages.error().display();
  std::string out;
  for (const Page& p : *pages) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%g %g %g %g r%d%s", p.media_box[0], p.media_box[1], p.media_box[2],
                  p.media_box[3], p.rotate, p.resources->contains("Font") ? " fonts" : "");
    out += (out.empty() ? "" : " | ") + std::string(buf);
  }
  return out;
}

// A chain of `levels` intermediate nodes above one page.
PdfFixture depth_chain(int levels) {
  PdfFixture f;
  f.object(1, "<< /Pages 2 0 R >>");
  for (int i = 0; i < levels; ++i) f.object(2 + i, "<< /Kids [" + std::to_string(3 + i) + " 0 R] >>");
  f.object(2 + levels, "<< /Type /Page >>");
  return f;
}

}  // namespace

TEST(PageTree, Shapes) {
  // (Direct nodes in /Kids arrays that many parents share, each visited
  // once: tests/test_hostile.py.)
  const std::pair<PdfFixture, const char*> cases[] = {
      // Inherited box, rotation and resources; a three-number box and a real
      // rotation are inherited; a missing resources object is empty; the
      // repeated kid is listed once.
      {PdfFixture()
           .object(1, "<< /Pages 2 0 R >>")
           .object(2, "<< /Kids [3 0 R 4 0 R 5 0 R 3 0 R] /MediaBox [0 0 595 842] /Rotate -90 "
                      "/Resources << /Font << >> >> >>")
           .object(3, "<< /Type /Page >>")
           .object(4, "<< /MediaBox [0 0 612] /Rotate 90.0 /Resources 99 0 R >>")
           .object(5, "<< /MediaBox [0 0 /X 100 200] /Rotate 450 >>"),
       "0 0 595 842 r270 fonts | 0 0 595 842 r270 | 0 0 100 200 r90 fonts"},
      {PdfFixture().object(1, "<< /Pages << /Contents 9 0 R >> >>"), "0 0 612 792 r0"},
      // An indirect /Kids array; a node listing itself and the root.
      {PdfFixture()
           .object(1, "<< /Pages 2 0 R >>")
           .object(2, "<< /Kids 6 0 R >>")
           .object(6, "[3 0 R 4 0 R]")
           .object(3, "<< /Kids [4 0 R 3 0 R 2 0 R] >>")
           .object(4, "<< /Type /Page >>"),
       "0 0 612 792 r0"},
      {depth_chain(64), "0 0 612 792 r0"},
      {depth_chain(66), "InvalidObject: page tree too deep"},
      {PdfFixture().object(1, "<< /Pages 2 0 R >>").object(2, "<< /Kids 3 0 R >>").object(3, "<< >>"),
       "InvalidObject: /Kids not array"},
      {PdfFixture().object(1, "<< /Pages 2 0 R >>").object(2, "<< /Kids [5 0 R] >>"),
       "ObjectNotFound: no such object"},
  };
  for (const auto& [fixture, pages] : cases) EXPECT_EQ(pages_of(fixture), pages);
}

// Arrays of streams are joined with line feeds; one budget across pages: a
// stream shared by every page counts each time it is decoded, and the decode
// that would pass the budget fails.
TEST(PageContent, AssemblyAndDocumentBudget) {
  PdfFixture f = PdfFixture::one_page("");
  f.stream(4, "", std::string(40, 'x')).stream(5, "", "q").stream(6, "", "Q").object(7, "12");
  OpenFixture o(f);
  auto content = [&](const char* contents, uint64_t* budget = nullptr) -> std::string {
    auto r = page_content(o.resolver(), parse_dict(contents), budget);
    return r ? std::string(r->begin(), r->end()) : r.error().display();
  };
  EXPECT_EQ(content("<< /Contents [5 0 R 7 0 R 6 0 R] >>"), "q\nQ\n");
  EXPECT_EQ(content("<< /Contents 7 0 R >>"), "");
  uint64_t budget = 100;
  EXPECT_EQ(content("<< /Contents 4 0 R >>", &budget), std::string(40, 'x'));
  EXPECT_EQ(content("<< /Contents 4 0 R >>", &budget), std::string(40, 'x'));
  EXPECT_EQ(budget, 20u);
  EXPECT_EQ(content("<< /Contents [5 0 R 4 0 R] >>", &budget),
            "BadStream: decoded page content exceeds the document's budget");
  uint64_t exact = 40;
  EXPECT_EQ(content("<< /Contents 4 0 R >>", &exact), std::string(40, 'x'));  // exactly the budget still decodes
  EXPECT_EQ(exact, 0u);
}
