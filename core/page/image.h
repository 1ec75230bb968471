// Image XObjects of a page's resources.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/extracted_doc.h"
#include "syntax/object.h"
#include "file/resolver.h"

namespace vellum {


// The decoded image bytes the checks of one document may produce. Once it is
// spent, later images are listed as their dictionaries describe them,
// without the check, so a file of many image bombs costs this much once.
inline constexpr uint64_t kMaxDocumentImageChecks = uint64_t{1} << 30;

// Whether each image stream's filters decode, remembered for the document:
// an image shared by many pages (a logo, or a hostile stream that inflates
// to the 1 GiB limit) is decoded once, not once per page. Keyed by the
// stream's address, which is stable for the resolver's life.
struct ImageCheckCache {
  std::unordered_map<const Stream*, bool> decodes;
  uint64_t budget = kMaxDocumentImageChecks;
};

std::vector<ParsedImage> extract_images(const Resolver& resolver, const Dictionary& resources,
                                        ImageCheckCache* checked = nullptr);

}  // namespace vellum
