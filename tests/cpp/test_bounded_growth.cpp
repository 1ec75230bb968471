// Output growth within a limit: the growth rule itself, and every decoder
// whose output reaches its limit exactly (none may reserve past it).
#include <gtest/gtest.h>

#include "filter/bounded_growth.h"
#include "filter/filter.h"
#include "test_util.h"

namespace vellum {
namespace {

TEST(BoundedGrowth, NeverCopiesMoreThanHalfTheLimitNorReservesPastIt) {
  for (uint64_t limit : {uint64_t{1000}, uint64_t{4096}, uint64_t{100003}, uint64_t{1} << 20}) {
    for (uint64_t step : {uint64_t{1}, uint64_t{7}, uint64_t{258}, uint64_t{4096}}) {
      Bytes buf;
      for (uint64_t used = 0; used + step <= limit; used += step) {
        const size_t before = buf.capacity();
        resize_within(buf, used + step, limit);
        ASSERT_GE(buf.size(), used + step);
        ASSERT_LE(buf.capacity(), limit) << limit << " " << step;
        ASSERT_TRUE(buf.capacity() == before || before <= limit / 2) << limit << " " << step << " at " << used;
      }
    }
  }
}

// Each decoder at exactly its limit and one byte over ("decoded stream too
// large"), validate_stream agreeing: stored and dynamic DEFLATE blocks, and
// the decoders' long expansions.
TEST(BoundedGrowth, DecodersReachTheirLimitWithoutReservingPastIt) {
  constexpr uint64_t kLimit = 300000;
  const Bytes zeros(kLimit, 0);
  Bytes a85, rl;
  for (uint64_t n = 0; n < kLimit; n += 4) a85.insert(a85.end(), {'z', '\n', '\n'});
  for (uint64_t n = 0; n < kLimit; n += 125) rl.insert(rl.end(), {0x84, 0});
  const struct {
    const char* filter;
    Bytes input;
  } cases[] = {
      {"FlateDecode", testing::zlib(zeros, 9)}, {"FlateDecode", testing::zlib(zeros, 0)}, {"A85", a85},
      {"AHx", Bytes(2 * kLimit, '0')},          {"LZW", testing::lzw_literals(zeros, true)},  {"RL", rl},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    const Dictionary d = testing::dict({{"Filter", Object::name(c.filter)}});
    Result<Bytes> out = decode_stream(d, c.input, kLimit);
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(*out, zeros);
    EXPECT_LE(out->capacity(), kLimit);
    EXPECT_TRUE(validate_stream(d, c.input, kLimit).ok());
    EXPECT_EQ(testing::outcome(decode_stream(d, c.input, kLimit - 1)), "BadStream: decoded stream too large");
    EXPECT_EQ(testing::outcome(validate_stream(d, c.input, kLimit - 1)), "BadStream: decoded stream too large");
  }
}

}  // namespace
}  // namespace vellum
