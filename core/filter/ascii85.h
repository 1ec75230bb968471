// ASCII85Decode: base-85 text to bytes.
#pragma once

#include "filter/filter.h"

namespace vellum {

// Fails with BadStream "bad ASCII85 data" (or "decoded stream too large").
Result<Bytes> ascii85_decode(ByteSpan data, uint64_t limit = kMaxDecodedStream);

}  // namespace vellum
