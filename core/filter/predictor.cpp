// Predictors of the PDF standard: TIFF horizontal differencing (Predictor 2)
// and the PNG row filters (Predictor 10 and above, one type byte per row).
//
// TIFF differencing works on whole bytes whatever the sample size (bytes, not
// sub-byte samples, are added, and 16-bit samples byte by byte); image bytes
// are never shown to callers, so only text-bearing 8-bit data matters here.
// PNG rows are restored in place in the output; the row above the first one is
// all zeros, handled by the `has_prev` test rather than by allocating a row of
// zeros (the row length comes from the file and may be absurd).
#include "filter/predictor.h"

#include <algorithm>
#include <cstring>

namespace vellum::predictor {
namespace {

uint64_t at_least_one(const Dictionary& d, std::string_view key, int64_t fallback) {
  int64_t v = d.get_int(key).value_or(fallback);
  return v < 1 ? 1 : static_cast<uint64_t>(v);
}

inline uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = p > a ? p - a : a - p;
  const int pb = p > b ? p - b : b - p;
  const int pc = p > c ? p - c : c - p;
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  if (pb <= pc) return static_cast<uint8_t>(b);
  return static_cast<uint8_t>(c);
}

Bytes undo_tiff(ByteSpan data, const Params& p) {
  Bytes out(data.begin(), data.end());
  const uint64_t n = out.size();
  for (uint64_t row = 0; row < n; row += std::min(p.row_length, n - row)) {
    const uint64_t end = std::min(n, row + p.row_length);
    for (uint64_t i = row + std::min(p.bytes_per_pixel, end - row); i < end; ++i)
      out[i] = static_cast<uint8_t>(out[i] + out[i - p.bytes_per_pixel]);
  }
  return out;
}

Result<Bytes> undo_png(ByteSpan data, const Params& p) {
  const uint64_t n = data.size();
  const uint64_t bpp = p.bytes_per_pixel;
  const uint64_t chunk = p.row_length + 1;  // row_length <= 2^61
  Bytes out(data.size());
  uint64_t used = 0;
  uint64_t prev = 0;  // start of the previous restored row in `out`
  bool has_prev = false;
  for (uint64_t pos = 0; pos < n;) {
    const uint64_t len = std::min(chunk, n - pos);
    if (len == 1) break;  // a lone type byte adds nothing and is not examined
    const uint8_t type = data[pos];
    const uint8_t* x = data.data() + pos + 1;
    const uint64_t rl = len - 1;
    uint8_t* o = out.data() + used;
    const uint8_t* up = has_prev ? out.data() + prev : nullptr;
    const uint64_t lead = std::min(bpp, rl);  // bytes with no left neighbour
    switch (type) {
      case 0: std::memcpy(o, x, rl); break;
      case 1:
        std::memcpy(o, x, lead);
        for (uint64_t i = lead; i < rl; ++i) o[i] = static_cast<uint8_t>(x[i] + o[i - bpp]);
        break;
      case 2:
        if (!up) {
          std::memcpy(o, x, rl);
          break;
        }
        for (uint64_t i = 0; i < rl; ++i) o[i] = static_cast<uint8_t>(x[i] + up[i]);
        break;
      case 3:
        for (uint64_t i = 0; i < lead; ++i) o[i] = static_cast<uint8_t>(x[i] + (up ? up[i] : 0) / 2);
        for (uint64_t i = lead; i < rl; ++i)
          o[i] = static_cast<uint8_t>(x[i] + (unsigned{o[i - bpp]} + (up ? up[i] : 0u)) / 2);
        break;
      case 4:
        for (uint64_t i = 0; i < lead; ++i) o[i] = static_cast<uint8_t>(x[i] + paeth(0, up ? up[i] : 0, 0));
        for (uint64_t i = lead; i < rl; ++i)
          o[i] = static_cast<uint8_t>(x[i] + paeth(o[i - bpp], up ? up[i] : 0, up ? up[i - bpp] : 0));
        break;
      default: return make_error(ErrorKind::BadStream, "bad predictor row filter");
    }
    prev = used;
    has_prev = true;
    used += rl;
    pos += len;
  }
  out.resize(used);
  return out;
}

}  // namespace

Params params_of(const Dictionary& parms) {
  Params p;
  const std::optional<int64_t> predictor = parms.get_int("Predictor");
  if (!predictor || *predictor < 2) return p;
  p.kind = *predictor == 2 ? Params::Kind::Tiff : Params::Kind::Png;
  const uint64_t colors = at_least_one(parms, "Colors", 1);
  const uint64_t bpc = at_least_one(parms, "BitsPerComponent", 8);
  const uint64_t columns = at_least_one(parms, "Columns", 1);
  const uint64_t bits_per_pixel = colors * bpc;
  const uint64_t row_bits = columns * bits_per_pixel;
  p.bytes_per_pixel = std::max<uint64_t>(1, bits_per_pixel / 8 + (bits_per_pixel % 8 != 0));
  p.row_length = std::max<uint64_t>(1, row_bits / 8 + (row_bits % 8 != 0));
  return p;
}

Result<Bytes> apply(ByteSpan data, const Dictionary& parms) {
  const Params p = params_of(parms);
  switch (p.kind) {
    case Params::Kind::None: return Bytes(data.begin(), data.end());
    case Params::Kind::Tiff: return undo_tiff(data, p);
    case Params::Kind::Png: return undo_png(data, p);
  }
  return Bytes(data.begin(), data.end());
}

}  // namespace vellum::predictor
