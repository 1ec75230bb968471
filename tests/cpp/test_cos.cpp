// The object parser: syntax, error messages, limits.
#include <gtest/gtest.h>

#include <cmath>

#include "syntax/cos.h"

using namespace vellum;

namespace {

Result<Object> parse(std::string_view text) {
  Lexer lx(as_bytes(text));
  return parse_object(lx);
}

std::string error_of(std::string_view text) {
  auto r = parse(text);
  return r ? std::string("ok") : r.error().display();
}

}  // namespace

TEST(Cos, Scalars) {
  EXPECT_TRUE(parse("null")->is_null());
  EXPECT_TRUE(parse("true")->as_bool());
  EXPECT_FALSE(parse("false")->as_bool());
  EXPECT_EQ(parse("  % comment\n 42")->as_int(), 42);
  EXPECT_EQ(parse("+5")->as_int(), 5);
  EXPECT_EQ(parse("9223372036854775807")->as_int(), INT64_MAX);
}

TEST(Cos, Reals) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"5.", 5.0}, {"-.5", -0.5}, {"0.12345678901234567890123", 0.12345678901234567890123},
      {"9223372036854775808", 9223372036854775808.0}, {"1E-2", 0.01},
  };
  for (const Case& c : cases) {
    auto r = parse(c.text);
    ASSERT_TRUE(r && r->is_real()) << c.text;
    EXPECT_DOUBLE_EQ(r->as_real(), c.value) << c.text;
  }
  auto inf = parse("-inf");
  ASSERT_TRUE(inf && inf->is_real());
  EXPECT_TRUE(std::isinf(inf->as_real()) && inf->as_real() < 0);
  EXPECT_TRUE(std::isnan(parse("+nan")->as_real()));
  EXPECT_EQ(error_of("NaN"), "UnexpectedToken: unexpected token");
}

TEST(Cos, NumberErrors) {
  for (const char* bad : {"1.2.3", "+", "-", ".", "--1", "5-", "1-2", "+-1", "1e", "1e+", "0x10"})
    EXPECT_EQ(error_of(bad), "UnexpectedToken: bad number") << bad;
  EXPECT_EQ(error_of("1\xff"), "UnexpectedToken: non-utf8 number");
}

TEST(Cos, Strings) {
  struct Case {
    std::string_view text;
    std::string_view bytes;
  } cases[] = {
      {"(a(b)c\\)d)", "a(b)c)d"},
      {"(\\0534)", "+4"},
      {"(\\777\\400)", std::string_view("\xff\x00", 2)},
      {"(\\n\\r\\t\\b\\f\\q)", "\n\r\t\b\fq"},
      {"<4 1 F>", "\x41\xf0"},
      {"<41424>", "AB@"},
  };
  for (const Case& c : cases) {
    auto r = parse(c.text);
    ASSERT_TRUE(r && r->is_string()) << c.text;
    EXPECT_EQ(r->as_string(), c.bytes) << c.text;
  }
}

TEST(Cos, Names) {
  EXPECT_EQ(parse("/A#20B")->as_name(), "A B");
  EXPECT_EQ(parse("/Caf\xc3\xa9")->as_name(), "Caf\xc3\xa9");
  EXPECT_EQ(parse("/A\xff")->as_name(), "A\xef\xbf\xbd");
  EXPECT_EQ(parse("/12/Name")->as_name(), "12");
}

TEST(Cos, SyntaxErrors) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"/A#2", "UnexpectedEof: input ended mid-object"},
      {"/A#zz", "UnexpectedToken: bad #xx escape in name"},
      {"<4G>", "UnexpectedToken: bad hex digit"},
      {"[1 2", "UnexpectedEof: input ended mid-object"},
      {"truex", "UnexpectedToken: unexpected token"},
      {"<< /A >>", "UnexpectedToken: unexpected token"},
      {"<< 1 2 >>", "UnexpectedToken: dictionary key is not a name"},
      {"", "UnexpectedEof: input ended mid-object"},
  };
  for (const Case& c : cases) EXPECT_EQ(error_of(c.text), c.error) << c.text;
}

TEST(Cos, References) {
  auto r = parse("12 0 R");
  ASSERT_TRUE(r && r->is_ref());
  EXPECT_EQ(r->as_ref(), (Ref{12, 0}));
  auto max = parse("4294967295 65535 R");
  ASSERT_TRUE(max && max->is_ref());
  EXPECT_EQ(max->as_ref(), (Ref{4294967295u, 65535}));
  EXPECT_TRUE(parse("12 +0 R")->is_ref());
  // Not references: the integer alone comes back, the position after it.
  for (const char* text : {"12 70000 R", "-1 0 R", "4294967296 0 R", "12 0 obj", "12 -0 R", "12 + R"}) {
    Lexer lx(as_bytes(text));
    auto first = parse_object(lx);
    ASSERT_TRUE(first && first->is_int()) << text;
  }
  Lexer lx(as_bytes("12 70000 R"));
  EXPECT_EQ(parse_object(lx)->as_int(), 12);
  EXPECT_EQ(parse_object(lx)->as_int(), 70000);
  EXPECT_EQ(parse_object(lx).error().message, "unexpected token");
}

TEST(Cos, Dictionaries) {
  auto d = parse("<< /A 1 /A 2 /B 3 >>");
  ASSERT_TRUE(d && d->is_dict());
  ASSERT_EQ(d->as_dict().size(), 2u);
  EXPECT_EQ(d->as_dict().entries()[0].first, "A");
  EXPECT_EQ(d->as_dict().get_int("A"), 2);
  EXPECT_EQ(d->as_dict().get_int("B"), 3);
  EXPECT_EQ(d->as_dict().get("type"), nullptr);

  Lexer lx(as_bytes("<< /A 1 >x 7"));
  auto odd = parse_object(lx);
  ASSERT_TRUE(odd && odd->is_dict());
  EXPECT_EQ(parse_object(lx)->as_int(), 7);  // ">x" ended the dictionary
}

TEST(Cos, DeepCopyIsIndependent) {
  auto d = parse("<< /S [ 1 2 ] >>");
  Object copy = *d;
  copy.as_dict_mut().get_mut("S")->as_array_mut().push_back(Object::integer(3));
  EXPECT_EQ(d->as_dict().get_array("S")->size(), 2u);
  EXPECT_EQ(copy.as_dict().get_array("S")->size(), 3u);
}

TEST(Cos, NestingIsBounded) {
  std::string ok(kMaxNestingDepth, '[');
  ok += std::string(kMaxNestingDepth, ']');
  EXPECT_TRUE(parse(ok));
  std::string deep(100000, '[');
  EXPECT_EQ(error_of(deep), "UnexpectedToken: nesting too deep");
  std::string dicts;
  for (int i = 0; i < 100000; ++i) dicts += "<</A ";
  EXPECT_EQ(error_of(dicts), "UnexpectedToken: nesting too deep");
}

TEST(Cos, RepeatedKeysStayLinear) {
  // 100,000 entries over 1,000 distinct keys: a quadratic insert would take
  // minutes; the indexed insert takes milliseconds.
  std::string text = "<<";
  for (int i = 0; i < 100000; ++i) text += " /K" + std::to_string(i % 1000) + " " + std::to_string(i);
  text += " >>";
  auto d = parse(text);
  ASSERT_TRUE(d);
  ASSERT_EQ(d->as_dict().size(), 1000u);
  EXPECT_EQ(d->as_dict().entries()[0].first, "K0");
  EXPECT_EQ(d->as_dict().get_int("K0"), 99000);
  EXPECT_EQ(d->as_dict().get_int("K999"), 99999);
}
