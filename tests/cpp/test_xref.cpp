// Cross-reference reading: classic tables, streams, the /Prev chain, hybrids.
#include <gtest/gtest.h>

#include <chrono>

#include "pdf_fixture.h"
#include "file/xref.h"

using namespace vellum;

namespace {

std::string error_of(const std::string& file) {
  auto r = read_xref(as_bytes(file));
  return r ? std::string("ok") : r.error().display();
}

// A classic section at the current end of `file`.
std::string section(const std::string& entries, const std::string& trailer) {
  return "xref\n" + entries + "trailer\n<< " + trailer + " >>\n";
}

std::string with_startxref(std::string file, size_t offset) {
  return file + "startxref\n" + std::to_string(offset) + "\n%%EOF\n";
}

// An xref stream object (no filter) holding `records` as binary data.
std::string xref_stream_object(uint32_t num, const std::string& dict, const std::string& records) {
  return std::to_string(num) + " 0 obj\n<< /Type /XRef " + dict + " /Length " + std::to_string(records.size()) +
         " >>\nstream\n" + records + "\nendstream\nendobj\n";
}

// A file whose only cross-reference data is that stream object.
Result<Xref> read_stream_file(const std::string& dict, const std::string& records, uint32_t num = 1) {
  const std::string head = "%PDF-1.5\n";
  return read_xref(as_bytes(with_startxref(head + xref_stream_object(num, dict, records), head.size())));
}

}  // namespace

TEST(Xref, ClassicSectionAndStartxref) {
  std::string body = "%PDF-1.4\n";
  size_t at = body.size();
  body += section("0 3\n0000000000 65535 f \n0000000017 00000 n \n0000000099 00002 n \n1 1\n0000000055 00000 n \n",
                  "/Size 3 /Root 1 0 R");
  // A comment between startxref and the offset is skipped.
  std::string file = body + "startxref\n% note\n" + std::to_string(at) + "\n%%EOF";
  auto xref = read_xref(as_bytes(file));
  ASSERT_TRUE(xref) << xref.error().display();
  EXPECT_EQ(xref->entries.at(0).kind, XrefEntry::Kind::Free);
  EXPECT_EQ(xref->entries.at(1).offset, 17u);  // the first subsection wins
  EXPECT_EQ(xref->entries.at(2).generation, 2);
  EXPECT_TRUE(xref->trailer.contains("Root"));
}

TEST(Xref, Errors) {
  std::string head = "%PDF-1.4\n";
  size_t at = head.size();
  struct Case {
    std::string file;
    const char* error;
  } cases[] = {
      {"%PDF-1.4 no keyword", "InvalidXref: no startxref"},
      {head + "startxref\n%%EOF", "InvalidXref: expected integer"},
      {with_startxref(head + section("0 1\n0000000017 00000 x \n", "/Root 1 0 R"), at),
       "InvalidXref: bad xref entry type"},
      {with_startxref(head + "xref\n0 1\n0000000000 65535 f \n", at), "InvalidXref: bad integer"},
      {with_startxref(head + "xref\n0 0\ntrailer\n[1 2]\n", at), "InvalidXref: trailer is not a dictionary"},
      // An offset past the end: the stream reader's header error.
      {with_startxref(head, 999999), "InvalidObject: expected integer"},
  };
  for (const Case& c : cases) EXPECT_EQ(error_of(c.file), c.error) << c.file;
}

// The newest section winning: incremental updates in tests/test_api.py.
TEST(Xref, PrevLoopEnds) {
  std::string loop = "%PDF-1.4\n";
  size_t self = loop.size();
  loop += section("1 1\n0000000010 00000 n \n", "/Root 1 0 R /Prev " + std::to_string(self));
  auto looped = read_xref(as_bytes(with_startxref(loop, self)));
  ASSERT_TRUE(looped);
  EXPECT_EQ(looped->entries.size(), 1u);
}

TEST(Xref, StreamEdgeCases) {
  auto zero_type = read_stream_file("/W [0 2 0] /Size 2", std::string("\x00\x11\x00\x22", 4));
  ASSERT_TRUE(zero_type);
  EXPECT_EQ(zero_type->entries.at(0).offset, 17u);
  EXPECT_EQ(zero_type->entries.at(1).offset, 34u);

  auto skipped = read_stream_file("/W [1 1 0] /Size 2", std::string("\x03\x01\x01\x07", 4));
  ASSERT_TRUE(skipped);
  EXPECT_EQ(skipped->entries.count(0), 0u);  // type 3 is skipped
  EXPECT_EQ(skipped->entries.at(1).offset, 7u);

  auto odd_index = read_stream_file("/W [1 1 0] /Index [0 2 5]", std::string("\x01\x01\x01\x02", 4));
  ASSERT_TRUE(odd_index);
  EXPECT_EQ(odd_index->entries.size(), 2u);
  auto lenient_w = read_stream_file("/W [1 -2 2 2] /Size 1", std::string("\x01\x00\x05\x00\x00", 5));
  ASSERT_TRUE(lenient_w);
  EXPECT_EQ(lenient_w->entries.at(0).offset, 5u);

  struct Case {
    std::string dict;
    std::string records;
    const char* error;
  } cases[] = {
      {"/W [1 2 1] /Size 3", std::string(8, '\x01'), "InvalidXref: xref stream truncated"},
      {"/W [1 2]", "", "InvalidXref: xref /W must have three widths"},
      {"/Size 1", "", "InvalidXref: xref /W missing"},
      {"/W [0 0 0] /Size 1", "", "InvalidXref: xref stream zero-width records"},
      {"/W [1 1 1] /Size -1", "", "InvalidXref: bad /Size"},
      {"/W [1 1 1] /Size 1 /Filter /FooDecode", "abc", "InvalidXref: xref decode"},
  };
  for (const Case& c : cases) {
    auto r = read_stream_file(c.dict, c.records);
    EXPECT_EQ(r ? std::string("ok") : r.error().display(), c.error) << c.dict;
  }
}

TEST(Xref, HugeSizeFailsFast) {
  auto start = std::chrono::steady_clock::now();
  auto r = read_stream_file("/W [8 8 8] /Size 4294967295", std::string(48, '\x01'));
  EXPECT_EQ(r ? std::string("ok") : r.error().display(), "InvalidXref: xref stream truncated");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(Xref, HybridTableWinsOverItsStream) {
  std::string file = "%PDF-1.5\n";
  size_t stm_at = file.size();
  file += xref_stream_object(20, "/W [1 1 1] /Index [7 2]", std::string("\x02\x04\x00\x02\x04\x01", 6));
  size_t at = file.size();
  file += section("7 1\n0000000000 65535 f \n", "/Size 9 /Root 1 0 R /XRefStm " + std::to_string(stm_at));
  auto xref = read_xref(as_bytes(with_startxref(file, at)));
  ASSERT_TRUE(xref);
  EXPECT_EQ(xref->entries.at(7).kind, XrefEntry::Kind::Free);
  EXPECT_EQ(xref->entries.at(8).kind, XrefEntry::Kind::InStream);

  // A broken /XRefStm is ignored.
  std::string broken = "%PDF-1.5\n";
  size_t bat = broken.size();
  broken += section("1 1\n0000000010 00000 n \n", "/Root 1 0 R /XRefStm 3");
  EXPECT_EQ(error_of(with_startxref(broken, bat)), "ok");
}
