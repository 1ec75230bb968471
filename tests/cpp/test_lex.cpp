// Lexer::skip_ws scans long blanks and comments in blocks; this checks it
// against the plain byte loop on inputs built from the bytes that matter,
// with runs long enough to cross block boundaries.
#include <gtest/gtest.h>

#include <random>

#include "syntax/lex.h"

namespace vellum {
namespace {

size_t plain_skip_ws(const std::vector<uint8_t>& s, size_t pos) {
  for (bool comment = false; pos < s.size(); ++pos) {
    if (comment) {
      comment = s[pos] != '\r' && s[pos] != '\n';  // the end of line is part of the comment
    } else if (s[pos] == '%') {
      comment = true;
    } else if (!chars::is_whitespace(s[pos])) {
      break;
    }
  }
  return pos;
}

TEST(Lexer, SkipWsMatchesByteLoop) {
  static constexpr uint8_t kAlphabet[] = {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20, '%', 'a', 0x0B, 0xA0};
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> s;
    size_t len = rng() % 200;
    while (s.size() < len) {
      uint8_t b = kAlphabet[rng() % std::size(kAlphabet)];
      s.insert(s.end(), rng() % 4 == 0 ? rng() % 40 : 1, b);
    }
    for (size_t start = 0; start <= s.size(); ++start) {
      Lexer lex(ByteSpan(s.data(), s.size()), start);
      lex.skip_ws();
      ASSERT_EQ(lex.pos(), plain_skip_ws(s, start)) << "round " << round << " start " << start;
    }
  }
}

}  // namespace
}  // namespace vellum
