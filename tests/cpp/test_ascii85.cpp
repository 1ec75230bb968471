// ASCII85: the documented cases and round trips against an encoder.
#include <gtest/gtest.h>

#include <random>

#include "filter/ascii85.h"
#include "test_util.h"

namespace vellum {
namespace {

Bytes b(std::string_view s) { return testing::bytes(s); }

TEST(Ascii85, Cases) {
  const testing::DecodeCase cases[] = {
      {"z", b("z"), Bytes(4, 0)},
      {"!!!!! then z", b("!!!!!z"), Bytes(8, 0)},
      {"z inside a group", b("!z"), std::nullopt},
      {"single leftover digit", b("!!!!!!"), std::nullopt},
      {"starts with <~", b("<~9jqo^~>"), std::nullopt},
      {"s8W-!", b("s8W-!"), Bytes{0xFF, 0xFF, 0xFF, 0xFF}},
      {"uuuuu wraps", b("uuuuu"), Bytes{0x08, 0x78, 0x0E, 0xC4}},
      {"whitespace anywhere", b(" 9j\nqo\t^\r\f~>"), b("Man ")},
      {"NUL is whitespace", Bytes{'9', 'j', 0, 'q', 'o', '^'}, b("Man ")},
      {"rest after ~ unread", b("9jqo^~>\x01garbage"), b("Man ")},
      {"bad byte", b("9jqo^v"), std::nullopt},
      {"partial groups", b("9jqo^BlbD-BleB1DJ+*+F(f,q"), b("Man is distinguished")},
  };
  testing::expect_cases([](const Bytes& in) { return ascii85_decode(in); }, cases, "BadStream: bad ASCII85 data");
}

TEST(Ascii85, RoundTrip) {
  std::mt19937 rng(8);
  for (int round = 0; round < 300; ++round) {
    Bytes in(rng() % 200);
    for (auto& c : in) c = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
    const std::string enc = testing::ascii85_encode(in);
    auto got = ascii85_decode(b(enc));
    ASSERT_TRUE(got.ok());
    ASSERT_TRUE(*got == in);
  }
}

}  // namespace
}  // namespace vellum
