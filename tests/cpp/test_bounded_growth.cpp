// Output growth within a limit: the growth rule itself, and every decoder
// whose output reaches its limit exactly (none may reserve past it).
#include <gtest/gtest.h>

#include <functional>

#include "filter/ascii85.h"
#include "filter/bounded_growth.h"
#include "filter/asciihex.h"
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

// Each decoder at exactly its limit and one byte over ("decoded stream too
// large", for inflate's validator too): stored and dynamic DEFLATE blocks,
// and the decoders' long expansions.
TEST(BoundedGrowth, DecodersReachTheirLimitWithoutReservingPastIt) {
  constexpr uint64_t kLimit = 300000;
  const Bytes zeros(kLimit, 0);
  auto inflated = [](ByteSpan in, uint64_t limit) {
    Result<Bytes> out = inflate(in, limit);
    EXPECT_EQ(testing::outcome(inflate_validate(in, limit)), testing::outcome(out));
    return out;
  };
  auto raw = [](Bytes z) { return Bytes(z.begin() + 2, z.end()); };  // the zlib header off
  Bytes a85, rl;
  for (uint64_t n = 0; n < kLimit; n += 4) a85.insert(a85.end(), {'z', '\n', '\n'});
  for (uint64_t n = 0; n < kLimit; n += 125) rl.insert(rl.end(), {0x84, 0});
  const struct {
    const char* name;
    Bytes input;
    std::function<Result<Bytes>(ByteSpan, uint64_t)> decode;
  } cases[] = {
      {"inflate, dynamic", raw(testing::zlib(zeros, 9)), inflated},
      {"inflate, stored", raw(testing::zlib(zeros, 0)), inflated},
      {"ascii85 z", a85, [](ByteSpan in, uint64_t limit) { return ascii85_decode(in, limit); }},
      {"asciihex", Bytes(2 * kLimit, '0'), [](ByteSpan in, uint64_t limit) { return ascii_hex_decode(in, limit); }},
      {"lzw", testing::lzw_literals(zeros, true),
       [](ByteSpan in, uint64_t limit) { return lzw_decode(in, true, limit); }},
      {"runlength repeats", rl, [](ByteSpan in, uint64_t limit) { return run_length_decode(in, limit); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Result<Bytes> out = c.decode(c.input, kLimit);
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(*out, zeros);
    EXPECT_LE(out->capacity(), kLimit);
    EXPECT_EQ(testing::outcome(c.decode(c.input, kLimit - 1)), "BadStream: decoded stream too large");
  }
}

}  // namespace
}  // namespace vellum
