// Predefined CMaps: names (vertical forms read as horizontal ones), code
// splitting by code-space ranges, and the collections' tables at their edges.
// Characters of whole CJK strings are checked against Python's codecs in
// tests/test_fonts.py.
#include <gtest/gtest.h>

#include "font/cjk.h"
#include "test_util.h"

namespace vellum {
namespace {

// Code splitting where the end-to-end tests do not reach: four-byte codes,
// and bytes no range takes (a lone high surrogate: one-byte codes). The
// legacy CMaps and their CIDs: tests/test_fonts.py (through Python's codecs)
// and test_font.cpp (widths by CID).
TEST(Cjk, SplitsCodes) {
  const struct {
    const char* cmap;
    const char* hex;
    std::vector<uint32_t> codes;
  } cases[] = {
      {"GBK2K-H", "41 81308130 B0A1 81", {0x41, 0x81308130, 0xB0A1, 0x81}},
      {"UniJIS-UTF16-H", "0041 D83DDE00 3042 D800", {0x41, 0xD83DDE00, 0x3042, 0xD8, 0x00}},
      {"UniGB-UCS2-V", "4E2D D83D", {0x4E2D, 0xD83D}},
  };
  for (const auto& c : cases) {
    const PredefinedCMap* cmap = predefined_cmap(c.cmap);
    ASSERT_NE(cmap, nullptr);
    const Bytes bytes = testing::hex(c.hex);
    std::vector<uint32_t> got;
    for (size_t i = 0; i < bytes.size();) {
      uint32_t code = 0;
      const size_t length = cmap->next_code(bytes, i, code);
      ASSERT_GE(length, 1u);
      i += length;
      got.push_back(code);
    }
    EXPECT_EQ(got, c.codes) << c.cmap;
  }
}

TEST(Cjk, NamesAndCollections) {
  EXPECT_EQ(predefined_cmap("Identity-V")->kind, PredefinedCMap::Kind::Identity);
  EXPECT_EQ(predefined_cmap("UniJIS-UCS2-HW-V")->kind, PredefinedCMap::Kind::Unicode);
  for (const char* unknown : {"", "-V", "Uni", "UniXX-UCS2-H", "UniJIS-UTF8-H", "WinAnsiEncoding", "Identity"})
    EXPECT_EQ(predefined_cmap(unknown), nullptr) << unknown;

  EXPECT_EQ(collection_named("Adobe", "Identity"), Collection::None);
  EXPECT_EQ(collection_named("Other", "GB1"), Collection::None);
  // CID 1 is the space of every collection; CIDs past the table have no text.
  for (Collection c : {Collection::Japan1, Collection::GB1, Collection::CNS1, Collection::Korea1}) {
    EXPECT_EQ(collection_unicode(c, 1), 0x20u);
    EXPECT_EQ(collection_unicode(c, 0), 0u);
    EXPECT_EQ(collection_unicode(c, 1u << 30), 0u);
    EXPECT_EQ(collection_cid(c, 0x20), 1u);  // the lowest CID of a character
  }
  EXPECT_EQ(collection_unicode(Collection::None, 1), 0u);
}

}  // namespace
}  // namespace vellum
