// Run-length decoder: a length byte L, then L + 1 literal bytes (L < 128), or
// one byte repeated 257 - L times (L > 128); L = 128 ends the data, and so
// does the end of the input after a complete run.
#include "filter/runlength.h"

#include <algorithm>
#include <cstring>

#include "filter/bounded_growth.h"

namespace vellum {

Result<Bytes> run_length_decode(ByteSpan data, uint64_t limit) {
  Bytes out;
  reserve_within(out, std::min<uint64_t>(uint64_t{data.size()} * 2, limit), limit);
  const size_t n = data.size();
  size_t pos = 0;
  while (pos < n) {
    const unsigned len = data[pos++];
    if (len == 128) break;
    if (len < 128) {
      const size_t count = len + 1;
      if (n - pos < count) return make_error(ErrorKind::BadStream, "truncated RunLength data");
      if (out.size() + count > limit) return stream_too_large();
      reserve_within(out, out.size() + count, limit);
      out.insert(out.end(), data.begin() + pos, data.begin() + pos + count);
      pos += count;
      continue;
    }
    if (pos == n) return make_error(ErrorKind::BadStream, "truncated RunLength data");
    const size_t count = 257 - len;
    if (out.size() + count > limit) return stream_too_large();
    reserve_within(out, out.size() + count, limit);
    out.insert(out.end(), count, data[pos++]);
  }
  return out;
}

}  // namespace vellum
