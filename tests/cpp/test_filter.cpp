// The filter chain: filter and parameter lists, pairing, pass-through and
// unsupported names, the zlib header test, EarlyChange, and validate_stream
// against decode_stream. The output limit of every decoder and chain,
// nested bombs included: test_regression.cpp.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>

#include "filter/filter.h"
#include "test_util.h"

namespace vellum {
namespace {

using testing::arr;
using testing::bytes;
using testing::dict;
using testing::dobj;
using testing::nm;
using testing::num;

using testing::zlib;
Bytes raw_deflate(const Bytes& in) {
  Bytes z = zlib(in);
  return Bytes(z.begin() + 2, z.end() - 4);
}

std::string hex_of(const Bytes& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t c : b) s += d[c >> 4], s += d[c & 15];
  return s + ">";
}

// PNG "Up" rows of `cols` bytes: type 2, then the difference to the row above.
Bytes png_up(const Bytes& plain, size_t cols) {
  Bytes out, prev(cols, 0);
  for (size_t r = 0; r < plain.size(); r += cols) {
    out.push_back(2);
    for (size_t i = 0; i < cols; ++i) {
      out.push_back(static_cast<uint8_t>(plain[r + i] - prev[i]));
      prev[i] = plain[r + i];
    }
  }
  return out;
}

const Bytes kText = bytes("BT /F1 12 Tf (Hello, filters) Tj ET BT /F1 12 Tf (Hello again) Tj ET");
const Bytes kRows = bytes("abcdeABCDE01234vwxyz");  // four rows of five

struct Case {
  const char* name;
  Dictionary dict;
  Bytes raw;
  std::optional<Bytes> want;
  std::string error;  // Error::display() when want is empty
};

std::vector<Case> cases() {
  std::vector<Case> cs;
  const Bytes z = zlib(kText);
  const Bytes zrows = zlib(png_up(kRows, 5));
  cs.push_back({"no filter", dict({{"DecodeParms", dobj({{"Predictor", num(12)}})}}), kText, kText, ""});
  cs.push_back({"filter is a string", dict({{"Filter", Object::string("FlateDecode")}}), z, z, ""});
  cs.push_back({"/F when no /Filter", dict({{"F", nm("FlateDecode")}}), z, kText, ""});
  cs.push_back({"/Filter shadows /F", dict({{"Filter", num(1)}, {"F", nm("FlateDecode")}}), z, z, ""});
  cs.push_back({"hex, flate, PNG predictor",
                dict({{"Filter", arr({nm("ASCIIHexDecode"), nm("FlateDecode")})},
                      {"DecodeParms", arr({Object::null(), dobj({{"Predictor", num(12)}, {"Columns", num(5)}})})}}),
                bytes(hex_of(zrows)), kRows, ""});
  cs.push_back({"single dict belongs to the first filter",
                dict({{"Filter", arr({nm("ASCII85Decode"), nm("FlateDecode")})},
                      {"DecodeParms", dobj({{"Predictor", num(12)}})}}),
                bytes(testing::ascii85_encode(zrows)), png_up(kRows, 5), ""});
  cs.push_back({"/DecodeParms shadows /DP",
                dict({{"Filter", nm("Fl")}, {"DecodeParms", num(3)}, {"DP", dobj({{"Predictor", num(12)}, {"Columns", num(5)}})}}),
                zrows, png_up(kRows, 5), ""});
  cs.push_back({"non-names in the filter array take no position",
                dict({{"Filter", arr({num(7), nm("AHx"), Object::null(), nm("Fl")})},
                      {"DecodeParms", arr({Object::null(), dobj({{"Predictor", num(12)}, {"Columns", num(5)}})})}}),
                bytes(hex_of(zrows)), kRows, ""});
  cs.push_back({"flate then JPX", dict({{"Filter", arr({nm("FlateDecode"), nm("JPXDecode")})}}), z, kText, ""});
  cs.push_back({"short DCT unsupported", dict({{"Filter", nm("DCT")}}), z, std::nullopt, "Unsupported: unsupported filter: DCT"});
  cs.push_back({"failing stage before an unsupported one", dict({{"Filter", arr({nm("AHx"), nm("Foo")})}}), bytes("4g"),
                std::nullopt, "BadStream: bad ASCIIHex data"});
  {
    Bytes raw = raw_deflate(kText);
    cs.push_back({"raw deflate without header", dict({{"Filter", nm("FlateDecode")}}), raw, kText, ""});
    // 0x78 0x00 is not a multiple of 31: inflated from its first byte, where
    // 0x78 (BFINAL 0, BTYPE 0) starts a stored block of LEN 0 and a fake
    // NLEN; the real stream follows.
    Bytes fake = {0x78, 0x00, 0x00, 0x00, 0x00};
    Bytes stored = {0x01, 0x03, 0x00, 0xfc, 0xff, 'x', 'y', 'z'};
    fake.insert(fake.end(), stored.begin(), stored.end());
    cs.push_back({"78 00 is raw deflate", dict({{"Filter", nm("FlateDecode")}}), fake, bytes("xyz"), ""});
  }
  cs.push_back({"corrupt flate", dict({{"Filter", nm("FlateDecode")}}), Bytes(z.begin(), z.end() - 8), std::nullopt,
                "BadStream: corrupt DEFLATE data"});
  cs.push_back({"bad PNG row after flate",
                dict({{"Filter", nm("FlateDecode")}, {"DecodeParms", dobj({{"Predictor", num(15)}, {"Columns", num(2)}})}}),
                zlib(bytes("\x01xy\x05zz")), std::nullopt, "BadStream: bad predictor row filter"});
  cs.push_back({"lone bad type byte at the end",
                dict({{"Filter", nm("FlateDecode")}, {"DecodeParms", dobj({{"Predictor", num(15)}, {"Columns", num(2)}})}}),
                zlib(Bytes{0x00, 'x', 'y', 0x09}), bytes("xy"), ""});
  // An empty Flate stream (as some writers emit for blank pages) is empty,
  // with or without a predictor; a single byte is still corrupt.
  cs.push_back({"empty flate", dict({{"Filter", nm("FlateDecode")}}), Bytes{}, Bytes{}, ""});
  cs.push_back({"LZW with predictor",
                dict({{"Filter", nm("LZWDecode")}, {"DecodeParms", dobj({{"Predictor", num(2)}, {"Colors", num(3)}, {"Columns", num(2)}})}}),
                testing::pack9({256, 0x10, 0x20, 0x30, 1, 2, 3, 257}), Bytes{0x10, 0x20, 0x30, 0x11, 0x22, 0x33}, ""});
  return cs;
}

TEST(Filter, Chain) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    auto got = decode_stream(c.dict, c.raw);
    auto valid = validate_stream(c.dict, c.raw);
    testing::expect_result(got, c.want, c.error);
    EXPECT_EQ(valid.ok(), got.ok());
    if (!valid.ok() && !got.ok()) {
      EXPECT_EQ(valid.error(), got.error());
    }
  }
}

