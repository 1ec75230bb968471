// The page tree (pages in order with inherited attributes) and the assembly
// of one page's decoded content bytes.
#pragma once

#include <array>
#include <vector>

#include "syntax/object.h"
#include "file/resolver.h"

namespace vellum {

// A node deeper than this below the root fails with "page tree too deep".
inline constexpr int kMaxPageTreeDepth = 64;

struct Page {
  const Dictionary* dict = nullptr;       // the page object's own dictionary (resolver-owned)
  const Dictionary* resources = nullptr;  // never null: an empty dictionary when there is none
  std::array<double, 4> media_box{0, 0, 612, 792};
  int rotate = 0;
};

Result<std::vector<Page>> collect_pages(const Resolver& resolver, const Dictionary& catalog);
// The page's decoded content. With `budget`, every decoded stream counts
// against it and a decode that would exceed it fails with
// content_budget_spent(): the driver gives each document one budget, so a
// content stream that inflates to the per-stream limit cannot be decoded
// again for every page that shares it. `storage` lends its capacity to the
// result (see decode_stream()).
Result<Bytes> page_content(const Resolver& resolver, const Dictionary& page, uint64_t* budget = nullptr,
                           Bytes storage = {});

// The document-wide budget for decoded page content.
inline constexpr uint64_t kMaxDocumentContent = uint64_t{4} << 30;

inline Error content_budget_spent() {
  return make_error(ErrorKind::BadStream, "decoded page content exceeds the document's budget");
}

}  // namespace vellum
