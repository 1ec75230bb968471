// The extraction driver: an opened document to its extracted form.
#pragma once

#include "file/doc.h"
#include "model/extracted_doc.h"

namespace vellum {

Result<ExtractedDoc> extract(const Document& doc);

}  // namespace vellum