// EarlyChange: the codes 256 then 0..254 as literals, every one after the
// first adding an entry; entry 510 is added on reading the 254th literal.
// With early change the 255th literal is read in 10 bits, without it in 9.
TEST(Filter, EarlyChangeFromParms) {
  auto stream = [](int first_wide) {  // index of the first 10-bit code
    std::vector<std::pair<unsigned, int>> codes = {{256, 9}};
    for (int i = 0; i < 257; ++i) codes.push_back({static_cast<unsigned>(i % 250), i + 1 >= first_wide ? 10 : 9});
    codes.push_back({257, 10});
    return testing::pack(codes);
  };
  Bytes want;
  for (int i = 0; i < 257; ++i) want.push_back(static_cast<uint8_t>(i % 250));
  const Bytes early = stream(255), late = stream(256);
  struct {
    Object early_change;
    const Bytes* data;
  } rows[] = {{Object::null(), &early}, {nm("Foo"), &early}, {num(0), &late}};
  for (auto& r : rows) {
    Dictionary d = dict({{"Filter", nm("LZWDecode")}});
    if (!r.early_change.is_null()) d.append_unique("DecodeParms", dobj({{"EarlyChange", r.early_change}}));
    auto got = decode_stream(d, *r.data);
    ASSERT_TRUE(got.ok());
    EXPECT_TRUE(*got == want);
  }
  // And the other way round the widths disagree with the data.
  auto wrong = decode_stream(dict({{"Filter", nm("LZW")}, {"DecodeParms", dobj({{"EarlyChange", num(0)}})}}), early);
  EXPECT_FALSE(wrong.ok() && *wrong == want);
}

