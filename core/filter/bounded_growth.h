// How a decoder's output buffer grows toward its limit.
//
// A vector that doubles holds its old and its new block while it copies, so
// one that doubles from just under a 1 GiB limit briefly needs 2 GiB (and a
// doubling that overshoots keeps capacity the limit forbids it to fill).
// Here the capacity doubles only while it stays within half the limit and
// then jumps to the limit itself: a copy never moves more than half the
// limit, so a decoder peaks at about its limit plus its input, and never
// reserves more than the limit. Callers that write through a pointer keep
// the size a little ahead of the output (kZeroFillStep), so the zero-filling
// of resize() follows the decoder instead of touching the whole reservation.
#pragma once

#include <algorithm>
#include <cstdint>

#include "syntax/object.h"

namespace vellum {

// Make the capacity of `buf` at least `needed` bytes (needed <= limit).
inline void reserve_within(Bytes& buf, uint64_t needed, uint64_t limit) {
  if (needed <= buf.capacity()) return;
  uint64_t capacity = std::max<uint64_t>(needed, uint64_t{buf.capacity()} * 2);
  if (capacity > limit / 2) capacity = std::max(needed, limit);
  buf.reserve(static_cast<size_t>(capacity));
}

inline constexpr uint64_t kZeroFillStep = 64 * 1024;

// Make the size of `buf` at least `needed` bytes (needed <= limit), growing
// it by kZeroFillStep, or by its size while that is smaller, where the
// capacity allows (a buffer lent with a large capacity is not zero-filled
// far beyond a small output).
inline void resize_within(Bytes& buf, uint64_t needed, uint64_t limit) {
  if (needed <= buf.size()) return;
  reserve_within(buf, needed, limit);
  const uint64_t step = std::min<uint64_t>(kZeroFillStep, std::max<uint64_t>(buf.size(), 4096));
  const uint64_t size = std::min<uint64_t>(std::max<uint64_t>(needed, uint64_t{buf.size()} + step), buf.capacity());
  buf.resize(static_cast<size_t>(size));
}

}  // namespace vellum
