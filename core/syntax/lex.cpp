#include "syntax/lex.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellum {
namespace {

// Long stretches of blanks and long comments (content streams pad with
// them, and a hostile one can hold a gigabyte) are scanned sixteen bytes at
// a time where SSE2 is available; the byte loops after them finish the tail
// and are the whole scan elsewhere.

// How many of the n bytes at p are whitespace before the first that is not.
size_t blank_prefix(const uint8_t* p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; n - i >= 16; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i ws = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(v, _mm_set1_epi8(0x0A)));
    ws = _mm_or_si128(ws, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x0D)), _mm_cmpeq_epi8(v, _mm_set1_epi8(0x09))));
    ws = _mm_or_si128(ws, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x0C)), _mm_cmpeq_epi8(v, _mm_setzero_si128())));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(ws));
    if (mask != 0xFFFF) return i + static_cast<size_t>(std::countr_one(mask));
  }
#endif
  while (i < n && chars::is_whitespace(p[i])) ++i;
  return i;
}

// How many of the n bytes at p a comment's rest takes: through the first CR
// or LF, or all of them.
size_t comment_rest(const uint8_t* p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; n - i >= 16; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i eol = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x0D)), _mm_cmpeq_epi8(v, _mm_set1_epi8(0x0A)));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(eol));
    if (mask != 0) return i + static_cast<size_t>(std::countr_zero(mask)) + 1;
  }
#endif
  for (; i < n; ++i)
    if (p[i] == '\r' || p[i] == '\n') return i + 1;
  return n;
}

}  // namespace

// The byte loop of skip_ws stays small (it runs before every token, and most
// gaps are a byte or two); a stretch that gets long leaves it by a tail call.
void Lexer::skip_ws() {
  const size_t start = pos_;
  while (pos_ < len_) {
    uint8_t c = data_[pos_];
    if (chars::is_whitespace(c)) {
      if (++pos_ - start >= 16) return skip_long_gap(false);
      continue;
    }
    if (c != '%') return;
    const size_t comment = ++pos_;
    while (pos_ < len_) {
      uint8_t d = data_[pos_++];
      if (d == '\r' || d == '\n') break;
      if (pos_ - comment == 16) return skip_long_gap(true);
    }
  }
}

void Lexer::skip_long_gap(bool in_comment) {
  size_t p = pos_;
  if (in_comment) p += comment_rest(data_ + p, len_ - p);
  while (p < len_) {
    if (chars::is_whitespace(data_[p])) {
      p += blank_prefix(data_ + p, len_ - p);
      continue;
    }
    if (data_[p] != '%') break;
    ++p;
    p += comment_rest(data_ + p, len_ - p);
  }
  pos_ = p;
}

bool Lexer::eat_keyword(std::string_view word) {
  if (len_ - pos_ < word.size()) return false;
  if (as_chars(ByteSpan(data_ + pos_, word.size())) != word) return false;
  size_t after = pos_ + word.size();
  if (after < len_ && !chars::is_delimiter(data_[after])) return false;
  pos_ = after;
  return true;
}

std::string_view Lexer::read_keyword() {
  size_t start = pos_;
  while (pos_ < len_ && !chars::is_delimiter(data_[pos_])) ++pos_;
  return std::string_view(reinterpret_cast<const char*>(data_ + start), pos_ - start);
}

}  // namespace vellum

namespace vellum {

namespace {
// Length of the valid UTF-8 sequence starting at s[i], or 0 when invalid.
size_t utf8_sequence(std::string_view s, size_t i) {
  auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t c = b(i);
  if (c < 0x80) return 1;
  size_t n = s.size() - i;
  auto cont = [&](size_t k) { return (b(k) & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return n >= 2 && cont(i + 1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (n < 3 || !cont(i + 1) || !cont(i + 2)) return 0;
    if (c == 0xE0 && b(i + 1) < 0xA0) return 0;   // overlong
    if (c == 0xED && b(i + 1) >= 0xA0) return 0;  // surrogates
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (n < 4 || !cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return 0;
    if (c == 0xF0 && b(i + 1) < 0x90) return 0;   // overlong
    if (c == 0xF4 && b(i + 1) >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

// Length of the maximal prefix of an invalid sequence at s[i] (at least 1):
// the bytes that one U+FFFD replaces, as the Unicode standard recommends.
size_t invalid_prefix(std::string_view s, size_t i) {
  auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t c = b(i);
  size_t need = (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 1;
  size_t k = 1;
  while (k < need && i + k < s.size()) {
    uint8_t d = b(i + k);
    uint8_t lo = 0x80, hi = 0xBF;
    if (k == 1) {
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    if (d < lo || d > hi) break;
    ++k;
  }
  return k;
}
}  // namespace

std::optional<uint64_t> parse_unsigned(std::string_view run, uint64_t max) {
  size_t i = !run.empty() && run[0] == '+' ? 1 : 0;
  if (i == run.size()) return std::nullopt;
  uint64_t value = 0;
  for (; i < run.size(); ++i) {
    if (!chars::is_digit(run[i])) return std::nullopt;
    uint64_t digit = run[i] - '0';
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

bool valid_utf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    if (static_cast<uint8_t>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    size_t n = utf8_sequence(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string utf8_lossy(std::string_view s) {
  if (valid_utf8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t i = 0; i < s.size();) {
    size_t n = utf8_sequence(s, i);
    if (n > 0) {
      out.append(s.substr(i, n));
      i += n;
      continue;
    }
    out += "\xEF\xBF\xBD";
    i += invalid_prefix(s, i);
  }
  return out;
}

}  // namespace vellum
