// Hexadecimal decoder: pairs of hex digits, whitespace skipped, ">" ends the
// data, and an odd final digit counts as if a 0 followed it.
#include "filter/asciihex.h"

#include <algorithm>

#include "syntax/lex.h"

namespace vellum {

Result<Bytes> ascii_hex_decode(ByteSpan data, uint64_t limit) {
  Bytes out;
  // Two digits make a byte and a lone last digit one more: never more than this.
  out.reserve(static_cast<size_t>(std::min<uint64_t>((uint64_t{data.size()} + 1) / 2, limit)));
  int held = -1;
  for (uint8_t c : data) {
    if (c == '>') break;
    if (chars::is_whitespace(c)) continue;
    const int v = chars::hex_value(c);
    if (v < 0) return make_error(ErrorKind::BadStream, "bad ASCIIHex data");
    if (held < 0) {
      held = v;
      continue;
    }
    if (out.size() >= limit) return stream_too_large();
    out.push_back(static_cast<uint8_t>(held * 16 + v));
    held = -1;
  }
  if (held >= 0) {
    if (out.size() >= limit) return stream_too_large();
    out.push_back(static_cast<uint8_t>(held * 16));
  }
  return out;
}

}  // namespace vellum
