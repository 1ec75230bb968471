// Cross-reference reading: classic tables, streams, the /Prev chain, hybrids.
// Each file's entries are shown in one line ("1 at 17 gen 2, 7 free, 8 in
// 4.1") or as the error. The newest section winning: incremental updates in
// the corpus walk (tests/test_corpus.py); a missing startxref, its offset or
// trailer, and offsets past the end: the messages of the corpus's malformed
// files in tests/test_recovery.py.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "file/xref.h"

using namespace vellum;

namespace {

std::string entries_of(const std::string& file) {
  auto r = read_xref(as_bytes(file));
  if (!r) return r.error().display();
  std::string out;
  for (const auto& [num, e] : std::map<uint32_t, XrefEntry>(r->entries.begin(), r->entries.end())) {
    out.append(out.empty() ? "" : ", ").append(std::to_string(num));
    if (e.kind == XrefEntry::Kind::Free) out.append(" free");
    if (e.kind == XrefEntry::Kind::InFile) out.append(" at ").append(std::to_string(e.offset));
    if (e.generation) out.append(" gen ").append(std::to_string(e.generation));
    if (e.kind == XrefEntry::Kind::InStream)
      out.append(" in ").append(std::to_string(e.stream)).append(".").append(std::to_string(e.index));
  }
  return out;
}

const std::string kHead = "%PDF-1.4\n";

// A classic section, its trailer, and startxref pointing at the section.
std::string classic(const std::string& entries, const std::string& trailer, std::string before = kHead) {
  return before + "xref\n" + entries + "trailer\n<< " + trailer + " >>\nstartxref\n" + std::to_string(before.size()) +
         "\n%%EOF\n";
}

// An xref stream object (no filter) holding `records` as binary data.
std::string xref_stream_object(uint32_t num, const std::string& dict, const std::string& records) {
  return std::to_string(num) + " 0 obj\n<< /Type /XRef " + dict + " /Length " + std::to_string(records.size()) +
         " >>\nstream\n" + records + "\nendstream\nendobj\n";
}

// A file whose only cross-reference data is that stream object.
std::string stream_file(const std::string& dict, const std::string& records) {
  return kHead + xref_stream_object(1, dict, records) + "startxref\n" + std::to_string(kHead.size()) + "\n%%EOF\n";
}

}  // namespace

TEST(Xref, Files) {
  const std::string hybrid =
      kHead + xref_stream_object(20, "/W [1 1 1] /Index [7 2]", std::string("\x02\x04\x00\x02\x04\x01", 6));
  const struct {
    const char* name;
    std::string file, shown;
  } cases[] = {
      {"classic, the first subsection wins",
       classic("0 3\n0000000000 65535 f \n0000000017 00000 n \n0000000099 00002 n \n"
               "1 1\n0000000055 00000 n \n",
               "/Size 3"),
       "0 free, 1 at 17, 2 at 99 gen 2"},
      {"a comment before the offset",
       kHead + "xref\n1 1\n0000000010 00000 n \ntrailer\n<< >>\nstartxref\n% c\n9\n%%EOF", "1 at 10"},
      {"a /Prev loop ends", classic("1 1\n0000000010 00000 n \n", "/Prev 9"), "1 at 10"},
      {"hybrid: the table wins over its stream", classic("7 1\n0000000000 65535 f \n", "/XRefStm 9", hybrid),
       "7 free, 8 in 4.1"},
      {"a broken /XRefStm is ignored", classic("1 1\n0000000010 00000 n \n", "/XRefStm 3"), "1 at 10"},
      {"bad entry type", classic("0 1\n0000000017 00000 x \n", ""), "InvalidXref: bad xref entry type"},
      {"trailer not a dictionary", kHead + "xref\n0 0\ntrailer\n[1 2]\nstartxref\n9\n%%EOF",
       "InvalidXref: trailer is not a dictionary"},
      {"stream: type 0 width means type 1", stream_file("/W [0 2 0] /Size 2", std::string("\x00\x11\x00\x22", 4)),
       "0 at 17, 1 at 34"},
      {"stream: type 3 skipped", stream_file("/W [1 1 0] /Size 2", std::string("\x03\x01\x01\x07", 4)), "1 at 7"},
      {"stream: odd /Index", stream_file("/W [1 1 0] /Index [0 2 5]", std::string("\x01\x01\x01\x02", 4)),
       "0 at 1, 1 at 2"},
      {"stream: lenient /W", stream_file("/W [1 -2 2 2] /Size 1", std::string("\x01\x00\x05\x00\x00", 5)), "0 at 5"},
      {"stream truncated", stream_file("/W [1 2 1] /Size 3", std::string(8, '\x01')),
       "InvalidXref: xref stream truncated"},
      {"two widths", stream_file("/W [1 2]", ""), "InvalidXref: xref /W must have three widths"},
      {"no /W", stream_file("/Size 1", ""), "InvalidXref: xref /W missing"},
      {"zero-width records", stream_file("/W [0 0 0] /Size 1", ""), "InvalidXref: xref stream zero-width records"},
      {"negative /Size", stream_file("/W [1 1 1] /Size -1", ""), "InvalidXref: bad /Size"},
      {"unknown filter", stream_file("/W [1 1 1] /Size 1 /Filter /FooDecode", "abc"), "InvalidXref: xref decode"},
  };
  for (const auto& c : cases) EXPECT_EQ(entries_of(c.file), c.shown) << c.name;
}

TEST(Xref, HugeSizeFailsFast) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(entries_of(stream_file("/W [8 8 8] /Size 4294967295", std::string(48, '\x01'))),
            "InvalidXref: xref stream truncated");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}
