// Raw DEFLATE (RFC 1951) decoding, the engine behind FlateDecode.
#pragma once

#include "filter/filter.h"

namespace vellum {

// Decode a raw deflate stream (no zlib header). Every malformation, including
// input that ends before the final block, fails with BadStream
// "corrupt DEFLATE data"; output beyond `limit` bytes fails with
// "decoded stream too large". Bytes after the final block are ignored.
// `storage` lends its capacity to the output (its bytes are discarded): a
// caller decoding stream after stream into memory it has already touched
// skips the page faults and copies of growing a fresh buffer.
Result<Bytes> inflate(ByteSpan data, uint64_t limit = kMaxDecodedStream, Bytes storage = {});

// The success or failure of inflate() without keeping the output: only a
// 32 KiB window and a byte count. With `png_row_stride` > 0 it also checks,
// as the PNG predictor would, that every row-type byte at a multiple of the
// stride (and followed by at least one row byte) is at most 4; a bad one
// fails with "bad predictor row filter", but only once the deflate data
// itself has decoded completely, the order in which the chain reports them.
// `produced`, when given, receives the bytes decoded before it stopped, on
// success or failure (what the check cost).
Status inflate_validate(ByteSpan data, uint64_t limit = kMaxDecodedStream, uint64_t png_row_stride = 0,
                        uint64_t* produced = nullptr);

}  // namespace vellum
