// The resolver: stream assembly, lookups, caching, cycles, object streams
// (their well-formed headers: the corpus files with object streams).
// Real files: every corpus file's text against its reference
// (tests/test_corpus.py); damaged files: the fuzz targets.
#include <gtest/gtest.h>

#include "syntax/cos.h"
#include "file/objstm.h"
#include "pdf_fixture.h"
#include "file/resolver.h"
#include "test_util.h"

using namespace vellum;
using vellum::testing::PdfFixture;

namespace {

// assemble_stream over "<< >> stream..." text; returns the data or "<dict>".
std::string assembled(const std::string& text, std::optional<int64_t> length) {
  Lexer lx(as_bytes(text));
  auto obj = parse_object(lx);
  Object out = assemble_stream(as_bytes(text), lx, std::move(obj.value()), length);
  if (!out.is_stream()) return "<dict>";
  return std::string(as_chars(out.as_stream().data()));
}

// Object `num`: a stream's data, a string in parentheses, an integer, or the error.
std::string got(const Resolver& r, uint32_t num) {
  auto o = r.get(num);
  if (!o) return o.error().display();
  if ((*o)->is_stream()) return std::string(as_chars((*o)->as_stream().data()));
  return (*o)->is_string() ? "(" + (*o)->as_string() + ")" : std::to_string((*o)->as_int());
}

using Row = std::pair<uint32_t, const char*>;

}  // namespace

TEST(Resolver, AssembleStream) {
  struct Case {
    std::string text;
    std::optional<int64_t> length;
    std::string data;
  } cases[] = {
      {"<< >>\nstream\n0123456789\nendstream", 100, "0123456789"},       // declared end misses: search
      {"<< >>\nstream\n0123456789\r\n", std::nullopt, "0123456789"},     // no endstream: to the end
      {"<< >>\nstream\r\rab\nendstream", std::nullopt, "\rab"},          // only the first CR is stepped over
      {"<< >>\nstream \nab\nendstream", 4, " \nab"},                      // nothing stepped over
      {"<< >>\nstream\nabcdef       \n   endstream", 6, "abcdef"},        // endstream within the window
      {"<< >> 5", std::nullopt, "<dict>"},
  };
  for (const Case& c : cases) EXPECT_EQ(assembled(c.text, c.length), c.data) << c.text;
}

TEST(Resolver, LookupsAndErrors) {
  auto file = PdfFixture()
                  .object(1, "<< /Type /Catalog >>")
                  .stream(3, "/Type /ObjStm /N 2 /First 10", "20 0 21 3 42 (ab)")
                  .stream(4, "", "0123456789")
                  .object(5, "<< /Length 8 0 R >>\nstream\nabc\nendstream")
                  .object(6, "(six)")
                  .object(9, "<< /Length 9 0 R >>\nstream\nxyz\nendstream")
                  .build();
  auto xref = read_xref(as_bytes(file));
  ASSERT_TRUE(xref);
  xref->entries[7] = xref->entries.at(6);  // object 6's header: a mismatch
  for (uint32_t n : {20, 21, 22}) xref->entries[n] = XrefEntry::in_stream(3, n - 20);
  xref->entries[23] = XrefEntry::in_stream(23, 0);  // an object stream inside itself
  xref->entries[24] = XrefEntry::in_stream(25, 0);  // a loop of object streams
  xref->entries[25] = XrefEntry::in_stream(24, 0);
  xref->entries[26] = XrefEntry::in_stream(1, 0);  // not a stream
  // Object stream 100 inside 101 inside 102 ...: the chain of nested lookups
  // stops at a fixed depth, and the resolver stays usable after it (the
  // first two rows below).
  for (uint32_t n = 100; n < 1100; ++n) xref->entries[n] = XrefEntry::in_stream(n + 1, 0);
  Resolver r(as_bytes(file), std::move(xref.value()));
  // 5: /Length 8 0 R is missing, the data is found by search. 9: /Length
  // refers to the stream itself; the nested lookup fails, the length counts
  // as absent and the endstream search cuts the data. 0: free.
  const Row rows[] = {{100, "InvalidObject: object references nested too deeply"}, {20, "42"}, {21, "(ab)"},
                      {4, "0123456789"}, {5, "abc"}, {9, "xyz"}, {7, "InvalidObject: object number mismatch"},
                      {99, "ObjectNotFound: no such object"}, {0, "ObjectNotFound: no such object"},
                      {22, "InvalidObject: objstm index out of range"}, {23, "InvalidObject: object refers to itself"},
                      {24, "InvalidObject: object refers to itself"}, {26, "InvalidObject: ObjStm is not a stream"}};
  for (auto [num, want] : rows) EXPECT_EQ(got(r, num), want) << num;
  EXPECT_EQ(r.get(4).value(), r.get(4).value());  // cached: the same object
  EXPECT_EQ(vellum::testing::outcome(r.resolve_dict(Object::reference({6, 0}))), "InvalidObject: expected dictionary");
}

TEST(ObjStmParse, HeaderRules) {
  using vellum::testing::bytes;
  using vellum::testing::parse_dict;
  struct Case {
    const char* dict;
    const char* data;
    const char* error;
  } cases[] = {
      {"<< /N -1 /First 0 >>", "", "InvalidObject: objstm negative key"},
      {"<< /N 1 >>", "", "InvalidObject: objstm missing key"},
      {"<< /N 1 /First 0 >>", "7 x", "InvalidObject: objstm bad integer"},
      {"<< /N 1 /First 0 >>", "7", "InvalidObject: objstm truncated header"},
      // An absurd /N with a short header fails without reserving N entries.
      {"<< /N 9223372036854775807 /First 0 >>", "1 0 2 0", "InvalidObject: objstm truncated header"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vellum::testing::outcome(ObjStm::parse(parse_dict(c.dict), bytes(c.data))), c.error) << c.dict << c.data;
  }
}
