// Object streams: the header of numbers and offsets over decoded data.
#pragma once

#include "syntax/lex.h"
#include "syntax/object.h"

namespace vellum {

struct ObjStm {
  std::vector<uint32_t> numbers;
  std::vector<uint64_t> offsets;
  Bytes data;
  uint64_t first = 0;

  static Result<ObjStm> parse(const Dictionary& dict, Bytes decoded);
  size_t count() const { return offsets.size(); }
};

namespace objstm {
Result<uint64_t> uint(const Dictionary& dict, std::string_view key);
Result<uint64_t> read_uint(Lexer& lexer);
}  // namespace objstm

}  // namespace vellum
