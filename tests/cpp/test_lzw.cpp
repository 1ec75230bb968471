// LZW: hand-written code sequences for the edge cases, and long streams of
// literals whose code widths are written by the standard's rule (every
// width, both early-change settings, a full table) with back-references to
// entries defined at each width.
#include <gtest/gtest.h>

#include <random>

#include "filter/lzw.h"
#include "test_util.h"

namespace vellum {
namespace {

using testing::pack9;

TEST(Lzw, EdgeCases) {
  const Bytes abab = {0x41, 0x42, 0x41, 0x42};
  Bytes cut = pack9({256, 65, 66, 258, 300});
  cut.pop_back();  // ends inside the last code
  Bytes trailing = pack9({256, 65, 66, 258, 257});
  trailing.push_back(0xFF);
  trailing.push_back(0x13);
  const testing::DecodeCase cases[] = {
      {"empty", Bytes{}, Bytes{}},
      {"clear, A, B, 258, end", pack9({256, 65, 66, 258, 257}), abab},
      {"ends inside a code", cut, abab},
      {"data after end-of-data", trailing, abab},
      {"first code undefined", pack9({258}), std::nullopt},
      {"undefined code after a clear, mid-stream", pack9({256, 65, 66, 256, 259}), std::nullopt},
      // A code beyond the next free one is still "previous + its first byte".
      {"code past the next free", pack9({256, 65, 300, 257}), Bytes{0x41, 0x41, 0x41}},
      // After such a code the previous string is the new entry 258 ("AA"):
      // 66 then adds "AAB", and 259 (next free) is "AA" + "A".
      {"code past the next free, then a literal", pack9({256, 65, 300, 66, 259, 257}),
       Bytes{0x41, 0x41, 0x41, 0x42, 0x41, 0x41, 0x42}},
      {"KwKwK", pack9({256, 65, 258, 259, 257}), Bytes{0x41, 0x41, 0x41, 0x41, 0x41, 0x41}},
      {"no leading clear", pack9({66, 67, 258, 257}), Bytes{0x42, 0x43, 0x42, 0x43}},
  };
  for (bool early : {true, false}) {
    for (const testing::DecodeCase& c : cases) {
      SCOPED_TRACE(c.name);
      testing::expect_result(lzw_decode(c.in, early), c.want, "BadStream: bad LZW data");
    }
  }
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

}  // namespace
}  // namespace vellum
