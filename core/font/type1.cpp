// Type 1 built-in encodings. Only the clear-text part is read (the encoding
// precedes eexec); it is cut into PostScript tokens, and after /Encoding
// either StandardEncoding or `dup <int> /<name> put` quadruples are taken
// until the `def` (or `readonly def`) that ends the array. Entries with codes
// outside 0..255 are ignored; each token is looked at once.
#include "font/type1.h"

#include <string_view>

#include "font/agl.h"
#include "syntax/lex.h"

namespace vellum {

namespace {

// PostScript tokens of the clear text: names keep their '/', comments and
// strings are skipped whole.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text) {}
  std::string_view next() {
    while (pos_ < text_.size()) {
      const uint8_t c = static_cast<uint8_t>(text_[pos_]);
      if (chars::is_whitespace(c)) {
        ++pos_;
      } else if (c == '%') {
        while (pos_ < text_.size() && text_[pos_] != '\n' && text_[pos_] != '\r') ++pos_;
      } else if (c == '(') {
        for (int depth = 0; pos_ < text_.size(); ++pos_) {
          if (text_[pos_] == '\\') ++pos_;
          else if (text_[pos_] == '(') ++depth;
          else if (text_[pos_] == ')' && --depth == 0) break;
        }
        ++pos_;
      } else {
        const size_t start = pos_++;
        const bool single = c == '{' || c == '}' || (c != '/' && chars::is_delimiter(c));
        while (!single && pos_ < text_.size() && !chars::is_delimiter(static_cast<uint8_t>(text_[pos_])) &&
               text_[pos_] != '{' && text_[pos_] != '}')
          ++pos_;
        return text_.substr(start, pos_ - start);
      }
    }
    return {};
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

std::optional<int> small_int(std::string_view token) {
  if (token.empty() || token.size() > 6) return std::nullopt;
  int value = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::optional<std::array<uint32_t, 256>> type1_encoding(ByteSpan program, size_t clear_length) {
  std::string_view text = as_chars(program);
  if (clear_length > 0 && clear_length < text.size()) text = text.substr(0, clear_length);
  if (size_t eexec = text.find("eexec"); eexec != std::string_view::npos) text = text.substr(0, eexec);
  const size_t at = text.find("/Encoding");
  if (at == std::string_view::npos) return std::nullopt;

  std::array<uint32_t, 256> table{};
  Tokens tokens(text.substr(at + 9));
  std::string_view first = tokens.next();
  if (first == "StandardEncoding") {
    for (uint32_t code = 0; code < 256; ++code) {
      std::optional<uint32_t> unicode = glyph_to_unicode(standard_encoding_name(static_cast<uint8_t>(code)));
      table[code] = unicode ? *unicode : 0;
    }
    return table;
  }
  // The last four tokens, oldest first: `dup <code> /<name> put`.
  std::string_view window[4] = {{}, {}, {}, first};
  for (std::string_view token = tokens.next(); !token.empty() && token != "def"; token = tokens.next()) {
    window[0] = window[1], window[1] = window[2], window[2] = window[3], window[3] = token;
    if (token != "put" || window[0] != "dup" || !window[2].starts_with("/")) continue;
    std::optional<int> code = small_int(window[1]);
    if (!code || *code > 255) continue;
    std::optional<uint32_t> unicode = glyph_to_unicode(window[2].substr(1));
    table[static_cast<size_t>(*code)] = unicode ? *unicode : 0;
  }
  return table;
}

}  // namespace vellum
