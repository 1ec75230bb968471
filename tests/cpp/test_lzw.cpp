// LZW: long streams of literals whose code widths are written by the standard's rule (every
// width, both early-change settings, a full table) with back-references to
// entries defined at each width. Hand-written code sequences for the edge
// cases: test_filter.cpp.
#include <gtest/gtest.h>

#include <random>

#include "filter/lzw.h"
#include "test_util.h"

namespace vellum {
namespace {

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
