// ASCII base-85 decoder: groups of five digits "!".."u" give four bytes, "z"
// stands for four zero bytes between groups, "~" ends the data. A group's
// value is taken modulo 2^32, so an out-of-range group wraps rather than
// failing; a final partial group of k digits is padded with "u" and gives
// k - 1 bytes.
#include "filter/ascii85.h"

#include <algorithm>

#include "filter/bounded_growth.h"
#include "syntax/lex.h"

namespace vellum {
namespace {

Error bad_ascii85() { return make_error(ErrorKind::BadStream, "bad ASCII85 data"); }

}  // namespace

Result<Bytes> ascii85_decode(ByteSpan data, uint64_t limit) {
  Bytes out;
  // Five digits give four bytes; only "z" gives more than it takes.
  reserve_within(out, std::min<uint64_t>(uint64_t{data.size()} / 5 * 4 + 4, limit), limit);
  uint32_t group = 0;  // Horner sum of the digits so far, modulo 2^32
  unsigned digits = 0;
  auto emit = [&](uint32_t v, unsigned n) -> bool {
    if (out.size() + n > limit) return false;
    reserve_within(out, out.size() + n, limit);
    for (unsigned i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (24 - 8 * i)));
    return true;
  };
  for (uint8_t c : data) {
    if (chars::is_whitespace(c)) continue;
    if (c == '~') break;
    if (c == 'z') {
      if (digits != 0) return bad_ascii85();
      if (!emit(0, 4)) return stream_too_large();
      continue;
    }
    if (c < '!' || c > 'u') return bad_ascii85();
    group = group * 85 + (c - '!');
    if (++digits < 5) continue;
    if (!emit(group, 4)) return stream_too_large();
    group = 0;
    digits = 0;
  }
  if (digits == 1) return bad_ascii85();
  if (digits > 1) {
    for (unsigned i = digits; i < 5; ++i) group = group * 85 + 84;
    if (!emit(group, digits - 1)) return stream_too_large();
  }
  return out;
}

}  // namespace vellum
