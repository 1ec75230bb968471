// Recovery: the scan for object headers, files where nothing usable is
// found, single objects found by the scan, hostile scans. Each kind of damage
// to whole files (classic, streams, encrypted, incremental), recovering and
// strict, and so the trailers, catalogs, object streams and redefinitions
// the scan finds: tests/test_recovery.py.
#include <gtest/gtest.h>

#include "file/doc.h"
#include "file/recover.h"
#include "pdf_fixture.h"

using namespace vellum;
using vellum::testing::PdfFixture;

namespace {

// "num@offset" for each scanned entry, in number order.
std::string scanned_entries(const std::string& file) {
  std::string out;
  for (const auto& [num, entry] : scan_file(as_bytes(file)).entries)
    out.append(out.empty() ? "" : " ").append(std::to_string(num)).append("@").append(std::to_string(entry.offset));
  return out;
}

// "ok" or the error of opening `file`, recovering.
std::string open_recovering(const std::string& file) {
  auto doc = Document::parse_with_password(as_bytes(file), {}, Reading::Recover);
  return doc ? "ok" : doc.error().display();
}

}  // namespace

TEST(Recover, ScanFindsHeadersLastDefinitionWins) {
  struct Case {
    std::string file, entries;
  };
  const Case cases[] = {
      {"1 0 obj 1 endobj 2 0 obj 2 endobj", "1@0 2@17"},
      {"%x\r\n12\t\n0\r\nobj", "12@4"},                               // any whitespace between the parts
      {"x1 0 obj 1 0 objx 1 0 endobj 1 obj 99999999999 0 obj", ""},  // not headers
      {"7 0 obj<</A 1>>", "7@0"},                                     // a delimiter ends the keyword
      {"4294967295 65535 obj 4294967296 0 obj 1 65536 obj", "4294967295@0"},
  };
  for (const Case& c : cases) EXPECT_EQ(scanned_entries(c.file), c.entries) << c.file;
}

// When nothing usable is found, recovery raises what strict reading raised.
TEST(Recover, NoUsableRootKeepsTheStrictError) {
  auto cut = [](std::string file) { return file.substr(0, file.rfind("startxref")); };
  const std::string cases[] = {
      cut(PdfFixture().object(1, "<< /Pages 2 0 R >>").trailer("").build()),             // no /Root, no catalog
      cut(PdfFixture().object(1, "2 0 R").object(2, "1 0 R").build()),                   // a loop of references
      std::string("%PDF-1.7\n") + "1 0 obj\n" + std::string(200, '<') + "\nendobj\n",  // garbage
  };
  for (const std::string& file : cases) EXPECT_EQ(open_recovering(file), "InvalidXref: no startxref") << file;
}

// Per-object recovery: the table reads, but some entries are off.
TEST(Recover, SingleObjectsFoundByTheScan) {
  std::string file = PdfFixture::one_page("/Contents 4 0 R").object(4, "(x)").object(5, "(y)").build();
  const std::string comment = "% a comment that moves objects 3, 4 and 5\n";
  const size_t xref_at = file.rfind("xref\n0");
  file.insert(file.find("3 0 obj"), comment);
  const std::string startxref = "startxref\n" + std::to_string(xref_at);
  file.replace(file.rfind(startxref), startxref.size(), "startxref\n" + std::to_string(xref_at + comment.size()));
  ASSERT_TRUE(Document::parse_with_password(as_bytes(file), {}));  // strict opens, but cannot read the page
  auto doc = Document::parse_with_password(as_bytes(file), {}, Reading::Recover);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->recovery_note(), "");
  for (uint32_t num : {3, 4, 5, 4}) EXPECT_TRUE(doc->resolver().get(num)) << num;
  EXPECT_EQ(doc->recovery_note(),
            "the cross-reference table gives wrong offsets for 2 objects, read where a scan of the file found them");
}

// Hostile shapes: linear in the file and in the objects found.
TEST(Recover, HostileScansStayLinear) {
  std::string repeated;
  for (int i = 0; i < 1'000'000; ++i) repeated += "1 0 obj ";
  EXPECT_EQ(scan_file(as_bytes(repeated)).entries.size(), 1u);
  std::string many;
  for (int i = 0; i < 1'000'000; ++i) many += std::to_string(i) + " 0 obj<</Type/ObjStm trailer<<";
  ScannedFile scan = scan_file(as_bytes(many));
  EXPECT_EQ(scan.entries.size(), 1'000'000u);
  EXPECT_EQ(scan.trailers.size(), 0u);
  EXPECT_EQ(open_recovering("%PDF-1.7\n" + many), "InvalidXref: no startxref");
}
