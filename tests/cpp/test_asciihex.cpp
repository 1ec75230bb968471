// ASCIIHex: the documented cases.
#include <gtest/gtest.h>

#include "filter/asciihex.h"
#include "test_util.h"

namespace vellum {
namespace {

Bytes b(std::string_view s) { return testing::bytes(s); }

TEST(AsciiHex, Cases) {
  const testing::DecodeCase cases[] = {
      {"hello", b("48656C6C6F>"), b("Hello")},
      {"odd digit padded", b("ABC>"), Bytes{0xAB, 0xC0}},
      {"no end marker", b("4865"), b("He")},
      {"bad digit", b("4g"), std::nullopt},
      {"rest after > unread", b("41>zz"), b("A")},
      {"whitespace inside a pair", b("4\n1 4\t2"), b("AB")},
      {"NUL is whitespace", Bytes{'4', 0, '1'}, b("A")},
      {"< is not a digit", b("<41>"), std::nullopt},
  };
  testing::expect_cases([](const Bytes& in) { return ascii_hex_decode(in); }, cases, "BadStream: bad ASCIIHex data");
  // The padded odd digit counts against the limit (the limit itself: test_bounded_growth.cpp).
  EXPECT_EQ(ascii_hex_decode(b("41424"), 2).error().message, "decoded stream too large");
  EXPECT_TRUE(ascii_hex_decode(b("41424"), 3).ok());
}

}  // namespace
}  // namespace vellum
