// Undoing the TIFF (2) and PNG (10-15) predictors that may follow FlateDecode
// and LZWDecode.
#pragma once

#include "syntax/object.h"

namespace vellum::predictor {

// The predictor that a decode-parameter dictionary selects, with its
// geometry in unsigned 64-bit arithmetic (products wrap, as the format's
// integers are not bounded).
struct Params {
  enum class Kind : uint8_t { None, Tiff, Png } kind = Kind::None;
  uint64_t bytes_per_pixel = 1;  // ceiling(Colors x BitsPerComponent / 8), at least 1
  uint64_t row_length = 1;       // ceiling(Columns x Colors x BitsPerComponent / 8), at least 1
};
Params params_of(const Dictionary& parms);

// The un-predicted bytes; a PNG row type above 4 fails with BadStream
// "bad predictor row filter". Never longer than the input.
Result<Bytes> apply(ByteSpan data, const Dictionary& parms);

}  // namespace vellum::predictor
