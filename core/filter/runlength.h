// RunLengthDecode: the PackBits-style run-length scheme of the PDF standard.
#pragma once

#include "filter/filter.h"

namespace vellum {

// Fails with BadStream "truncated RunLength data" when a run is cut short
// (or "decoded stream too large").
Result<Bytes> run_length_decode(ByteSpan data, uint64_t limit = kMaxDecodedStream);

}  // namespace vellum
