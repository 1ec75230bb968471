// LZW decoder of the PDF standard.
//
// The string table holds each entry as (prefix code, last byte, first byte,
// length), so an entry costs 6 bytes whatever its string's length and the
// table is a fixed 4096 entries: once the width is 12 bits, later entries are
// still "added" (the format does not stop adding them) but no code can
// address them, so they are not stored. A code's string is written backwards
// along its prefix chain straight into the output.
//
// A code beyond the next free one is accepted like the next free one (the
// previous string plus its own first byte). What follows it takes as the
// previous string the entry just added, never the raw code, which names no
// entry and would read an undefined one.
#include "filter/lzw.h"

#include <algorithm>

#include "filter/bounded_growth.h"

namespace vellum {
namespace {

constexpr unsigned kClear = 256;
constexpr unsigned kEndOfData = 257;
constexpr unsigned kFirstFree = 258;
constexpr unsigned kMaxEntries = 4096;

struct Entry {
  uint16_t prefix;
  uint16_t length;
  uint8_t last;
  uint8_t first;
};

Error bad_lzw() { return make_error(ErrorKind::BadStream, "bad LZW data"); }

}  // namespace

Result<Bytes> lzw_decode(ByteSpan data, bool early_change, uint64_t limit) {
  Entry table[kMaxEntries];
  for (unsigned i = 0; i < 256; ++i) table[i] = Entry{0, 1, static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
  unsigned size = kFirstFree;  // entries in the table (a code >= size is not yet defined)
  unsigned width = 9;
  const unsigned early = early_change ? 1 : 0;
  int prev = -1;

  Bytes out;
  resize_within(out, std::min<uint64_t>(uint64_t{data.size()} * 3, limit), limit);
  size_t used = 0;

  const uint8_t* in = data.data();
  const uint8_t* const end = in + data.size();
  uint32_t acc = 0;  // the low `nbits` bits are unread input
  unsigned nbits = 0;

  // The table entry L has just been added (or would have been, past 4096).
  auto added = [&] {
    const unsigned entries = size;  // L + 1
    if (width <= 11 && entries >= (1u << width) - early) ++width;
  };
  auto add_entry = [&](unsigned prefix, uint8_t byte) {
    if (size < kMaxEntries) {
      const Entry& p = table[prefix];
      table[size] = Entry{static_cast<uint16_t>(prefix), static_cast<uint16_t>(p.length + 1), byte, p.first};
    }
    if (size < kMaxEntries) ++size;
    added();
  };
  // Room for `n` more bytes, within the limit.
  auto room = [&](size_t n) -> bool {
    if (uint64_t{used} + n > limit) return false;
    if (out.size() - used >= n) return true;
    resize_within(out, uint64_t{used} + n, limit);
    return true;
  };
  // Write the string of `code` (defined) at out[used..].
  auto put = [&](unsigned code) {
    const size_t len = table[code].length;
    uint8_t* q = out.data() + used + len;
    for (size_t k = 0; k < len; ++k) {
      *--q = table[code].last;
      code = table[code].prefix;
    }
    used += len;
  };

  for (;;) {
    while (nbits < width) {
      if (in == end) goto done;  // a truncated code is dropped
      acc = acc << 8 | *in++;
      nbits += 8;
    }
    nbits -= width;
    const unsigned code = (acc >> nbits) & ((1u << width) - 1);
    if (code == kEndOfData) break;
    if (code == kClear) {
      size = kFirstFree;
      width = 9;
      prev = -1;
      continue;
    }
    if (code < size) {
      if (!room(table[code].length)) return stream_too_large();
      put(code);
      if (prev >= 0) add_entry(static_cast<unsigned>(prev), table[code].first);
    } else {
      // Not yet defined (only possible below 4096): the previous string
      // followed by its own first byte.
      if (prev < 0) return bad_lzw();
      const Entry& p = table[prev];
      if (!room(size_t{p.length} + 1)) return stream_too_large();
      put(static_cast<unsigned>(prev));
      out[used++] = p.first;
      add_entry(static_cast<unsigned>(prev), p.first);
      // A code beyond the next free one names no stored entry: the string
      // it stood for is the entry just added, and that entry is what the
      // next code extends (reading table[code] would read undefined slots).
      prev = static_cast<int>(size - 1);
      continue;
    }
    prev = static_cast<int>(code);
  }
done:
  out.resize(used);
  return out;
}

}  // namespace vellum
