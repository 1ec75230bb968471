// The filter chain: a stream's dictionary and raw bytes to its decoded bytes.
#pragma once

#include "../object.h"

namespace vellum {

// No stage of a filter chain may produce more than this many bytes; beyond it
// the chain fails with BadStream "decoded stream too large", decided while the
// output grows, so a decompression bomb never gets its memory.
inline constexpr uint64_t kMaxDecodedStream = uint64_t{1} << 30;

// Apply the filters named by /Filter (or /F) with their /DecodeParms (or /DP).
Result<Bytes> decode_stream(const Dictionary& dict, ByteSpan raw);

// Exactly the success or failure of decode_stream, without keeping the
// decoded bytes: used where only "does it decode" matters (images).
Status validate_stream(const Dictionary& dict, ByteSpan raw);

}  // namespace vellum
