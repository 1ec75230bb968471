// The filter chain: a stream's dictionary and raw bytes to its decoded bytes.
//
// The dictionary names the filters (/Filter or /F) and their parameters
// (/DecodeParms or /DP); each stage replaces one working buffer. Decoders of
// the chain live in the sibling modules (inflate, lzw, ascii85, asciihex,
// runlength, predictor); this module only selects and pairs them.
#pragma once

#include "syntax/object.h"

namespace vellum {

// No stage of a filter chain may produce more than this many bytes; beyond it
// the chain fails with BadStream "decoded stream too large", decided while the
// output grows, so a decompression bomb never gets its memory.
inline constexpr uint64_t kMaxDecodedStream = uint64_t{1} << 30;

inline Error stream_too_large() { return make_error(ErrorKind::BadStream, "decoded stream too large"); }

// Apply the filters named by /Filter (or /F) with their /DecodeParms (or /DP).
Result<Bytes> decode_stream(const Dictionary& dict, ByteSpan raw);

// Exactly the success or failure of decode_stream, without keeping the
// decoded bytes: used where only "does it decode" matters (images).
Status validate_stream(const Dictionary& dict, ByteSpan raw);

// The same two operations with another output limit per stage (tests use a
// small one; everything else goes through the overloads above).
Result<Bytes> decode_stream(const Dictionary& dict, ByteSpan raw, uint64_t limit);
// With a buffer whose capacity the decoded bytes may take over (see inflate()).
Result<Bytes> decode_stream(const Dictionary& dict, ByteSpan raw, uint64_t limit, Bytes storage);
Status validate_stream(const Dictionary& dict, ByteSpan raw, uint64_t limit);

// validate_stream that also reports in `produced` the bytes its stages
// decoded, on success or failure: what the check cost, for budgets of work.
// A stage that fails for its size counts as `limit`; one that fails for
// corrupt data before the last stage counts as what the stages before it
// produced.
Status validate_stream(const Dictionary& dict, ByteSpan raw, uint64_t limit, uint64_t* produced);

}  // namespace vellum
