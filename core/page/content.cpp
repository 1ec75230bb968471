// Content-stream parser: one forward pass that splits a page's decoded
// content into operators and the operands in front of each.
//
// All operands of the page go into one flat vector. The operands collected
// since the last operator are the vector's tail, starting at `pending`; an
// operator takes that tail as its slice, and dropping pending operands (a
// stray delimiter, an inline image, a syntax error, the end of the bytes) just
// truncates the vector back to `pending`. Memory is therefore linear in the
// content and no operator allocates on its own.
//
// The parser never fails: a malformed operand ends the list at that point and
// what was read before is kept. Past its item budget it stops the same way
// and says so.
#include "page/content.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "syntax/cos.h"
#include "syntax/lex.h"

namespace vellum {
namespace {

// Bytes that begin an operand; everything else begins a keyword (so true,
// false and null are read as operators in content streams).
bool starts_operand(uint8_t c) {
  return chars::is_digit(c) || c == '(' || c == '+' || c == '-' || c == '.' || c == '/' || c == '<' || c == '[';
}

// Position just past the first "EI" at or after `from`, or the end of the
// bytes. Inline image data is binary, so delimiters are not respected.
size_t skip_inline_image(ByteSpan bytes, size_t from) {
  static constexpr uint8_t kEnd[2] = {'E', 'I'};
  auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(from);
  auto hit = std::search(begin, bytes.end(), std::begin(kEnd), std::end(kEnd));
  if (hit == bytes.end()) return bytes.size();
  return static_cast<size_t>(hit - bytes.begin()) + 2;
}

}  // namespace

ContentOps parse_content(ByteSpan bytes, uint64_t max_items) {
  ContentOps out;
  // Op stores slice bounds as 32-bit values; content that would need more
  // operands than that is cut off there (it would be tens of gigabytes).
  constexpr size_t kMaxOperands = std::numeric_limits<uint32_t>::max();
  size_t pending = 0;
  uint64_t items_left = max_items;
  auto drop_pending = [&] { out.operands.resize(pending); };

  Lexer lex(bytes);
  for (;;) {
    lex.skip_ws();
    if (lex.at_end()) break;

    if (starts_operand(lex.peek())) {
      if (out.operands.size() >= kMaxOperands) break;
      auto operand = parse_object(lex, items_left);
      if (!operand) {
        out.over_budget = items_left == 0;
        break;
      }
      out.operands.push_back(std::move(operand).value());
      continue;
    }

    std::string_view word = lex.read_keyword();
    if (word.empty()) {
      // A closing delimiter with nothing open: skip it, lose the operands.
      lex.advance(1);
      drop_pending();
      continue;
    }
    if (word == "BI") {
      lex.set_pos(skip_inline_image(bytes, lex.pos()));
      drop_pending();
      continue;
    }

    if (items_left == 0) {
      out.over_budget = true;
      break;
    }
    --items_left;
    Op op;
    op.name_len = static_cast<uint8_t>(std::min<size_t>(word.size(), sizeof(op.name)));
    std::memcpy(op.name, word.data(), op.name_len);
    op.first_operand = static_cast<uint32_t>(pending);
    op.operand_count = static_cast<uint32_t>(out.operands.size() - pending);
    out.ops.push_back(op);
    pending = out.operands.size();
  }

  // Operands not followed by an operator belong to nothing.
  drop_pending();
  out.items = max_items - items_left;
  return out;
}

}  // namespace vellum
