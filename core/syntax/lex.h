// A forward cursor over a borrowed byte buffer, with the PDF character
// classes and the keyword helpers that every reader of object syntax shares.
// Reaching the end is a normal condition: every read tests the position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "syntax/object.h"

namespace vellum {

namespace chars {
// 0x00 HT LF FF CR SP
inline constexpr bool is_whitespace(uint8_t c) {
  return c == 0x00 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}
inline constexpr bool is_delimiter(uint8_t c) {
  return is_whitespace(c) || c == '%' || c == '(' || c == ')' || c == '/' || c == '<' || c == '>' || c == '[' ||
         c == ']' || c == '{' || c == '}';
}
inline constexpr bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
inline constexpr bool is_octal(uint8_t c) { return c >= '0' && c <= '7'; }
inline constexpr bool is_hex(uint8_t c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline constexpr int hex_value(uint8_t c) {
  return is_digit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
}
}  // namespace chars

class Lexer {
 public:
  Lexer(ByteSpan data, size_t pos = 0) : data_(data.data()), len_(data.size()), pos_(pos > data.size() ? data.size() : pos) {}

  size_t pos() const { return pos_; }
  void set_pos(size_t p) { pos_ = p > len_ ? len_ : p; }
  size_t size() const { return len_; }
  bool at_end() const { return pos_ >= len_; }
  // The byte at the position; only valid when !at_end().
  uint8_t peek() const { return data_[pos_]; }
  // The byte at position + k, or -1 past the end.
  int peek_at(size_t k) const { return pos_ + k < len_ ? data_[pos_ + k] : -1; }
  void advance(size_t n = 1) { pos_ = (n > len_ - pos_) ? len_ : pos_ + n; }
  const uint8_t* data() const { return data_; }
  ByteSpan span() const { return ByteSpan(data_, len_); }
  ByteSpan rest() const { return ByteSpan(data_ + pos_, len_ - pos_); }

  // Whitespace and comments (a comment runs through its CR or LF).
  void skip_ws();
  // Match `word` followed by a delimiter or the end; does not skip whitespace.
  bool eat_keyword(std::string_view word);
  // Longest run of non-delimiter bytes; empty (and no move) at a delimiter or the end.
  std::string_view read_keyword();

 private:
  // skip_ws past a long stretch: blanks and comments scanned in blocks.
  void skip_long_gap(bool in_comment);

  const uint8_t* data_;
  size_t len_;
  size_t pos_;
};

}  // namespace vellum

namespace vellum {
// An unsigned decimal token: an optional '+', then digits only (leading
// zeros allowed), at most `max`; nothing on any other text.
std::optional<uint64_t> parse_unsigned(std::string_view run, uint64_t max);
// Whether the bytes are well-formed UTF-8.
bool valid_utf8(std::string_view s);
// The bytes as UTF-8 text, each invalid sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view s);
}  // namespace vellum
