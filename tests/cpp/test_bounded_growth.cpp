// Output growth within a limit: the growth rule itself, and every decoder
// whose output reaches its limit exactly (none may reserve past it).
#include <gtest/gtest.h>

#include <functional>

#include "filter/ascii85.h"
#include "filter/bounded_growth.h"
#include "filter/inflate.h"
#include "filter/lzw.h"
#include "filter/runlength.h"
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
        if (buf.capacity() != before) {
          ASSERT_LE(before, limit / 2) << limit << " " << step << " at " << used;
        }
      }
    }
  }
}

TEST(BoundedGrowth, DecodersReachTheirLimitWithoutReservingPastIt) {
  constexpr uint64_t kLimit = 300000;
  const Bytes zeros(kLimit, 0);
  struct Case {
    const char* name;
    Bytes input;
    std::function<Result<Bytes>(ByteSpan, uint64_t)> decode;
  };
  const Case cases[] = {
      {"inflate", [&] {
         Bytes z = testing::zlib(zeros, 9);
         return Bytes(z.begin() + 2, z.end());
       }(), [](ByteSpan in, uint64_t limit) { return inflate(in, limit); }},
      {"ascii85 z", [] {
         Bytes in;
         for (uint64_t n = 0; n < kLimit; n += 4) in.insert(in.end(), {'z', '\n', '\n'});
         return in;
       }(), [](ByteSpan in, uint64_t limit) { return ascii85_decode(in, limit); }},
      {"runlength repeats", [] {
         Bytes in;
         for (uint64_t n = 0; n < kLimit; n += 125) in.insert(in.end(), {0x84, 0});
         return in;
       }(), [](ByteSpan in, uint64_t limit) { return run_length_decode(in, limit); }},
  };
  for (const Case& c : cases) {
    Result<Bytes> out = c.decode(c.input, kLimit);
    ASSERT_TRUE(out.ok()) << c.name;
    EXPECT_EQ(*out, zeros) << c.name;
    EXPECT_LE(out->capacity(), kLimit) << c.name;
    EXPECT_EQ(c.decode(c.input, kLimit - 1).error().display(), "BadStream: decoded stream too large") << c.name;
  }
}

}  // namespace
}  // namespace vellum
