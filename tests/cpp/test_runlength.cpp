// RunLength: the documented cases and the output limit.
#include <gtest/gtest.h>

#include "filter/runlength.h"
#include "test_util.h"

namespace vellum {
namespace {

TEST(RunLength, Cases) {
  struct {
    const char* name;
    Bytes in;
    std::optional<Bytes> want;
  } cases[] = {
      {"literal run then end", Bytes{0x02, 'A', 'B', 'C', 0x80}, Bytes{'A', 'B', 'C'}},
      {"longest repeat", Bytes{0x81, 'q'}, Bytes(128, 'q')},
      {"longest literal", [] {
         Bytes in{0x7F};
         in.insert(in.end(), 128, 'w');
         return in;
       }(), Bytes(128, 'w')},
      {"repeat cut short", Bytes{0xFE}, std::nullopt},
      {"literal cut short", Bytes{0x05, 'A', 'B'}, std::nullopt},
      {"no end marker", Bytes{0x00, 'A', 0xFF, 'B'}, Bytes{'A', 'B', 'B'}},
      {"rest after end unread", Bytes{0x00, 'A', 0x80, 0x05}, Bytes{'A'}},
      {"empty", Bytes{}, Bytes{}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::expect_result(run_length_decode(c.in), c.want, "BadStream: truncated RunLength data");
  }
}

TEST(RunLength, OutputLimit) {
  const Bytes in = {0x81, 'q', 0x81, 'q', 0x00, 'r'};  // 257 bytes
  EXPECT_TRUE(run_length_decode(in, 257).ok());
  EXPECT_EQ(run_length_decode(in, 256).error().display(), "BadStream: decoded stream too large");
}

}  // namespace
}  // namespace vellum
