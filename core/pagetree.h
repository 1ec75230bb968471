// The page tree (pages in order with inherited attributes) and the assembly
// of one page's decoded content bytes.
#pragma once

#include <array>
#include <vector>

#include "object.h"
#include "resolver.h"

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
Result<Bytes> page_content(const Resolver& resolver, const Dictionary& page);

}  // namespace vellum
