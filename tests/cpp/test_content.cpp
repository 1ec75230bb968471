// Content-stream parser: operators with their operand slices, the oddities of
// real content (inline images, stray delimiters, long keywords), and bounded
// behaviour on hostile input.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "page/content.h"

namespace vellum {
namespace {

// Compact rendering so that an expectation fits on a line: "Tf[/F1 12]".
std::string render(const Object& o);
std::string join(std::span<const Object> items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ' ';
    out += render(items[i]);
  }
  return out;
}
std::string render(const Object& o) {
  std::string out;
  if (o.is_int()) return std::to_string(o.as_int());
  if (o.is_real()) return std::to_string(o.as_real()).substr(0, 4);
  if (o.is_string()) return out.append("(").append(o.as_string()).append(")");
  if (o.is_name()) return out.append("/").append(o.as_name());
  if (o.is_array()) return out.append("[").append(join(o.as_array())).append("]");
  return "?";  // dictionaries (marked-content properties, on most tagged corpus pages) are not shown
}

// Also checks the flat layout's invariant: slices tile the operand vector in
// order and nothing dropped lingers in it.
std::string parse(const std::string& input) {
  ContentOps c = parse_content(as_bytes(input));
  std::string out;
  size_t next = 0;
  for (const Op& op : c.ops) {
    EXPECT_EQ(op.first_operand, next);
    next += op.operand_count;
    if (!out.empty()) out += ' ';
    out.append(op.op()).append("[").append(join(c.operands_of(op))).append("]");
  }
  EXPECT_EQ(next, c.operands.size());
  return out;
}

TEST(ParseContent, Ops) {
  const struct {
    const char* name;
    std::string input;
    const char* expected;
  } cases[] = {
      {"ArrayAndMatrix", "[(a) -120 (b)] TJ 1 0 0 1 10 20 cm", "TJ[[(a) -120 (b)]] cm[1 0 0 1 10 20]"},
      {"QuoteOperators", "(a) ' 1 .5 (b) \" T*", "'[(a)] \"[1 0.50 (b)] T*[]"},
      {"LongKeywordCut", "1 2 abcdef", "abcd[1 2]"},
      // Only numbers, strings, names, arrays and dictionaries are operands.
      {"KeywordsAreNotOperands", "1 true 2 false null", "true[1] fals[2] null[]"},
      {"TrailingOperandsDropped", "1 2 m 3 4", "m[1 2]"},
      {"StrayCloseBracket", "1 2 ] 3 m", "m[3]"},
      {"UnterminatedString", "0 0 m (unterminated", "m[0 0]"},
      {"BadHexStringEndsList", "1 w 2 3 <4G> re 5 w", "w[1]"},
      // Inline images are skipped; the first EI ends one wherever it is.
      {"FirstEIEndsImage", "1 w BI /W 1 ID abEIcd 5 w EI Q", "w[1] cd[] w[5] EI[] Q[]"},
      {"InlineImageWithoutEI", "q BI /W 1 ID \xff\xfe Q", "q[]"},
      {"BIPrefixIsOperator", "BIX 1 w", "BIX[] w[1]"},
  };
  for (const auto& tc : cases) EXPECT_EQ(parse(tc.input), tc.expected) << tc.name;
}

TEST(ParseContentLimits, HostileInput) {
  // Nesting beyond the parser's limit ends the list cleanly.
  EXPECT_EQ(parse("q " + std::string(100000, '[') + " Q"), "q[]");
  // Millions of operators: one linear pass, slices still tile.
  std::string s;
  for (int i = 0; i < 1'000'000; ++i) s += "q 1 0 0 1 2 3 cm Q ";
  ContentOps c = parse_content(as_bytes(s));
  ASSERT_EQ(c.ops.size(), 3'000'000u);
  EXPECT_EQ(c.operands.size(), 6'000'000u);
  EXPECT_EQ(c.ops[2'999'998].first_operand, 5'999'994u);
  EXPECT_EQ(c.ops[2'999'998].operand_count, 6u);
}

TEST(ParseContentLimits, ItemBudget) {
  // Operators and operands each take one item, and so does every element of
  // an array or dictionary operand; the parse stops at the item past budget.
  const struct {
    const char* input;
    uint64_t items;
    bool over;
  } cases[] = {{"q Q", 2, false}, {"q Q q", 2, true}, {"[1 [2]] TJ", 5, false}, {"[1 [2]] TJ", 4, true},
               {"<</A 1>> BDC", 4, false}, {"<</A 1>> BDC", 3, true}};
  for (const auto& tc : cases) EXPECT_EQ(parse_content(as_bytes(tc.input), tc.items).over_budget, tc.over) << tc.input;
}

}  // namespace
}  // namespace vellum
