// ASCII85: the documented cases; the encoded forms are Python's
// base64.a85encode output.
#include <gtest/gtest.h>

#include "filter/ascii85.h"
#include "test_util.h"

namespace vellum {
namespace {

Bytes b(std::string_view s) { return testing::bytes(s); }

TEST(Ascii85, Cases) {
  const testing::DecodeCase cases[] = {
      {"z", b("z"), Bytes(4, 0)},
      {"!!!!! then z", b("!!!!!z"), Bytes(8, 0)},
      {"z then a partial group", b("zrr~>"), Bytes{0, 0, 0, 0, 0xFF}},
      {"z inside a group", b("!z"), std::nullopt},
      {"single leftover digit", b("!!!!!!"), std::nullopt},
      {"starts with <~", b("<~9jqo^~>"), std::nullopt},
      {"s8W-!", b("s8W-!"), Bytes{0xFF, 0xFF, 0xFF, 0xFF}},
      {"uuuuu wraps", b("uuuuu"), Bytes{0x08, 0x78, 0x0E, 0xC4}},
      {"whitespace anywhere", b(" 9j\nqo\t^\r\f~>"), b("Man ")},
      {"NUL is whitespace", Bytes{'9', 'j', 0, 'q', 'o', '^'}, b("Man ")},
      {"rest after ~ unread", b("9jqo^~>\x01garbage"), b("Man ")},
      {"bad byte", b("9jqo^v"), std::nullopt},
      {"partial group of 1", b("9`~>"), b("M")},
      {"partial group of 2", b("9jn"), b("Ma")},
      {"partial group of 3, high bytes", b("s8W*~>"), Bytes{0xFF, 0xFF, 0xFF}},
      {"whole groups", b("9jqo^BlbD-BleB1DJ+*+F(f,q"), b("Man is distinguished")},
  };
  testing::expect_cases([](const Bytes& in) { return ascii85_decode(in); }, cases, "BadStream: bad ASCII85 data");
}

}  // namespace
}  // namespace vellum
