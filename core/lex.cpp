#include "lex.h"

namespace vellum {

void Lexer::skip_ws() {
  while (pos_ < len_) {
    uint8_t c = data_[pos_];
    if (chars::is_whitespace(c)) {
      ++pos_;
      continue;
    }
    if (c != '%') return;
    ++pos_;
    while (pos_ < len_) {
      uint8_t d = data_[pos_++];
      if (d == '\r' || d == '\n') break;
    }
  }
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
