// The content-stream parser: decoded content bytes to operators with their
// operands. All operands of a page live in one flat array; an Op names its
// slice, so an operator costs a few bytes and no allocation of its own.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "syntax/object.h"

namespace vellum {

struct Op {
  char name[4] = {0, 0, 0, 0};
  uint8_t name_len = 0;
  uint32_t first_operand = 0;
  uint32_t operand_count = 0;

  std::string_view op() const { return std::string_view(name, name_len); }
};

// Operators plus operand objects (the elements of array and dictionary
// operands included) that one content stream may hold. At 16 and 64 bytes
// apiece that is at most about 1 GiB parsed, where a few KB of Flate could
// otherwise ask for tens of gigabytes; the heaviest page of the real-world
// files vellum is tested on holds about 92,000.
inline constexpr uint64_t kMaxContentItems = uint64_t{1} << 24;
// The same, summed over the pages of one document (counted per page that
// uses a content stream, so that pages sharing one cannot repeat its work
// without end): ordinary documents of thousands of pages stay far below it.
inline constexpr uint64_t kMaxDocumentContentItems = uint64_t{1} << 26;

struct ContentOps {
  std::vector<Op> ops;
  std::vector<Object> operands;
  // Items read (at most the budget), and whether parsing stopped at the
  // budget; what came before is kept.
  uint64_t items = 0;
  bool over_budget = false;

  std::span<const Object> operands_of(const Op& op) const {
    return std::span<const Object>(operands.data() + op.first_operand, op.operand_count);
  }
};

ContentOps parse_content(ByteSpan bytes, uint64_t max_items = kMaxContentItems);

}  // namespace vellum
