// LZW: hand-written code sequences for the edge cases, and round trips
// through an encoder written here, spanning every code width with and
// without early change.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "filter/lzw.h"
#include "test_util.h"

namespace vellum {
namespace {

using testing::pack;
using testing::pack9;

// An encoder following the PDF standard: a clear code first, widths grow
// once the table reaches 2^w - e + 1 entries... expressed as the decoder's
// rule one entry later, and a clear code before the table overflows (or,
// with `reset_when_full` off, a full table that simply stops growing).
Bytes encode(const Bytes& in, bool early, bool reset_when_full = true) {
  std::vector<std::pair<unsigned, int>> codes;
  std::map<std::pair<int, uint8_t>, unsigned> table;
  unsigned next = 258;
  int width = 9;
  const unsigned e = early ? 1 : 0;
  auto emit = [&](unsigned c) { codes.push_back({c, width}); };
  auto reset = [&] {
    table.clear();
    next = 258;
    width = 9;
  };
  emit(256);
  int w = -1;
  for (uint8_t c : in) {
    if (w < 0) {
      w = c;
      continue;
    }
    auto it = table.find({w, c});
    if (it != table.end()) {
      w = static_cast<int>(it->second);
      continue;
    }
    emit(static_cast<unsigned>(w));
    if (next < 4096) table[{w, c}] = next++;
    // The decoder adds this entry when it reads the next code and then
    // widens when its entry count reaches 2^width - e.
    if (width < 12 && next - 1 >= (1u << width) - e) ++width;
    if (reset_when_full && next >= 4094) {
      emit(256);
      reset();
    }
    w = c;
  }
  if (w >= 0) emit(static_cast<unsigned>(w));
  emit(257);
  return pack(codes);
}

TEST(Lzw, EdgeCases) {
  const Bytes abab = {0x41, 0x42, 0x41, 0x42};
  Bytes cut = pack9({256, 65, 66, 258, 300});
  cut.pop_back();  // ends inside the last code
  Bytes trailing = pack9({256, 65, 66, 258, 257});
  trailing.push_back(0xFF);
  trailing.push_back(0x13);
  const struct {
    const char* name;
    Bytes in;
    std::optional<Bytes> want;
  } cases[] = {
      {"empty", Bytes{}, Bytes{}},
      {"clear, A, B, 258, end", pack9({256, 65, 66, 258, 257}), abab},
      {"ends inside a code", cut, abab},
      {"data after end-of-data", trailing, abab},
      {"first code undefined", pack9({258}), std::nullopt},
      {"undefined code after a clear, mid-stream", pack9({256, 65, 66, 256, 259}), std::nullopt},
      // A code beyond the next free one is still "previous + its first byte".
      {"code past the next free", pack9({256, 65, 300, 257}), Bytes{0x41, 0x41, 0x41}},
      // After such a code the previous string is the new entry 258 ("AA"):
      // 66 then adds "AAB", and 259 (next free) is "AA" + "A".
      {"code past the next free, then a literal", pack9({256, 65, 300, 66, 259, 257}),
       Bytes{0x41, 0x41, 0x41, 0x42, 0x41, 0x41, 0x42}},
      {"KwKwK", pack9({256, 65, 258, 259, 257}), Bytes{0x41, 0x41, 0x41, 0x41, 0x41, 0x41}},
      {"no leading clear", pack9({66, 67, 258, 257}), Bytes{0x42, 0x43, 0x42, 0x43}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool early : {true, false}) testing::expect_result(lzw_decode(c.in, early), c.want, "BadStream: bad LZW data");
  }
}

// Round trips over inputs long enough for every width (and, for the long
// ones, several clear codes or a full table that stops growing). The two
// early-change settings give different streams, so a decoder that widens
// one entry early or late, or ignores the setting, fails here.
TEST(Lzw, RoundTrip) {
  std::mt19937 rng(3);
  for (int round = 0; round < 60; ++round) {
    const size_t n = round % 6 == 0 ? 200000 : 1 + rng() % 30000;
    Bytes in(n);
    const int alphabet = 2 + static_cast<int>(rng() % (round % 2 ? 255 : 8));
    for (auto& b : in) b = static_cast<uint8_t>(rng() % alphabet);
    for (bool early : {true, false}) {
      for (bool reset : {true, false}) {
        const Bytes enc = encode(in, early, reset);
        auto got = lzw_decode(enc, early);
        ASSERT_TRUE(got.ok()) << round;
        ASSERT_TRUE(*got == in) << round << " early " << early << " reset " << reset;
      }
    }
  }
}

TEST(Lzw, OutputLimit) {
  Bytes in(100000, 'x');
  const Bytes enc = encode(in, true);
  for (uint64_t limit : {uint64_t{100000}, uint64_t{99999}, uint64_t{0}}) {
    const std::optional<Bytes> want = limit >= in.size() ? std::optional(in) : std::nullopt;
    testing::expect_result(lzw_decode(enc, true, limit), want, "BadStream: decoded stream too large");
  }
}

}  // namespace
}  // namespace vellum
