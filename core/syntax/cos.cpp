// The object parser: one recursive descent over a Lexer. It works in place
// on the caller's buffer; the only copies are the bytes of strings and names.
// Nesting is bounded by kMaxNestingDepth so hostile input cannot exhaust the
// stack, and dictionaries with many repeated keys stay linear: past a few
// dozen entries, duplicate keys are found through a hash index.
#include "syntax/cos.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace vellum {

namespace {

Error eof() { return make_error(ErrorKind::UnexpectedEof, "input ended mid-object"); }
Error token_error(const char* message) { return make_error(ErrorKind::UnexpectedToken, message); }

// Exact powers of ten for the accumulate-and-divide path.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

Result<Object> parse_at_depth(Lexer& lx, int depth, uint64_t* items_left);

Result<Object> parse_name(Lexer& lx) {
  lx.advance();  // '/'
  std::string bytes;
  size_t start = lx.pos();
  const uint8_t* d = lx.data();
  size_t n = lx.size();
  size_t i = start;
  while (i < n && !chars::is_delimiter(d[i]) && d[i] != '#') ++i;
  bytes.assign(reinterpret_cast<const char*>(d + start), i - start);
  while (i < n && !chars::is_delimiter(d[i])) {
    if (d[i] != '#') {
      bytes.push_back(static_cast<char>(d[i++]));
      continue;
    }
    ++i;
    int hi = -1, lo = -1;
    if (i >= n) {
      lx.set_pos(i);
      return eof();
    }
    hi = chars::hex_value(d[i]);
    if (hi < 0) {
      lx.set_pos(i);
      return token_error("bad #xx escape in name");
    }
    ++i;
    if (i >= n) {
      lx.set_pos(i);
      return eof();
    }
    lo = chars::hex_value(d[i]);
    if (lo < 0) {
      lx.set_pos(i);
      return token_error("bad #xx escape in name");
    }
    ++i;
    bytes.push_back(static_cast<char>(hi * 16 + lo));
  }
  lx.set_pos(i);
  return Object::name(utf8_lossy(bytes));
}

Result<Object> parse_hex_string(Lexer& lx) {
  lx.advance();  // '<'
  const uint8_t* d = lx.data();
  size_t n = lx.size();
  size_t i = lx.pos();
  std::string out;
  int held = -1;
  while (i < n) {
    uint8_t c = d[i];
    if (c == '>') {
      if (held >= 0) out.push_back(static_cast<char>(held << 4));
      lx.set_pos(i + 1);
      return Object::string(std::move(out));
    }
    ++i;
    if (chars::is_whitespace(c)) continue;
    int v = chars::hex_value(c);
    if (v < 0) {
      lx.set_pos(i);
      return token_error("bad hex digit");
    }
    if (held < 0) {
      held = v;
      continue;
    }
    out.push_back(static_cast<char>(held * 16 + v));
    held = -1;
  }
  lx.set_pos(i);
  return eof();
}

Result<Object> parse_literal_string(Lexer& lx) {
  const uint8_t* d = lx.data();
  size_t n = lx.size();
  size_t i = lx.pos() + 1;  // after '('
  int depth = 1;
  std::string out;
  while (true) {
    size_t run = i;
    while (i < n && d[i] != '(' && d[i] != ')' && d[i] != '\\') ++i;
    out.append(reinterpret_cast<const char*>(d + run), i - run);
    if (i >= n) {
      lx.set_pos(i);
      return eof();
    }
    uint8_t c = d[i++];
    if (c == '(') {
      ++depth;
      out.push_back('(');
      continue;
    }
    if (c == ')') {
      if (--depth == 0) {
        lx.set_pos(i);
        return Object::string(std::move(out));
      }
      out.push_back(')');
      continue;
    }
    // Backslash escape.
    if (i >= n) {
      lx.set_pos(i);
      return eof();
    }
    uint8_t e = d[i++];
    switch (e) {
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case 'b': out.push_back('\b'); break;
      case 'f': out.push_back('\f'); break;
      case '\n': break;
      case '\r':
        if (i < n && d[i] == '\n') ++i;
        break;
      default:
        if (chars::is_octal(e)) {
          unsigned v = e - '0';
          for (int k = 0; k < 2 && i < n && chars::is_octal(d[i]); ++k) v = v * 8 + (d[i++] - '0');
          out.push_back(static_cast<char>(v & 0xFF));
          break;
        }
        out.push_back(static_cast<char>(e));
    }
  }
}

// The general decimal conversion for the rare forms: optional sign, then
// digits with optional fraction and exponent, or inf/infinity/nan.
Result<Object> general_number(std::string_view tok) {
  if (!valid_utf8(tok)) return token_error("non-utf8 number");
  bool negative = false;
  std::string_view body = tok;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  if (body.empty() || body[0] == '+' || body[0] == '-') return token_error("bad number");
  double value = 0;
  auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
  if (end != body.data() + body.size()) return token_error("bad number");
  if (ec == std::errc::result_out_of_range) {
    // Correct rounding of an out-of-range magnitude: overflow to infinity,
    // underflow to zero.
    bool tiny = false;
    auto epos = body.find_first_of("eE");
    if (epos != std::string_view::npos && epos + 1 < body.size() && body[epos + 1] == '-') tiny = true;
    value = tiny ? 0.0 : HUGE_VAL;
  } else if (ec != std::errc()) {
    return token_error("bad number");
  }
  return Object::real(negative ? -value : value);
}

Result<Object> parse_number(Lexer& lx) {
  std::string_view tok = lx.read_keyword();
  // Fast grammar: [+-] (digits [. digits*] | . digits+)
  size_t i = 0;
  bool negative = false;
  if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) negative = tok[i++] == '-';
  int64_t acc = 0;
  bool overflow = false;
  size_t int_digits = 0, frac_digits = 0;
  bool point = false;
  auto accumulate = [&](char c) {
    int64_t digit = c - '0';
    if (__builtin_mul_overflow(acc, int64_t{10}, &acc) || __builtin_add_overflow(acc, digit, &acc)) overflow = true;
  };
  while (i < tok.size() && chars::is_digit(tok[i])) {
    if (!overflow) accumulate(tok[i]);
    ++int_digits;
    ++i;
  }
  if (i < tok.size() && tok[i] == '.') {
    point = true;
    ++i;
    while (i < tok.size() && chars::is_digit(tok[i])) {
      if (!overflow) accumulate(tok[i]);
      ++frac_digits;
      ++i;
    }
  }
  bool fast = i == tok.size() && (int_digits > 0 || frac_digits > 0) && !overflow && (!point || frac_digits <= 22);
  if (!fast) return general_number(tok);
  int64_t value = negative ? -acc : acc;
  if (point) return Object::real(static_cast<double>(value) / kPow10[frac_digits]);
  if (value < 0 || value > 0xFFFFFFFFll) return Object::integer(value);

