// RunLength: the documented cases (the output limit: test_bounded_growth.cpp).
#include <gtest/gtest.h>

#include "filter/runlength.h"
#include "test_util.h"

namespace vellum {
namespace {

TEST(RunLength, Cases) {
  const testing::DecodeCase cases[] = {
      {"literal run then end", Bytes{0x02, 'A', 'B', 'C', 0x80}, Bytes{'A', 'B', 'C'}},
      {"longest repeat", Bytes{0x81, 'q'}, Bytes(128, 'q')},
      {"repeat cut short", Bytes{0xFE}, std::nullopt},
      {"literal cut short", Bytes{0x05, 'A', 'B'}, std::nullopt},
      {"no end marker", Bytes{0x00, 'A', 0xFF, 'B'}, Bytes{'A', 'B', 'B'}},
      {"rest after end unread", Bytes{0x00, 'A', 0x80, 0x05}, Bytes{'A'}},
  };
  testing::expect_cases([](const Bytes& in) { return run_length_decode(in); }, cases, "BadStream: truncated RunLength data");
}


}  // namespace
}  // namespace vellum
