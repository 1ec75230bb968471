// Predefined CMaps: names (vertical forms read as horizontal ones), code
// splitting by code-space ranges (one-, two- and four-byte codes, bytes no
// range takes), and codes to CIDs. Characters of whole CJK strings are checked
// against Python's codecs in tests/test_fonts.py.
#include <gtest/gtest.h>

#include "font/cjk.h"
#include "test_util.h"

namespace vellum {
namespace {

struct SplitCase {
  const char* cmap;
  const char* hex;
  std::vector<std::pair<uint32_t, uint32_t>> codes_and_cids;  // CID 0: not checked
};

TEST(Cjk, SplitsCodesAndMapsCids) {
  const std::vector<SplitCase> cases = {
      {"90ms-RKSJ-H", "41 8140 B1 82A0 FF", {{0x41, 264}, {0x8140, 633}, {0xB1, 0}, {0x82A0, 0}, {0xFF, 0}}},
      {"90ms-RKSJ-V", "8140 20", {{0x8140, 633}, {0x20, 231}}},
      {"GBK2K-H", "41 81308130 B0A1 81", {{0x41, 0}, {0x81308130, 0}, {0xB0A1, 0}, {0x81, 0}}},
      // A lone high surrogate is taken by no range: one-byte codes.
      {"UniJIS-UTF16-H", "0041 D83DDE00 3042 D800", {{0x41, 0}, {0xD83DDE00, 0}, {0x3042, 0}, {0xD8, 0}, {0x00, 0}}},
      {"UniGB-UCS2-V", "4E2D D83D", {{0x4E2D, 0}, {0xD83D, 0}}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.cmap);
    const PredefinedCMap* cmap = predefined_cmap(c.cmap);
    ASSERT_NE(cmap, nullptr);
    const Bytes bytes = testing::hex(c.hex);
    std::vector<std::pair<uint32_t, uint32_t>> got;
    for (size_t i = 0; i < bytes.size();) {
      uint32_t code = 0;
      const size_t length = cmap->next_code(bytes, i, code);
      ASSERT_GE(length, 1u);
      i += length;
      got.emplace_back(code, cmap->cid(code, length));
    }
    for (size_t k = 0; k < got.size() && k < c.codes_and_cids.size(); ++k)
      if (!c.codes_and_cids[k].second) got[k].second = 0;
    EXPECT_EQ(got, c.codes_and_cids);
  }
}

TEST(Cjk, NamesAndCollections) {
  EXPECT_EQ(predefined_cmap("EUC-V"), predefined_cmap("EUC-H"));
  EXPECT_EQ(predefined_cmap("Identity-V")->kind, PredefinedCMap::Kind::Identity);
  EXPECT_EQ(predefined_cmap("UniKS-UCS2-H")->collection, Collection::Korea1);
  EXPECT_EQ(predefined_cmap("UniJIS-UCS2-HW-V")->kind, PredefinedCMap::Kind::Unicode);
  for (const char* unknown : {"", "-V", "Uni", "UniXX-UCS2-H", "UniJIS-UTF8-H", "WinAnsiEncoding", "Identity"})
    EXPECT_EQ(predefined_cmap(unknown), nullptr) << unknown;

  EXPECT_EQ(collection_named("Adobe", "Japan1"), Collection::Japan1);
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
