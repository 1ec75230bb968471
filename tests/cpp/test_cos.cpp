// The object parser: syntax, error messages, limits. Each input's objects
// are shown in one line (reals with a point, strings with \xx for bytes
// outside printable ASCII) and compared with the expected line.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>

#include "syntax/cos.h"
#include "test_util.h"

using namespace vellum;

namespace {

std::string show(const Object& o) {
  if (o.is_null()) return "null";
  if (o.is_bool()) return o.as_bool() ? "true" : "false";
  if (o.is_int()) return std::to_string(o.as_int());
  if (o.is_name()) return "/" + o.as_name();
  if (o.is_ref()) return std::to_string(o.as_ref().num) + " " + std::to_string(o.as_ref().gen) + " R";
  std::string out;
  if (o.is_real()) {
    char buf[32];
    out.assign(buf, std::to_chars(buf, buf + sizeof buf, o.as_real()).ptr);
    return out.find_first_of(".ena") == std::string::npos ? out + ".0" : out;
  }
  if (o.is_string()) {
    for (unsigned char c : o.as_string()) {
      if (c >= 0x20 && c < 0x7f) out += static_cast<char>(c);
      else out += {'\\', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    }
    return "(" + out + ")";
  }
  if (o.is_array()) {
    for (const Object& e : o.as_array()) out.append(out.empty() ? "" : " ").append(show(e));
    return "[" + out + "]";
  }
  for (const auto& [k, v] : o.as_dict()) out.append("/").append(k).append(" ").append(show(v)).append(" ");
  return "<< " + out + ">>";
}

// Every object of `text` in order, up to the end or the first error.
std::string parse_all(std::string_view text) {
  Lexer lx(as_bytes(text));
  std::string out;
  do {
    Result<Object> r = parse_object(lx);
    out.append(out.empty() ? "" : "; ").append(r ? show(*r) : r.error().display());
    if (!r) break;
    lx.skip_ws();
  } while (!lx.at_end());
  return out;
}

}  // namespace

TEST(Cos, Syntax) {
  const struct {
    std::string_view text, shown;
  } cases[] = {
      {"9223372036854775807", "9223372036854775807"},
      {"9223372036854775808", "9223372036854775808.0"},
      {"5. -.5 1E-2", "5.0; -0.5; 0.01"},
      {"0.12345678901234567890123", "0.12345678901234568"},
      {"-inf +nan", "-inf; nan"},
      {"NaN", "UnexpectedToken: unexpected token"},
      {"1\xff", "UnexpectedToken: non-utf8 number"},
      {"(\\0534) (\\777\\400)", "(+4); (\\ff\\00)"},
      {"(\\n\\r\\t\\b\\f\\q)", "(\\0a\\0d\\09\\08\\0cq)"},
      {"<4 1 F> <41424>", "(A\\f0); (AB@)"},
      {"/A#20B /Caf\xc3\xa9 /A\xff", "/A B; /Caf\xc3\xa9; /A\xef\xbf\xbd"},
      {"/A#2", "UnexpectedEof: input ended mid-object"},
      {"/A#zz", "UnexpectedToken: bad #xx escape in name"},
      {"<4G>", "UnexpectedToken: bad hex digit"},
      {"[1 2", "UnexpectedEof: input ended mid-object"},
      {"truex", "UnexpectedToken: unexpected token"},
      {"<< /A >>", "UnexpectedToken: unexpected token"},
      {"<< 1 2 >>", "UnexpectedToken: dictionary key is not a name"},
      {"", "UnexpectedEof: input ended mid-object"},
      {"[12 0 R 4294967295 65535 R 12 +0 R]", "[12 0 R 4294967295 65535 R 12 0 R]"},
      // Not references: the integers, then the keyword alone.
      {"12 70000 R", "12; 70000; UnexpectedToken: unexpected token"},
      {"-1 0 R", "-1; 0; UnexpectedToken: unexpected token"},
      {"4294967296 0 R", "4294967296; 0; UnexpectedToken: unexpected token"},
      {"12 0 obj", "12; 0; UnexpectedToken: unexpected token"},
      {"12 + R", "12; UnexpectedToken: bad number"},
      {"<< /A 1 /A 2 /B [3] >>", "<< /A 2 /B [3] >>"},  // the first place, the last value
      {"<< /A 1 >x 7", "<< /A 1 >>; 7"},                  // ">x" ended the dictionary
  };
  for (const auto& c : cases) EXPECT_EQ(parse_all(c.text), c.shown) << c.text;
  for (const char* bad : {"1.2.3", "+", "-", ".", "--1", "5-", "1-2", "+-1", "1e", "1e+", "0x10"})
    EXPECT_EQ(parse_all(bad), "UnexpectedToken: bad number") << bad;
}

TEST(Cos, NestingIsBounded) {
  EXPECT_EQ(parse_all(std::string(kMaxNestingDepth, '[') + std::string(kMaxNestingDepth, ']')).substr(0, 3), "[[[");
  EXPECT_EQ(parse_all(std::string(100000, '[')), "UnexpectedToken: nesting too deep");
  std::string dicts;
  for (int i = 0; i < 100000; ++i) dicts += "<</A ";
  EXPECT_EQ(parse_all(dicts), "UnexpectedToken: nesting too deep");
}

TEST(Cos, RepeatedKeysStayLinear) {
  // 100,000 entries over 1,000 distinct keys: a quadratic insert would take
  // minutes; the indexed insert takes milliseconds.
  std::string text = "<<";
  for (int i = 0; i < 100000; ++i) text += " /K" + std::to_string(i % 1000) + " " + std::to_string(i);
  text += " >>";
  Lexer lx(as_bytes(text));
  auto d = parse_object(lx);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->as_dict().size(), 1000u);  // the first place, the last value: the Syntax rows
}
