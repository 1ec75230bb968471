// Type 1 built-in encodings: StandardEncoding, `dup` entries with the
// PostScript around them, the clear-text limits (Length1, eexec), and a
// hostile encoding of a million entries (one pass, the last entry wins).
#include <gtest/gtest.h>

#include <string>

#include "font/type1.h"
#include "syntax/object.h"

namespace vellum {
namespace {

std::optional<std::array<uint32_t, 256>> encode(const std::string& program, size_t clear = 0) {
  return type1_encoding(as_bytes(program), clear);
}

TEST(Type1, BuiltInEncodings) {
  const std::string tex =
      "%!PS-AdobeFont-1.0: CMR10\n/FontName /CMR10 def\n/Encoding 256 array\n"
      "0 1 255 {1 index exch /.notdef put} for\n"
      "dup 11 /ff put\ndup 16 /dotlessi put dup 94 /circumflex put\n% dup 65 /B put\n"
      "dup 300 /A put dup 65 (dup 66 /B put) pop /A put dup 40 /parenleft put\n"
      "readonly def\ndup 90 /Z put\ncurrentfile eexec dup 91 /A put";
  std::optional<std::array<uint32_t, 256>> table = encode(tex);
  ASSERT_TRUE(table);
  EXPECT_EQ((*table)[40], uint32_t{'('});
  EXPECT_EQ((*table)[65], 0u);  // comments and strings are not entries
  EXPECT_EQ((*table)[66], 0u);
  EXPECT_EQ((*table)[90], 0u);  // after the array's def

  table = encode("/Encoding StandardEncoding def");
  ASSERT_TRUE(table);
  EXPECT_EQ((*table)[0xAE], 0xFB01u);

  EXPECT_FALSE(encode("/FontName /X def currentfile eexec /Encoding StandardEncoding def"));
  EXPECT_FALSE(encode("/FontName /X def /Encoding StandardEncoding def", 20));  // past Length1
  EXPECT_FALSE(encode(""));
}

TEST(Type1, MillionEntries) {
  std::string program = "/Encoding 256 array\n";
  for (int k = 0; k < 1000000; ++k) program += k % 2 ? "dup 65 /B put\n" : "dup 65 /A put\n";
  program += "readonly def";
  std::optional<std::array<uint32_t, 256>> table = encode(program);
  ASSERT_TRUE(table);
  EXPECT_EQ((*table)[65], uint32_t{'B'});
}

}  // namespace
}  // namespace vellum
