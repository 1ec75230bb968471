// Predictors: the documented cases, parameter clamping, and PNG round trips
// against the encoder written here, with every row type and several pixel
// sizes.
#include <gtest/gtest.h>

#include <random>

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

uint8_t paeth(int a, int b, int c) {
  int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// PNG encoding of `img` (rows of `row` bytes, `bpp` bytes per pixel) with
// random row types.
Bytes png_encode(const Bytes& img, size_t row, size_t bpp, std::mt19937& rng) {
  Bytes out;
  for (size_t r = 0; r < img.size(); r += row) {
    const size_t len = std::min(row, img.size() - r);
    const int type = static_cast<int>(rng() % 5);
    out.push_back(static_cast<uint8_t>(type));
    for (size_t i = 0; i < len; ++i) {
      int a = i >= bpp ? img[r + i - bpp] : 0;
      int b = r ? img[r - row + i] : 0;
      int c = r && i >= bpp ? img[r - row + i - bpp] : 0;
      int pred = type == 0 ? 0 : type == 1 ? a : type == 2 ? b : type == 3 ? (a + b) / 2 : paeth(a, b, c);
      out.push_back(static_cast<uint8_t>(img[r + i] - pred));
    }
  }
  return out;
}

// PNG rows of random types over random geometry, the last row possibly
// short. TIFF: the cases above.
TEST(Predictor, PngRoundTrips) {
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    const int64_t colors = 1 + rng() % 4, bpc = (int64_t[]){1, 2, 4, 8, 16}[rng() % 5], columns = 1 + rng() % 40;
    const size_t row = static_cast<size_t>((columns * colors * bpc + 7) / 8);
    const size_t bpp = std::max<size_t>(1, static_cast<size_t>((colors * bpc + 7) / 8));
    Bytes img(row * (rng() % 30) + rng() % row);
    for (auto& b : img) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 100 + rng() % 3);
    const Dictionary png = params({{"Predictor", num(10 + rng() % 6)}, {"Colors", num(colors)},
                                   {"BitsPerComponent", num(bpc)}, {"Columns", num(columns)}});
    auto got = predictor::apply(png_encode(img, row, bpp, rng), png);
    ASSERT_TRUE(got.ok());
    ASSERT_TRUE(*got == img) << round;
  }
}

}  // namespace
}  // namespace vellum
