// Replays of the inputs that fuzzing found (tests/regression/<target>/<what>)
// and of the shared corpus, under whatever sanitizers the build uses.
//
// Every regression input goes through the whole pipeline as the fuzz targets
// run it (fuzz/harness.h: open strict and recovering, extract, the three
// renderings; with the empty password, "user" and one taken from the input),
// which must end in a value or an Error, and through the fuzz target that
// found it, with that target's checks. The decompression-bomb tests check
// that the decoded-size limit holds for nested chains without the memory
// ever being spent.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <map>
#include <numeric>

#define VELLUM_FUZZ_WITH_ZLIB 1
#include "../../fuzz/harness.h"
#include "corpus.h"
#include "test_util.h"

namespace vellum {
namespace {

namespace fs = std::filesystem;
using testing::read_file;

TEST(Regression, EveryInputThroughPipelineAndItsTarget) {
  const std::map<std::string, void (*)(const uint8_t*, size_t)> targets = {
      {"document", fuzz::fuzz_document},          {"document_password", fuzz::fuzz_document_password},
      {"object", fuzz::fuzz_object},              {"content", fuzz::fuzz_content},
      {"cmap", fuzz::fuzz_cmap},                  {"decode", fuzz::fuzz_decode},
      {"filter_chain", fuzz::fuzz_filter_chain},  {"crypt", fuzz::fuzz_crypt},
      {"truetype", fuzz::fuzz_truetype},          {"cff", fuzz::fuzz_cff},
      {"type1", fuzz::fuzz_type1},
  };
  const fs::path dir = fs::path(VELLUM_SOURCE_DIR) / "tests" / "regression";
  std::vector<fs::path> inputs;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) inputs.push_back(e.path());
  std::sort(inputs.begin(), inputs.end());
  ASSERT_FALSE(inputs.empty()) << "no inputs under " << dir;
  for (const fs::path& path : inputs) {
    SCOPED_TRACE(path.string());
    const std::vector<uint8_t> bytes = read_file(path);
    const ByteSpan data(bytes);
    fuzz::run_pipeline(data, {});
    fuzz::run_pipeline(data, as_bytes("user"));
    // The password from the input's first bytes, as the password target does.
    fuzz::fuzz_document_password(bytes.data(), bytes.size());
    const std::string target = path.parent_path().filename().string();
    auto it = targets.find(target);
    ASSERT_NE(it, targets.end()) << "unknown target directory " << target;
    it->second(bytes.data(), bytes.size());
  }
}

TEST(Regression, CorpusThroughPipeline) {
  if (!testing::corpus_available()) GTEST_SKIP() << "shared corpus not present";
  // What each file should give: tests/test_corpus.py.
  for (const fs::path& path : testing::corpus_files()) {
    SCOPED_TRACE(path.string());
    const std::vector<uint8_t> bytes = read_file(path);
    fuzz::run_pipeline(ByteSpan(bytes), {});
  }
}

// ---------------------------------------------------------------- bombs

Bytes deflate_zeros(size_t n) { return testing::zlib(Bytes(n, 0), 9); }

Dictionary chain_of(std::initializer_list<const char*> names) {
  std::vector<Object> filters;
  for (const char* n : names) filters.push_back(Object::name(n));
  return testing::dict({{"Filter", Object::array(std::move(filters))}});
}

// Nested chains asked to expand past a small limit: the chain fails with
// "decoded stream too large" and never returns more than the limit. Each
// decoder alone at its limit: test_bounded_growth.cpp.
TEST(Regression, DecodedSizeLimitHoldsForEveryDecoderAndChain) {
  constexpr uint64_t kLimit = 1 << 20;
  Bytes rl;
  for (uint64_t i = 0; i < kLimit / 128 + 1; ++i) rl.insert(rl.end(), {129, 'x'});
  // LZW of about 1.2 MB of 'A': after the literal, codes 258, 259, ... each
  // name the entry being defined, one byte longer than the last.
  std::vector<unsigned> run(1542);
  std::iota(run.begin(), run.end(), 258u);
  const struct {
    const char* what;
    Dictionary dict;
    Bytes raw;
  } cases[] = {
      {"flate of flate", chain_of({"FlateDecode", "FlateDecode"}), testing::zlib(deflate_zeros(64 << 20), 9)},
      // Hex text that decodes to a Flate bomb: the limit applies to the last stage.
      {"hex then flate", chain_of({"AHx", "Fl"}), testing::bytes(testing::hex_of(deflate_zeros(kLimit * 4)))},
      {"flate then runlength", chain_of({"FlateDecode", "RunLengthDecode"}), testing::zlib(rl, 9)},
      {"flate then lzw", chain_of({"FlateDecode", "LZWDecode"}),
       testing::zlib(testing::lzw_literals(Bytes{'A'}, true, run), 9)},
      {"image pass-through", chain_of({"FlateDecode", "DCTDecode"}), deflate_zeros(kLimit + 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Result<Bytes> decoded = decode_stream(c.dict, c.raw, kLimit);
    EXPECT_EQ(testing::outcome(decoded), "BadStream: decoded stream too large");
    EXPECT_EQ(testing::outcome(validate_stream(c.dict, c.raw, kLimit)), testing::outcome(decoded));
    // With room to spare the same input decodes: the failure is the limit.
    EXPECT_TRUE(decode_stream(c.dict, c.raw, uint64_t{1} << 34).ok());
  }
}

// A fixed-code block: literal 0, then `copies` matches of length 258 at
// distance 1, about 13 bits for 258 output bytes.
Bytes deflate_run(uint64_t copies) {
  testing::BitWriter w;
  w.put(1, 1), w.put(1, 2);
  w.put_code(0x30, 8);
  for (uint64_t i = 0; i < copies; ++i) w.put_code(0xC5, 8), w.put_code(0, 5);
  w.put_code(0, 7);
  return w.bytes();
}

TEST(Regression, GigabyteLimitStopsNestedFlateBomb) {
  const uint64_t copies = (kMaxDecodedStream / 258) + 1;
  const Bytes inner = deflate_run(copies);  // about 6.5 MiB
  const Bytes outer = testing::zlib(inner, 9);  // under 64 KiB

  const Dictionary chain = chain_of({"FlateDecode", "FlateDecode"});
  EXPECT_EQ(testing::outcome(decode_stream(chain, outer)), "BadStream: decoded stream too large");
  EXPECT_EQ(testing::outcome(validate_stream(chain, outer)), "BadStream: decoded stream too large");

  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  const uint64_t peak = uint64_t(usage.ru_maxrss) * 1024;
  EXPECT_LT(peak, kMaxDecodedStream * 5 / 2) << "peak RSS " << (peak >> 20) << " MiB";
}

}  // namespace
}  // namespace vellum