  // Reference lookahead: `n g R`, quietly undone when it does not match.
  size_t after = lx.pos();
  lx.skip_ws();
  std::string_view gen = lx.read_keyword();
  std::optional<uint64_t> gen_value = parse_unsigned(gen, 65535);
  if (gen_value) {
    lx.skip_ws();
    if (lx.read_keyword() == "R") return Object::reference(Ref{static_cast<uint32_t>(value), static_cast<uint16_t>(*gen_value)});
  }
  lx.set_pos(after);
  return Object::integer(value);
}

Result<Dictionary> parse_dictionary_at(Lexer& lx, int depth, uint64_t* items_left) {
  if (depth > kMaxNestingDepth) return token_error("nesting too deep");
  lx.advance(2);
  Dictionary dict;
  std::unordered_map<std::string, size_t> index;  // built only for large dictionaries
  constexpr size_t kIndexThreshold = 32;
  while (true) {
    lx.skip_ws();
    if (lx.at_end()) return eof();
    if (lx.peek() == '>') {
      lx.advance(2);
      return dict;
    }
    VELLUM_TRY(Object key, parse_at_depth(lx, depth + 1, items_left));
    if (!key.is_name()) return token_error("dictionary key is not a name");
    VELLUM_TRY(Object value, parse_at_depth(lx, depth + 1, items_left));
    std::string& name = key.as_name_mut();
    if (dict.size() < kIndexThreshold) {
      dict.insert(std::move(name), std::move(value));
      continue;
    }
    if (index.empty()) {
      for (size_t k = 0; k < dict.size(); ++k) index.emplace(dict.entries()[k].first, k);
    }
    auto it = index.find(name);
    if (it != index.end()) {
      dict.entries_mut()[it->second].second = std::move(value);
      continue;
    }
    index.emplace(name, dict.size());
    dict.append_unique(std::move(name), std::move(value));
  }
}

Result<Object> parse_array(Lexer& lx, int depth, uint64_t* items_left) {
  if (depth > kMaxNestingDepth) return token_error("nesting too deep");
  lx.advance();  // '['
  std::vector<Object> items;
  while (true) {
    lx.skip_ws();
    if (lx.at_end()) return eof();
    if (lx.peek() == ']') {
      lx.advance();
      return Object::array(std::move(items));
    }
    VELLUM_TRY(Object item, parse_at_depth(lx, depth + 1, items_left));
    items.push_back(std::move(item));
  }
}

Result<Object> parse_at_depth(Lexer& lx, int depth, uint64_t* items_left) {
  lx.skip_ws();
  if (lx.at_end()) return eof();
  if (items_left != nullptr) {
    if (*items_left == 0) return token_error("too many objects");
    --*items_left;
  }
  uint8_t c = lx.peek();
  switch (c) {
    case '/': return parse_name(lx);
    case '<':
      if (lx.peek_at(1) == '<') {
        VELLUM_TRY(Dictionary d, parse_dictionary_at(lx, depth, items_left));
        return Object::dictionary(std::move(d));
      }
      return parse_hex_string(lx);
    case '[': return parse_array(lx, depth, items_left);
    case '(': return parse_literal_string(lx);
    default: break;
  }
  if (c == '+' || c == '-' || c == '.' || chars::is_digit(c)) return parse_number(lx);
  std::string_view kw = lx.read_keyword();
  if (kw == "null") return Object::null();
  if (kw == "true") return Object::boolean(true);
  if (kw == "false") return Object::boolean(false);
  return token_error("unexpected token");
}

}  // namespace

Result<Object> parse_object(Lexer& lexer) { return parse_at_depth(lexer, 0, nullptr); }
Result<Object> parse_object(Lexer& lexer, uint64_t& items_left) { return parse_at_depth(lexer, 0, &items_left); }

Result<Dictionary> parse_dictionary(Lexer& lexer) { return parse_dictionary_at(lexer, 0, nullptr); }

}  // namespace vellum