// validate_stream and decode_stream agree on chains over damaged data:
// truncations and bit flips of flate data with and without PNG predictors
// (rows long enough to cross the validator's window), behind other stages.
TEST(Filter, ValidateAgreesWithDecode) {
  std::mt19937 rng(42);
  int failures = 0, successes = 0;
  for (int round = 0; round < 600; ++round) {
    const size_t cols = 1 + rng() % 300;
    const size_t rows = 1 + rng() % (round % 10 == 0 ? 2000 : 40);
    Bytes img(cols * rows);
    for (auto& b : img) b = static_cast<uint8_t>(rng() % 7);
    Bytes rowsdata;
    for (size_t r = 0; r < rows; ++r) {
      // Mostly valid types; sometimes a bad one.
      rowsdata.push_back(static_cast<uint8_t>(rng() % 40 == 0 ? 5 + rng() % 200 : rng() % 5));
      rowsdata.insert(rowsdata.end(), img.begin() + static_cast<ptrdiff_t>(r * cols),
                      img.begin() + static_cast<ptrdiff_t>((r + 1) * cols));
    }
    if (rng() % 4 == 0) rowsdata.push_back(static_cast<uint8_t>(rng()));  // lone type byte
    Bytes z = zlib(rowsdata, static_cast<int>(rng() % 10));
    if (rng() % 3 == 0) z.resize(rng() % (z.size() + 1));
    if (rng() % 3 == 0 && !z.empty()) z[rng() % z.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    Dictionary d;
    const int shape = round % 4;
    Object parms = dobj({{"Predictor", num(10 + static_cast<int64_t>(rng() % 6))}, {"Columns", num(static_cast<int64_t>(cols))}});
    Bytes raw = z;
    if (shape == 0) d = dict({{"Filter", nm("FlateDecode")}, {"DecodeParms", parms}});
    if (shape == 1) d = dict({{"Filter", nm("FlateDecode")}});
    if (shape == 2) {
      d = dict({{"Filter", arr({nm("AHx"), nm("Fl"), nm("DCTDecode")})}, {"DecodeParms", arr({Object::null(), parms})}});
      raw = bytes(hex_of(z));
    }
    if (shape == 3) d = dict({{"Filter", arr({nm("Fl"), nm("Bogus")})}, {"DecodeParms", parms}});
    auto got = decode_stream(d, raw);
    auto valid = validate_stream(d, raw);
    ASSERT_EQ(got.ok(), valid.ok()) << round << (got.ok() ? std::string() : got.error().display());
    if (!got.ok()) {
      EXPECT_EQ(got.error(), valid.error()) << round;
      ++failures;
    } else {
      ++successes;
    }
    // And both agree with a small limit.
    const uint64_t limit = rng() % (rowsdata.size() + 2);
    auto lg = decode_stream(d, raw, limit);
    auto lv = validate_stream(d, raw, limit);
    ASSERT_EQ(lg.ok(), lv.ok()) << round;
    if (!lg.ok()) {
      EXPECT_EQ(lg.error(), lv.error()) << round;
    }
  }
  EXPECT_GT(failures, 50);
  EXPECT_GT(successes, 50);
}

}  // namespace
}  // namespace vellum
