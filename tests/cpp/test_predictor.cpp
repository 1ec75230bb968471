// Predictors: the documented cases, parameter clamping, and PNG rows of
// every type over several pixel sizes.
#include <gtest/gtest.h>

#include "filter/predictor.h"
#include "test_util.h"

namespace vellum {
namespace {

using testing::num;
Dictionary params(std::vector<std::pair<std::string, Object>> entries) { return testing::dict(std::move(entries)); }

struct Case {
  const char* name;
  Dictionary parms;
  Bytes in;
  std::optional<Bytes> want;
};

TEST(Predictor, Cases) {
  const Bytes up_rows = {0x02, 0x01, 0x02, 0x03, 0x02, 0x01, 0x01, 0x01};
  const Case cases[] = {
      {"predictor name", params({{"Predictor", Object::name("Foo")}}), up_rows, up_rows},
      {"PNG 3 selects PNG", params({{"Predictor", num(3)}, {"Columns", num(3)}}), up_rows, Bytes{1, 2, 3, 2, 3, 4}},
      {"PNG type 5 fails", params({{"Predictor", num(12)}, {"Columns", num(2)}}), Bytes{0, 1, 2, 5, 1, 1}, std::nullopt},
      {"lone type byte 9 at the end", params({{"Predictor", num(12)}, {"Columns", num(2)}}), Bytes{0, 1, 2, 9}, Bytes{1, 2}},
      {"TIFF colors 3", params({{"Predictor", num(2)}, {"Colors", num(3)}, {"Columns", num(2)}}),
       Bytes{0x10, 0x20, 0x30, 0x01, 0x02, 0x03}, Bytes{0x10, 0x20, 0x30, 0x11, 0x22, 0x33}},
      {"columns 0 counts as 1", params({{"Predictor", num(12)}, {"Columns", num(0)}}), Bytes{1, 5, 2, 3}, Bytes{5, 8}},
      {"bpc 0 counts as 1: 8 columns in one byte",
       params({{"Predictor", num(12)}, {"Columns", num(8)}, {"BitsPerComponent", num(0)}}), Bytes{0, 7, 2, 1}, Bytes{7, 8}},
      {"bpc 16: bytes added separately", params({{"Predictor", num(2)}, {"BitsPerComponent", num(16)}, {"Columns", num(2)}}),
       Bytes{0x00, 0xFF, 0x00, 0x01}, Bytes{0x00, 0xFF, 0x00, 0x00}},
      // PNG rows of every type, encoded outside the library: Sub, Average,
      // Paeth and Paeth over bytes; over 16-bit samples (two bytes a pixel);
      // over three 2-bit samples a pixel (a byte a pixel), the last row short.
      {"PNG types, 8 bits", params({{"Predictor", num(15)}, {"Columns", num(4)}}),
       testing::hex("010a0ab4320307094e2904bc56a6fa0438ff8141"), testing::hex("0a14c8fa0c19be05c81e64ff00ff8040")},
      // Paeth ties: the left byte 14 against the upper-left 28 (a wins), then
      // the upper 105 against the upper-left 35 (b wins).
      {"PNG Paeth ties", params({{"Predictor", num(13)}, {"Columns", num(3)}}), testing::hex("001c236904f2f2e4"),
       testing::hex("1c23690e004d")},
      {"PNG types, 16 bits", params({{"Predictor", num(11)}, {"BitsPerComponent", num(16)}, {"Columns", num(2)}}),
       testing::hex("041234edcd0377e6c0ff0481020205"), testing::hex("1234ff0180007fff01020304")},
      {"PNG types, 2 bits, 3 colors",
       params({{"Predictor", num(10)}, {"Colors", num(3)}, {"BitsPerComponent", num(2)}, {"Columns", num(3)}}),
       testing::hex("021be480043ac68f01f04c"), testing::hex("1be48055aa0ff03c")},
      // Absurd geometry: no allocation follows the row length.
      {"huge columns", params({{"Predictor", num(12)}, {"Columns", num(int64_t{1} << 40)}, {"Colors", num(3)}}),
       Bytes{1, 5, 5, 5, 5}, Bytes{5, 5, 5, 10}},
      {"huge colors, TIFF", params({{"Predictor", num(2)}, {"Colors", num(int64_t{1} << 40)}}), Bytes{1, 2, 3}, Bytes{1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::expect_result(predictor::apply(c.in, c.parms), c.want, "BadStream: bad predictor row filter");
  }
}

}  // namespace
}  // namespace vellum
