// Form XObjects entered as part of the page: a page's operators with every
// `Do` of a form replaced, in place, by the form's own operators, so that the
// text machine and the table detector see form content exactly as if the
// page had drawn it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "file/resolver.h"
#include "font/font.h"
#include "page/content.h"

namespace vellum {

// Pseudo-operators that bracket a form's operators in expanded content. Their
// names hold a delimiter, so no content stream can produce them. kEnterForm
// has one integer operand, the index of the resources in force inside the
// form (into ExpandedContent::resources); kLeaveForm returns to what was in
// force before the matching kEnterForm.
inline constexpr std::string_view kEnterForm = "{F";
inline constexpr std::string_view kLeaveForm = "}F";

// A form drawn inside forms deeper than this is skipped.
inline constexpr int kMaxFormDepth = 16;
// What forms may add to one page (operators emitted plus operands copied),
// and to one document: nesting multiplies draws, the budgets keep the work
// linear (a page stops entering forms where its budget ends).
inline constexpr uint64_t kMaxPageFormWork = uint64_t{1} << 22;
inline constexpr uint64_t kMaxDocumentFormWork = uint64_t{1} << 28;

// Shared by the pages of one document: forms decoded and parsed once (by
// stream, whose address is stable in the resolver's cache), the /XObject
// names of each resources dictionary, and the document's work budget.
struct FormCache {
  struct Form;
  struct XObjectNames;
  FormCache();
  ~FormCache();
  std::unordered_map<const Stream*, std::shared_ptr<const Form>> forms;
  std::unordered_map<const Dictionary*, std::unique_ptr<XObjectNames>> names;
  uint64_t cached_bytes = 0;  // parsed size of the forms held in `forms`
  uint64_t work_left = kMaxDocumentFormWork;
};

struct ExpandedContent {
  ContentOps content;
  // [0] is the page's resources; each other entry is a resources dictionary
  // some form was drawn with. All live in the resolver's cache (or are the
  // page's), so they outlive the expansion.
  std::vector<const Dictionary*> resources;
};

// Never fails: a form that cannot be read (not a stream, undecodable, a
// /Matrix with a non-number) is skipped at its `Do`, as is one that recurs
// inside itself, one deeper than kMaxFormDepth, and every form past the
// budgets. Each decode counts against `content_budget` when given.
ExpandedContent expand_forms(ContentOps page, const Dictionary& page_resources, const Resolver& resolver,
                             FormCache& cache, uint64_t* content_budget = nullptr);

// One font map per entry of `resources`, through the document's font cache.
std::vector<std::shared_ptr<const FontMap>> font_maps(const Resolver& resolver,
                                                      std::span<const Dictionary* const> resources,
                                                      FontCache& cache);

}  // namespace vellum
