// ASCIIHexDecode: hexadecimal text to bytes.
#pragma once

#include "filter/filter.h"

namespace vellum {

// Fails with BadStream "bad ASCIIHex data" (or "decoded stream too large").
Result<Bytes> ascii_hex_decode(ByteSpan data, uint64_t limit = kMaxDecodedStream);

}  // namespace vellum
