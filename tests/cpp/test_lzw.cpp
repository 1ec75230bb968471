// LZW: hand-written code sequences for the edge cases, width switches at the
// exact entry with and without early change, and round trips through an
// encoder written here, spanning every code width.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "filter/lzw.h"

namespace vellum {
namespace {

// Codes of given widths, most significant bit first.
Bytes pack(const std::vector<std::pair<unsigned, int>>& codes) {
  Bytes out;
  uint64_t acc = 0;
  int n = 0;
  for (auto [code, width] : codes) {
    acc = acc << width | code;
    n += width;
    while (n >= 8) out.push_back(static_cast<uint8_t>(acc >> (n -= 8)));
  }
  if (n) out.push_back(static_cast<uint8_t>(acc << (8 - n)));
  return out;
}
Bytes pack9(std::initializer_list<unsigned> codes) {
  std::vector<std::pair<unsigned, int>> v;
  for (unsigned c : codes) v.push_back({c, 9});
  return pack(v);
}

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

struct Case {
  const char* name;
  Bytes in;
  std::optional<Bytes> want;
};

TEST(Lzw, EdgeCases) {
  const Bytes abab = {0x41, 0x42, 0x41, 0x42};
  Bytes cut = pack9({256, 65, 66, 258, 300});
  cut.pop_back();  // ends inside the last code
  Bytes trailing = pack9({256, 65, 66, 258, 257});
  trailing.push_back(0xFF);
  trailing.push_back(0x13);
  const Case cases[] = {
      {"empty", Bytes{}, Bytes{}},
      {"clear, A, B, 258, end", pack9({256, 65, 66, 258, 257}), abab},
      {"no end-of-data code", pack9({256, 65, 66, 258}), abab},
      {"ends inside a code", cut, abab},
      {"data after end-of-data", trailing, abab},
      {"first code undefined", pack9({258}), std::nullopt},
      {"undefined code after a clear", pack9({65, 256, 300}), std::nullopt},
      {"undefined code after a clear, mid-stream", pack9({256, 65, 66, 256, 259}), std::nullopt},
      // A code beyond the next free one is still "previous + its first byte".
      {"code past the next free", pack9({256, 65, 300, 257}), Bytes{0x41, 0x41, 0x41}},
      // After such a code the previous string is the new entry 258 ("AA"):
      // 66 then adds "AAB", and 259 (next free) is "AA" + "A".
      {"code past the next free, then a literal", pack9({256, 65, 300, 66, 259, 257}),
       Bytes{0x41, 0x41, 0x41, 0x42, 0x41, 0x41, 0x42}},
      {"code past the next free, then the next free", pack9({256, 65, 300, 259, 257}),
       Bytes{0x41, 0x41, 0x41, 0x41, 0x41, 0x41}},
      {"KwKwK", pack9({256, 65, 258, 259, 257}), Bytes{0x41, 0x41, 0x41, 0x41, 0x41, 0x41}},
      {"no leading clear", pack9({66, 67, 258, 257}), Bytes{0x42, 0x43, 0x42, 0x43}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool early : {true, false}) {
      auto got = lzw_decode(c.in, early);
      ASSERT_EQ(got.ok(), c.want.has_value());
      if (got.ok()) {
        EXPECT_TRUE(*got == *c.want);
      } else {
        EXPECT_EQ(got.error().display(), "BadStream: bad LZW data");
      }
    }
  }
}

// The first wide code at each switch: 510/511 -> 10 bits, 1022/1023 -> 11,
// 2046/2047 -> 12. Literal codes only, so entry L is added by code L - 256
// (the first code after the clear adds nothing).
TEST(Lzw, WidthSwitchPoints) {
  for (bool early : {true, false}) {
    const unsigned e = early ? 1 : 0;
    std::vector<std::pair<unsigned, int>> codes = {{256, 9}};
    Bytes want;
    int width = 9;
    for (unsigned k = 1; k <= 2000; ++k) {
      const unsigned lit = (k * 7) % 256;
      codes.push_back({lit, width});
      want.push_back(static_cast<uint8_t>(lit));
      // Reading code k (k >= 2) added entry 256 + k; the table then holds
      // 257 + k entries.
      if (k >= 2 && width < 12 && 257 + k >= (1u << width) - e) ++width;
    }
    codes.push_back({257, width});
    const Bytes data = pack(codes);
    auto got = lzw_decode(data, early);
    ASSERT_TRUE(got.ok());
    EXPECT_TRUE(*got == want) << early;
    auto other = lzw_decode(data, !early);
    EXPECT_FALSE(other.ok() && *other == want) << early;
  }
}

// Round trips over inputs long enough for every width (and, for the long
// ones, several clear codes or a full table that stops growing).
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
  for (uint64_t limit : {uint64_t{100000}, uint64_t{99999}, uint64_t{10}, uint64_t{0}}) {
    auto got = lzw_decode(enc, true, limit);
    if (limit >= in.size()) {
      ASSERT_TRUE(got.ok());
      EXPECT_TRUE(*got == in);
      continue;
    }
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error().display(), "BadStream: decoded stream too large");
  }
}

}  // namespace
}  // namespace vellum
