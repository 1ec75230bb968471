// Lexer::skip_ws scans long blanks and comments in blocks; this checks it
// against the plain byte loop on inputs built from the bytes that matter,
// with runs long enough to cross block boundaries.
#include <gtest/gtest.h>

#include <random>

#include "syntax/lex.h"

namespace vellum {
namespace {

size_t plain_skip_ws(const std::vector<uint8_t>& s, size_t pos) {
  while (pos < s.size()) {
    uint8_t c = s[pos];
    if (chars::is_whitespace(c)) {
      ++pos;
      continue;
    }
    if (c != '%') return pos;
    for (++pos; pos < s.size();)
      if (s[pos++] == '\r' || s[pos - 1] == '\n') break;
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
