// RunLength: the documented cases and the output limit.
#include <gtest/gtest.h>

#include "filter/runlength.h"
#include "test_util.h"

namespace vellum {
namespace {

TEST(RunLength, Cases) {
  const testing::DecodeCase cases[] = {
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
  testing::expect_cases([](const Bytes& in) { return run_length_decode(in); }, cases, "BadStream: truncated RunLength data");
}

TEST(RunLength, OutputLimit) {
  const Bytes in = {0x81, 'q', 0x81, 'q', 0x00, 'r'};  // 257 bytes
  EXPECT_TRUE(run_length_decode(in, 257).ok());
  EXPECT_EQ(run_length_decode(in, 256).error().display(), "BadStream: decoded stream too large");
}

}  // namespace
}  // namespace vellum
