// LZWDecode: variable-width (9-12 bit) LZW codes, most significant bit first.
#pragma once

#include "filter/filter.h"

namespace vellum {

// Decode LZW data. `early_change` is /EarlyChange != 0 (the default): code
// widths grow one entry earlier. Fails with BadStream "bad LZW data" on a code
// that the table cannot explain, or "decoded stream too large" beyond `limit`.
// Truncated data and a missing end-of-data code are accepted.
Result<Bytes> lzw_decode(ByteSpan data, bool early_change, uint64_t limit = kMaxDecodedStream);

}  // namespace vellum
