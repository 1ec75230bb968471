// The extraction driver: an opened document to its extracted form.
#pragma once

#include <cstdint>
#include <span>

#include "file/doc.h"
#include "model/extracted_doc.h"

namespace vellum {

// Which pages to extract: every page in document order (`all`), or the
// listed 0-based indices in the order given, negative ones counting from the
// end. An index outside the document fails with PageOutOfRange.
struct PageSelection {
  bool all = true;
  std::span<const int64_t> indices;
};

// Only the selected pages' content is decoded.
Result<ExtractedDoc> extract(const Document& doc, PageSelection selection = {});

// The 0-based pages `selection` names in a document of `count` pages.
Result<std::vector<size_t>> resolve_selection(PageSelection selection, size_t count);

}  // namespace vellum
