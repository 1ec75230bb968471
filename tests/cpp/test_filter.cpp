// The filter chain: filter and parameter lists, pairing, pass-through and
// unsupported names, the zlib header test, EarlyChange; the simple decoders'
// cases (ASCII85, ASCIIHex, RunLength) and LZW's, with its code widths over
// long streams; the predictors; validate_stream against decode_stream.
// Inflate: test_inflate.cpp; the output limit of every decoder and chain:
// test_bounded_growth.cpp and test_regression.cpp.
#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <random>

#include "filter/asciihex.h"
#include "filter/filter.h"
#include "filter/lzw.h"
#include "filter/predictor.h"
#include "test_util.h"

namespace vellum {
namespace {

using testing::arr;
using testing::bytes;
using testing::dict;
using testing::dobj;
using testing::nm;
using testing::num;

using testing::hex_of;
using testing::zlib;


// Rows that decode, validate_stream agreeing; a failing stage is reported
// before an unsupported one.
TEST(Filter, Chain) {
  const Bytes text = bytes("BT /F1 12 Tf (Hello, filters) Tj ET BT /F1 12 Tf (Hello again) Tj ET");
  const Bytes rows = bytes("abcdebcdefcdefg");                                    // three rows of five
  const Bytes up_rows = testing::hex("02 6162636465 02 0101010101 02 0101010101");  // PNG "Up" of each row
  const Bytes z = zlib(text), zrows = zlib(up_rows);
  const Object png5 = dobj({{"Predictor", num(12)}, {"Columns", num(5)}});
  // EarlyChange: absent means 1; the two streams' widths differ from code
  // 511 on.
  Bytes literals(600);
  for (size_t i = 0; i < literals.size(); ++i) literals[i] = static_cast<uint8_t>(i % 250);
  const struct {
    const char* name;
    Dictionary dict;
    Bytes raw, want;
  } cases[] = {
      {"no filter", dict({{"DecodeParms", png5}}), text, text},
      {"/F when no /Filter", dict({{"F", nm("FlateDecode")}}), z, text},
      {"/Filter shadows /F, naming no filter", dict({{"Filter", num(1)}, {"F", nm("FlateDecode")}}), z, z},
      {"hex, flate, PNG predictor",
       dict({{"Filter", arr({nm("ASCIIHexDecode"), nm("FlateDecode")})}, {"DecodeParms", arr({Object::null(), png5})}}),
       bytes(hex_of(zrows)), rows},
      {"single dict belongs to the first filter",
       dict({{"Filter", arr({nm("AHx"), nm("FlateDecode")})}, {"DecodeParms", png5}}), bytes(hex_of(zrows)), up_rows},
      {"/DecodeParms shadows /DP", dict({{"Filter", nm("Fl")}, {"DecodeParms", num(3)}, {"DP", png5}}), zrows, up_rows},
      {"non-names in the filter array take no position",
       dict({{"Filter", arr({num(7), nm("AHx"), Object::null(), nm("Fl")})}, {"DecodeParms", arr({Object::null(), png5})}}),
       bytes(hex_of(zrows)), rows},
      {"flate then JPX", dict({{"Filter", arr({nm("FlateDecode"), nm("JPXDecode")})}}), z, text},
      {"raw deflate without header", dict({{"Filter", nm("FlateDecode")}}), Bytes(z.begin() + 2, z.end() - 4), text},
      // 0x78 0x00 is not a multiple of 31: inflated from its first byte, where
      // 0x78 (BFINAL 0, BTYPE 0) starts a stored block of LEN 0 and a fake NLEN;
      // a final stored block of "xyz" follows.
      {"78 00 is raw deflate", dict({{"Filter", nm("FlateDecode")}}), testing::hex("7800000000 010300fcff 78797a"),
       bytes("xyz")},
      {"EarlyChange absent", dict({{"Filter", nm("LZW")}}), testing::lzw_literals(literals, true), literals},
      {"EarlyChange 0", dict({{"Filter", nm("LZWDecode")}, {"DecodeParms", dobj({{"EarlyChange", num(0)}})}}),
       testing::lzw_literals(literals, false), literals},
      // An empty Flate stream (as some writers emit for blank pages) is empty.
      {"empty flate", dict({{"Filter", nm("FlateDecode")}}), Bytes{}, Bytes{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::expect_result(decode_stream(c.dict, c.raw), c.want, "");
    EXPECT_TRUE(validate_stream(c.dict, c.raw).ok());
  }
  const Dictionary hex_then_foo = dict({{"Filter", arr({nm("AHx"), nm("Foo")})}});
  EXPECT_EQ(testing::outcome(decode_stream(hex_then_foo, bytes("4g"))), "BadStream: bad ASCIIHex data");
  EXPECT_EQ(testing::outcome(validate_stream(hex_then_foo, bytes("4g"))), "BadStream: bad ASCIIHex data");
}

// The simple decoders' own cases and LZW's hand-written code sequences
// (9-bit codes, where EarlyChange makes no difference), through the chain.
// Whole groups, whitespace between digits and plain runs: the corpus's
// ASCII85, ASCIIHex, RunLength and LZW files. ASCII85's encoded
// forms are Python's base64.a85encode output.
TEST(Filter, DecoderCases) {
  const std::map<std::string, std::string> errors = {{"A85", "BadStream: bad ASCII85 data"},
                                                     {"AHx", "BadStream: bad ASCIIHex data"},
                                                     {"RL", "BadStream: truncated RunLength data"},
                                                     {"LZW", "BadStream: bad LZW data"}};
  using testing::pack9;
  const Bytes abab = bytes("ABAB");
  Bytes cut = pack9({256, 65, 66, 258, 300});
  cut.pop_back();  // ends inside the last code
  Bytes trailing = pack9({256, 65, 66, 258, 257});
  trailing.insert(trailing.end(), {0xFF, 0x13});
  const struct {
    const char *filter, *name;
    Bytes in;
    std::optional<Bytes> want;
  } cases[] = {
      {"A85", "z then a partial group", bytes("zrr~>"), Bytes{0, 0, 0, 0, 0xFF}},
      {"A85", "z inside a group", bytes("!z"), std::nullopt},
      {"A85", "single leftover digit", bytes("!!!!!!"), std::nullopt},
      {"A85", "starts with <~", bytes("<~9jqo^~>"), std::nullopt},
      {"A85", "s8W-!", bytes("s8W-!"), Bytes{0xFF, 0xFF, 0xFF, 0xFF}},
      {"A85", "uuuuu wraps", bytes("uuuuu"), Bytes{0x08, 0x78, 0x0E, 0xC4}},
      {"A85", "NUL is whitespace", Bytes{'9', 'j', 0, 'q', 'o', '^'}, bytes("Man ")},
      {"A85", "rest after ~ unread", bytes("9jqo^~>\x01garbage"), bytes("Man ")},
      {"A85", "bad byte", bytes("9jqo^v"), std::nullopt},
      {"A85", "partial group of 1", bytes("9`~>"), bytes("M")},
      {"A85", "partial group of 3, high bytes", bytes("s8W*~>"), Bytes{0xFF, 0xFF, 0xFF}},
      {"AHx", "odd digit padded", bytes("ABC>"), Bytes{0xAB, 0xC0}},
      {"AHx", "no end marker", bytes("4865"), bytes("He")},
      {"AHx", "bad digit", bytes("4g"), std::nullopt},
      {"AHx", "rest after > unread", bytes("41>zz"), bytes("A")},
      {"AHx", "NUL is whitespace", Bytes{'4', 0, '1'}, bytes("A")},
      {"AHx", "< is not a digit", bytes("<41>"), std::nullopt},
      {"RL", "longest repeat", Bytes{0x81, 'q'}, Bytes(128, 'q')},
      {"RL", "repeat cut short", Bytes{0xFE}, std::nullopt},
      {"RL", "literal cut short", Bytes{0x05, 'A', 'B'}, std::nullopt},
      {"RL", "no end marker", Bytes{0x00, 'A', 0xFF, 'B'}, bytes("ABB")},
      {"RL", "rest after end unread", Bytes{0x00, 'A', 0x80, 0x05}, bytes("A")},
      {"LZW", "empty", Bytes{}, Bytes{}},
      {"LZW", "ends inside a code", cut, abab},
      {"LZW", "data after end-of-data", trailing, abab},
      {"LZW", "first code undefined", pack9({258}), std::nullopt},
      {"LZW", "undefined code after a clear, mid-stream", pack9({256, 65, 66, 256, 259}), std::nullopt},
      // A code beyond the next free one is still "previous + its first byte".
      {"LZW", "code past the next free", pack9({256, 65, 300, 257}), bytes("AAA")},
      // After such a code the previous string is the new entry 258 ("AA"):
      // 66 then adds "AAB", and 259 (next free) is "AA" + "A".
      {"LZW", "code past the next free, then a literal", pack9({256, 65, 300, 66, 259, 257}), bytes("AAABAAB")},
      {"LZW", "KwKwK", pack9({256, 65, 258, 259, 257}), bytes("AAAAAA")},
      {"LZW", "no leading clear", pack9({66, 67, 258, 257}), bytes("BCBC")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.filter) + ": " + c.name);
    testing::expect_result(decode_stream(dict({{"Filter", nm(c.filter)}}), c.in), c.want, errors.at(c.filter));
  }
  // The padded odd digit counts against the limit (the limit itself:
  // test_bounded_growth.cpp).
  EXPECT_EQ(testing::outcome(ascii_hex_decode(bytes("41424"), 2)), "BadStream: decoded stream too large");
  EXPECT_TRUE(ascii_hex_decode(bytes("41424"), 3).ok());
}

// Entry 258 + k of a stream of literals is literal k and literal k + 1. A
// decoder that widens one entry early or late, ignores the early-change
// setting, keeps growing a full table or mishandles a clear code reads the
// wrong codes from there on.
TEST(Lzw, EveryWidthAFullTableAndAClear) {
  std::mt19937 rng(3);
  for (size_t n : {600u, 1400u, 3000u, 5000u}) {
    Bytes literals(n);
    for (auto& b : literals) b = static_cast<uint8_t>(rng());
    Bytes want = literals;
    std::vector<unsigned> tail;
    for (size_t k : {0u, 300u, 900u, 2000u, 3837u}) {  // 3837: entry 4095, the last
      if (k + 1 >= n) continue;
      tail.push_back(static_cast<unsigned>(258 + k));
      want.insert(want.end(), {literals[k], literals[k + 1]});
    }
    tail.insert(tail.end(), {256, 'x', 'y', 258});  // back to 9 bits and an empty table
    want.insert(want.end(), {'x', 'y', 'x', 'y'});
    for (bool early : {true, false}) {
      auto got = lzw_decode(testing::lzw_literals(literals, early, tail), early);
      ASSERT_TRUE(got.ok()) << n << " early " << early;
      EXPECT_TRUE(*got == want) << n << " early " << early;
    }
  }
}

// Predictors: the documented cases, parameter clamping, and PNG rows of
// every type over several pixel sizes.
TEST(Predictor, Cases) {
  const Bytes up_rows = {0x02, 0x01, 0x02, 0x03, 0x02, 0x01, 0x01, 0x01};
  const struct {
    const char* name;
    Dictionary parms;
    Bytes in;
    std::optional<Bytes> want;
  } cases[] = {
      {"predictor name", dict({{"Predictor", Object::name("Foo")}}), up_rows, up_rows},
      {"PNG 3 selects PNG", dict({{"Predictor", num(3)}, {"Columns", num(3)}}), up_rows, Bytes{1, 2, 3, 2, 3, 4}},
      {"PNG type 5 fails", dict({{"Predictor", num(12)}, {"Columns", num(2)}}), Bytes{0, 1, 2, 5, 1, 1}, std::nullopt},
      {"lone type byte 9 at the end", dict({{"Predictor", num(12)}, {"Columns", num(2)}}), Bytes{0, 1, 2, 9}, Bytes{1, 2}},
      {"TIFF colors 3", dict({{"Predictor", num(2)}, {"Colors", num(3)}, {"Columns", num(2)}}),
       Bytes{0x10, 0x20, 0x30, 0x01, 0x02, 0x03}, Bytes{0x10, 0x20, 0x30, 0x11, 0x22, 0x33}},
      {"columns 0 counts as 1", dict({{"Predictor", num(12)}, {"Columns", num(0)}}), Bytes{1, 5, 2, 3}, Bytes{5, 8}},
      {"bpc 0 counts as 1: 8 columns in one byte",
       dict({{"Predictor", num(12)}, {"Columns", num(8)}, {"BitsPerComponent", num(0)}}), Bytes{0, 7, 2, 1}, Bytes{7, 8}},
      {"bpc 16: bytes added separately", dict({{"Predictor", num(2)}, {"BitsPerComponent", num(16)}, {"Columns", num(2)}}),
       Bytes{0x00, 0xFF, 0x00, 0x01}, Bytes{0x00, 0xFF, 0x00, 0x00}},
      // PNG rows of every type, encoded outside the library: Sub, Average,
      // Paeth and Paeth over bytes; over 16-bit samples (two bytes a pixel);
      // over three 2-bit samples a pixel (a byte a pixel), the last row short.
      {"PNG types, 8 bits", dict({{"Predictor", num(15)}, {"Columns", num(4)}}),
       testing::hex("010a0ab4320307094e2904bc56a6fa0438ff8141"), testing::hex("0a14c8fa0c19be05c81e64ff00ff8040")},
      // Paeth ties: the left byte 14 against the upper-left 28 (a wins), then
      // the upper 105 against the upper-left 35 (b wins).
      {"PNG Paeth ties", dict({{"Predictor", num(13)}, {"Columns", num(3)}}), testing::hex("001c236904f2f2e4"),
       testing::hex("1c23690e004d")},
      {"PNG types, 16 bits", dict({{"Predictor", num(11)}, {"BitsPerComponent", num(16)}, {"Columns", num(2)}}),
       testing::hex("041234edcd0377e6c0ff0481020205"), testing::hex("1234ff0180007fff01020304")},
      {"PNG types, 2 bits, 3 colors",
       dict({{"Predictor", num(10)}, {"Colors", num(3)}, {"BitsPerComponent", num(2)}, {"Columns", num(3)}}),
       testing::hex("021be480043ac68f01f04c"), testing::hex("1be48055aa0ff03c")},
      // Absurd geometry: no allocation follows the row length.
      {"huge columns", dict({{"Predictor", num(12)}, {"Columns", num(int64_t{1} << 40)}, {"Colors", num(3)}}),
       Bytes{1, 5, 5, 5, 5}, Bytes{5, 5, 5, 10}},
      {"huge colors, TIFF", dict({{"Predictor", num(2)}, {"Colors", num(int64_t{1} << 40)}}), Bytes{1, 2, 3}, Bytes{1, 2, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::expect_result(predictor::apply(c.in, c.parms), c.want, "BadStream: bad predictor row filter");
  }
}

// validate_stream and decode_stream agree on damaged flate data behind PNG
// predictors, with rows long enough to cross the validator's window, alone
// and behind other stages, within and past a limit. Other chains: the
// filter_chain fuzz target.
TEST(Filter, ValidateAgreesWithDecode) {
  std::mt19937 rng(42);
  int failures = 0, successes = 0;
  for (int round = 0; round < 300; ++round) {
    const size_t cols = 1 + rng() % 300, rows = 1 + rng() % (round % 10 == 0 ? 2000 : 40);
    Bytes data((cols + 1) * rows + rng() % 2);  // a lone type byte at the end now and then
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<uint8_t>(i % (cols + 1) ? rng() % 7 : rng() % 40 ? rng() % 5 : 5 + rng() % 200);
    Bytes z = zlib(data, static_cast<int>(rng() % 10));
    if (rng() % 3 == 0) z.resize(rng() % (z.size() + 1));
    if (rng() % 3 == 0 && !z.empty()) z[rng() % z.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    Object parms = dobj({{"Predictor", num(10 + static_cast<int64_t>(rng() % 6))}, {"Columns", num(int64_t(cols))}});
    const bool behind_hex = round % 2;
    const Dictionary d = behind_hex ? dict({{"Filter", arr({nm("AHx"), nm("Fl"), nm("DCTDecode")})},
                                            {"DecodeParms", arr({Object::null(), parms})}})
                                     : dict({{"Filter", nm("FlateDecode")}, {"DecodeParms", parms}});
    const Bytes raw = behind_hex ? bytes(hex_of(z)) : z;
    for (uint64_t limit : {kMaxDecodedStream, rng() % (data.size() + 2)}) {
      auto got = decode_stream(d, raw, limit);
      ASSERT_EQ(testing::outcome(validate_stream(d, raw, limit)), testing::outcome(got)) << round;
      (got.ok() ? successes : failures) += limit == kMaxDecodedStream;
    }
  }
  EXPECT_GT(failures, 30);
  EXPECT_GT(successes, 30);
}

}  // namespace
}  // namespace vellum
