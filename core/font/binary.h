// Bounds-checked big-endian reads over a font program's bytes, the one idiom
// the font parsers use: every read names an absolute offset and yields 0 past
// the end, and `has(offset, size)` guards what must be present (an offset
// plus a size never overflows: both are 64-bit and the data is smaller).
#pragma once

#include <cstdint>

#include "syntax/object.h"

namespace vellum {

class BigEndian {
 public:
  explicit BigEndian(ByteSpan data) : data_(data) {}
  size_t size() const { return data_.size(); }
  bool has(uint64_t offset, uint64_t size) const { return offset <= data_.size() && size <= data_.size() - offset; }
  uint32_t u8(uint64_t offset) const { return has(offset, 1) ? data_[offset] : 0; }
  uint32_t u16(uint64_t offset) const { return has(offset, 2) ? (uint32_t{data_[offset]} << 8) | data_[offset + 1] : 0; }
  uint32_t u32(uint64_t offset) const { return has(offset, 4) ? (u16(offset) << 16) | u16(offset + 2) : 0; }
  // n bytes (1..4) as one number.
  uint32_t un(uint64_t offset, unsigned n) const {
    uint32_t v = 0;
    for (unsigned k = 0; k < n; ++k) v = (v << 8) | u8(offset + k);
    return v;
  }
  ByteSpan bytes(uint64_t offset, uint64_t size) const {
    return has(offset, size) ? data_.subspan(offset, size) : ByteSpan();
  }

 private:
  ByteSpan data_;
};

}  // namespace vellum
