// Form expansion as the text machine sees it: the text state carried in and
// given back, unbalanced, broken and recursive forms, and the hostile shapes
// (doubling chains, long cycles, a form drawn 100,000 times, the budgets).
// Placement and resources against the page drawing the same content are
// checked end to end in tests/test_forms.py.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "page/form.h"
#include "page/text.h"
#include "pdf_fixture.h"

namespace vellum {
namespace {

using testing::OpenFixture;
using testing::PdfFixture;

// Object 4 is the page's resources: /F1 shows "A" as "B" (its /Differences),
// and /X<n> names object n for every form number given. Object 7 is a plain
// font for forms to use as their own /F1. Glyphs are half an em wide.
struct Page {
  explicit Page(const std::map<uint32_t, std::string>& objects, uint32_t first_form = 10, uint32_t last_form = 19) {
    std::string xobjects;
    for (uint32_t n = first_form; n <= last_form; ++n)
      xobjects += "/X" + std::to_string(n) + " " + std::to_string(n) + " 0 R ";
    PdfFixture f;
    f.object(4, "<< /Font << /F1 6 0 R >> /XObject << " + xobjects + ">> >>")
        .object(6, "<< /Type /Font /Subtype /Type1 /Encoding << /Differences [65 /B] >> >>")
        .object(7, "<< /Type /Font /Subtype /Type1 >>");
    for (const auto& [num, body] : objects) f.object(num, body);
    open.emplace(f);
  }

  std::vector<TextRun> runs(const std::string& content, uint64_t* budget = nullptr) {
    ExpandedContent expanded = expand_forms(parse_content(as_bytes(content)), open->dict(4), open->resolver(),
                                            cache, budget);
    ops = expanded.content.ops.size();
    return extract_runs(expanded, font_maps(open->resolver(), expanded.resources, fonts));
  }

  std::optional<OpenFixture> open;
  FormCache cache;
  FontCache fonts;
  size_t ops = 0;  // of the last expansion
};

// A form stream object: dictionary entries and content.
std::string form(const std::string& entries, const std::string& content) {
  return "<< /Type /XObject /Subtype /Form " + entries + " /Length " + std::to_string(content.size()) +
         " >>\nstream\n" + content + "\nendstream";
}

// "text@x,y" per run.
std::string describe(const std::vector<TextRun>& runs) {
  std::string out;
  for (const TextRun& r : runs) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "@%g,%g", r.x, r.y);
    out += (out.empty() ? "" : " ") + r.text + buf;
  }
  return out;
}

const std::string kShowA = "BT /F1 10 Tf (A) Tj ET";
const std::string kOwnFonts = "/Resources << /Font << /F1 7 0 R >> >>";

TEST(ExpandForms, TextAsThePageWouldDrawIt) {
  const struct {
    const char* name;
    std::string content;
    std::map<uint32_t, std::string> objects;
    std::string runs;
  } cases[] = {
      // The font (not its name) carries in; a form's Tf ends with the form.
      {"inherited_resources_and_carried_text_state", "BT /F1 10 Tf 2 Tc ET /X10 Do /X11 Do BT (AA) Tj ET",
       {{10, form("", "BT (A) Tj /F1 20 Tf (A) Tj ET")}, {11, form(kOwnFonts, "BT (A) Tj /F1 4 Tf 0 Tc (A) Tj ET")}},
       "B@0,0 B@7,0 B@0,0 A@7,0 BB@0,0"},
      {"resources_that_are_a_reference_loop_count_as_absent", "/X10 Do",
       {{10, form("/Resources 20 0 R", kShowA)}, {20, "20 0 R"}},
       "B@0,0"},
      // Q without q inside a form does not restore the page's states, and
      // what the form leaves saved or set does not outlive it.
      {"unbalanced_forms_stay_inside", "q 1 0 0 1 100 0 cm /X10 Do /X11 Do BT (A) Tj ET Q BT (A) Tj ET",
       {{10, form("", "Q Q 1 0 0 1 0 500 cm")}, {11, form("", "q 1 0 0 1 0 7 cm q")}},
       "A@100,0 A@0,0"},
      {"cycle_of_two", "/X10 Do /X11 Do",
       {{10, form("", "BT (A) Tj ET /X11 Do")}, {11, form("", "BT (C) Tj ET /X10 Do")}},
       "A@0,0 C@0,0 C@0,0 A@0,0"},
      {"broken_forms_are_skipped", "/X10 Do /X11 Do /X13 Do /X14 Do /X16 Do BT (Z) Tj ET",
       {{10, "<< /Subtype /Form >>"},
        {11, form("/Filter /NoSuchFilter", "BT (A) Tj ET")},
        {13, form("/Matrix [1 0 0 1]", "BT (A) Tj ET")},
        {14, form("/Filter /FlateDecode", "not deflate data")},
        {16, "[/X16 Do]"}},
       "Z@0,0"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    Page page(tc.objects);
    EXPECT_EQ(describe(page.runs(tc.content)), tc.runs);
  }
}

std::string repeat(const std::string& s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// Hostile nesting: each returns at once, the page's own last run intact.
TEST(ExpandForms, HostileShapesStayLinear) {
  struct Hostile {
    const char* name;
    std::map<uint32_t, std::string> objects;
    std::string content;
    size_t form_runs;  // runs before the page's own "Z"
  };
  std::map<uint32_t, std::string> doubling, many;
  for (uint32_t n = 10; n < 110; ++n) {
    const std::string next = "/X" + std::to_string(n + 1) + " Do ";
    doubling[n] = form("", "BT (a) Tj ET " + next + next);
  }
  many[10] = form("", "BT (a) Tj ET");
  // 300,000 operators: a dozen draws exhaust the page's budget of 2^22.
  many[11] = form("", repeat("0 0 m ", 300000));
  const Hostile cases[] = {
      // Depth 16 is the last entered: 2^16 - 1 forms show their "a". (A cycle
      // longer than that ends at the same depth; a short one: cycle_of_two.)
      {"chain_100_deep_drawing_the_next_twice", doubling, "/X10 Do", (size_t{1} << kMaxFormDepth) - 1},
      {"drawn_100000_times", many, repeat("/X10 Do ", 100000), 100000},
      {"past_the_page_budget", many, repeat("/X11 Do ", 100), 0},
  };
  for (const Hostile& tc : cases) {
    SCOPED_TRACE(tc.name);
    Page page(tc.objects, 10, 110);
    std::vector<TextRun> runs = page.runs(tc.content + " BT (Z) Tj ET");
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.back().text, "Z");
    EXPECT_EQ(runs.size() - 1, tc.form_runs);
    EXPECT_LT(page.ops, 100000 * 2 + kMaxPageFormWork);
    // The budget case enters what its budget allows, no less: 600,006
    // operands copied once, then 300,005 operators per draw.
    if (tc.form_runs == 0) {
      EXPECT_GT(page.ops, 11 * 300000u);
    }
  }
}

// A form is decoded once per document (tests/test_forms.py), counting its
// bytes against the content budget then; one that does not fit is skipped.
TEST(ExpandForms, SkippedPastTheBudget) {
  const std::string body = "BT (A) Tj ET " + std::string(1000, ' ');
  Page small({{10, form("", body)}});
  uint64_t too_little = body.size() - 1;
  EXPECT_EQ(describe(small.runs("/X10 Do BT (Z) Tj ET", &too_little)), "Z@0,0");
  EXPECT_EQ(too_little, body.size() - 1);
}

}  // namespace
}  // namespace vellum
