// Inflate: hand-built edge cases, differential runs against zlib (valid
// streams of every level and strategy) and against a bit-by-bit canonical
// Huffman walk (the oracle below) on truncated, corrupted, garbage and
// hand-built over-subscribed / incomplete codes. Only we can run these: the
// table decoder against the plain walk. The output limit:
// test_bounded_growth.cpp.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <optional>
#include <random>

#include "filter/inflate.h"
#include "test_util.h"

namespace vellum {
namespace {

// ------------------------------------------------------------------ oracle
// A canonical code: the count of codes of each length, and the symbols in
// code order (by length, then by symbol).
struct Huff {
  int count[16] = {};
  std::vector<int> symbols;
  explicit Huff(const std::vector<int>& lens) : symbols(lens.size()) {
    for (int l : lens) ++count[l];
    count[0] = 0;
    int offs[16] = {};
    for (int l = 1; l < 15; ++l) offs[l + 1] = offs[l] + count[l];
    for (size_t s = 0; s < lens.size(); ++s)
      if (lens[s]) symbols[offs[lens[s]]++] = static_cast<int>(s);
  }
};

// The plain decoder, RFC 1951 read literally: one bit at a time, a
// canonical-code walk per symbol, no tables. nullopt for every failure.
class Oracle {
 public:
  explicit Oracle(ByteSpan in) : in_(in) {}

  std::optional<Bytes> run() {
    for (int last = 0; !last;) {
      last = bits(1);
      const int type = bits(2);
      if (!ok_ || type == 3 || !(type == 0 ? stored() : type == 1 ? fixed() : dynamic())) return std::nullopt;
    }
    return out_;
  }

 private:
  int bits(int n) {  // least significant bit first; reading past the end clears ok_
    int v = 0;
    for (int i = 0; i < n; ++i, ++bitpos_) {
      if (bitpos_ / 8 >= in_.size()) return ok_ = false, 0;
      v |= (in_[bitpos_ / 8] >> (bitpos_ % 8) & 1) << i;
    }
    return v;
  }
  int decode(const Huff& h) {  // -1: no code or no input
    for (int len = 1, code = 0, first = 0, index = 0; len <= 15; ++len) {
      code |= bits(1);
      if (!ok_) return -1;
      if (code - first < h.count[len]) return h.symbols[index + code - first];
      index += h.count[len], first = (first + h.count[len]) << 1, code <<= 1;
    }
    return -1;
  }
  bool stored() {  // NLEN is not checked
    size_t pos = (bitpos_ + 7) / 8;
    if (in_.size() - pos < 4) return false;
    const size_t len = in_[pos] | in_[pos + 1] << 8;
    pos += 4;
    if (in_.size() - pos < len) return false;
    out_.insert(out_.end(), in_.begin() + pos, in_.begin() + pos + len);
    bitpos_ = (pos + len) * 8;
    return true;
  }
  bool fixed() {
    std::vector<int> l(288);
    for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return block(Huff(l), Huff(std::vector<int>(30, 5)));
  }
  bool dynamic() {
    const int hlit = bits(5) + 257, hdist = bits(5) + 1, hclen = bits(4) + 4;
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::vector<int> cl(19, 0), lens;
    for (int i = 0; i < hclen; ++i) cl[order[i]] = bits(3);
    const Huff ch(cl);
    while (ok_ && static_cast<int>(lens.size()) < hlit + hdist) {
      const int s = decode(ch);
      if (s < 0 || (s == 16 && lens.empty())) return false;
      if (s < 16) {
        lens.push_back(s);
        continue;
      }
      const int r = bits(s == 16 ? 2 : s == 17 ? 3 : 7);
      const int v = s == 16 ? lens.back() : 0;
      lens.insert(lens.end(), r + (s == 18 ? 11 : 3), v);  // may run past hlit + hdist
    }
    return ok_ && block(Huff({lens.begin(), lens.begin() + hlit}), Huff({lens.begin() + hlit, lens.end()}));
  }
  bool block(const Huff& lh, const Huff& dh) {
    // RFC 1951 section 3.2.5, the base/extra-bit tables written as their rule.
    int lbase[29], lext[29], dbase[30], dext[30];
    for (int i = 0, b = 3; i < 29; b += 1 << lext[i++]) lext[i] = i < 8 || i == 28 ? 0 : (i - 4) / 4, lbase[i] = i == 28 ? 258 : b;
    for (int i = 0, b = 1; i < 30; b += 1 << dext[i++]) dext[i] = i < 4 ? 0 : (i - 2) / 2, dbase[i] = b;
    for (;;) {
      const int s = decode(lh);
      if (s < 0 || s >= 286) return false;
      if (s == 256) return true;
      if (s < 256) {
        out_.push_back(static_cast<uint8_t>(s));
        continue;
      }
      const size_t len = lbase[s - 257] + bits(lext[s - 257]);
      const int d = decode(dh);
      if (d < 0 || d >= 30) return false;
      const size_t dist = dbase[d] + bits(dext[d]);
      if (!ok_ || dist > out_.size()) return false;
      for (size_t i = 0; i < len; ++i) out_.push_back(out_[out_.size() - dist]);
      if (out_.size() > (size_t{64} << 20)) return false;  // keep runaway garbage cheap
    }
  }

  ByteSpan in_;
  size_t bitpos_ = 0;
  bool ok_ = true;
  Bytes out_;
};

// Ours and the oracle agree: both fail (with the one message), or both give
// the same bytes; the validate-only decoder gives our outcome. Returns
// whether the stream decoded.
bool expect_agrees(ByteSpan in, const std::string& what) {
  SCOPED_TRACE(what);
  const std::optional<Bytes> want = Oracle(in).run();
  const Result<Bytes> got = inflate(in);
  testing::expect_result(got, want, "BadStream: corrupt DEFLATE data");
  EXPECT_EQ(testing::outcome(inflate_validate(in)), testing::outcome(got));
  return want.has_value();
}

// ------------------------------------------------------------------ helpers

using testing::BitWriter;
using testing::hex;

Bytes zlib_raw(const Bytes& in, int level, int strategy, int window_bits = 15, int mem_level = 8) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, -window_bits, mem_level, strategy), Z_OK);
  Bytes out(deflateBound(&zs, in.size()) + 64);
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// `n` bytes from an alphabet of `alphabet` symbols, with phrases repeated
// from up to 40000 bytes back now and then (runs when the distance is 1).
Bytes sample(std::mt19937& rng, size_t n, unsigned alphabet) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<uint8_t>(rng() % alphabet);
    if (i < 100 || rng() % 50) continue;
    const size_t dist = rng() % 3 ? 1 + rng() % std::min<size_t>(i, 40000) : 1;
    for (size_t end = std::min(n, i + 3 + rng() % 300); i < end; ++i) b[i] = b[i - dist];
    --i;
  }
  return b;
}

// ------------------------------------------------------------------ cases

// Hand-built blocks that the differential tests below rarely or never
// write. Bad block types, symbols and distances, the longest matches, empty,
// cut and trailing input: the differential tests.
TEST(Inflate, HandBuiltBlocks) {
  // A stored block whose NLEN is not the complement of LEN still reads.
  EXPECT_EQ(inflate(hex("01 03 00 00 00 61 62 63")).value(), testing::bytes("abc"));
  // HLIT 258, HDIST 1, HCLEN 16; code-length code 18 -> 0, 2 -> 10,
  // 16 -> 11. Lengths: 97 zeros, 'a': 2, 138 + 20 zeros, 256: 2, 257: 2,
  // then 16 repeating 2 three times, which runs past HLIT + HDIST: distance
  // symbols 0..2 get length 2 where HDIST names one. Literal code 'a' 00,
  // 256 01, 257 10; distance code 0 00, 1 01, 2 10. Data: 'a', 'a', length
  // 3 at distance 2 (the surplus symbol 1), end of block.
  const Bytes past_hlit_hdist = hex("0d 80 85 00 00 00 00 80 58 f3 97 a8 81 14");
  EXPECT_EQ(inflate(past_hlit_hdist).value(), Bytes(5, 'a'));
  EXPECT_TRUE(expect_agrees(past_hlit_hdist, "repeat past HLIT+HDIST"));
  // A dynamic block whose first code length is repeat code 16 (code-length
  // code 16 -> 0, 18 -> 1).
  EXPECT_FALSE(expect_agrees(hex("05 00 82 00"), "repeat with no previous length"));
}

// Valid streams from zlib at every level and strategy, several window and
// memory sizes, decode to their input; truncated and corrupted ones, and
// garbage steered into each block type, as the walk decodes them.
TEST(Inflate, AgreesWithZlibAndTheWalk) {
  std::mt19937 rng(1234);
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  const unsigned alphabets[] = {256, 4, 64};
  for (int round = 0; round < 600; ++round) {
    const size_t n = round % 50 == 0 ? rng() % 100000 : rng() % 5000;
    const Bytes plain = sample(rng, n, alphabets[round % 3]);
    const Bytes z = zlib_raw(plain, round % 10, strategies[round / 10 % 5], 9 + round % 7, 1 + round % 9);
    auto got = inflate(z);
    ASSERT_TRUE(got.ok() && *got == plain) << round;
    ASSERT_TRUE(inflate_validate(z).ok()) << round;
    expect_agrees(Bytes(z.begin(), z.begin() + static_cast<ptrdiff_t>(rng() % (z.size() + 1))), "truncated");
    Bytes flipped = z;
    for (int k = 0, flips = 1 + rng() % 3; k < flips; ++k) flipped[rng() % flipped.size()] ^= 1u << (rng() % 8);
    expect_agrees(flipped, "bit flips");
    Bytes garbage(1 + rng() % 200);
    for (auto& c : garbage) c = static_cast<uint8_t>(rng());
    garbage[0] = static_cast<uint8_t>((garbage[0] & ~6u) | (round % 4) * 2);  // every block type
    expect_agrees(garbage, "garbage");
  }
}

// Dynamic blocks over arbitrary code lengths (over-subscribed, incomplete,
// empty, single-code), with symbols written by their canonical codes and a
// random tail: the table decoder must take exactly the walk's path.
TEST(Inflate, AgreesWithWalkOnArbitraryCodes) {
  std::mt19937 rng(2024);
  int decoded = 0;
  for (int round = 0; round < 2500; ++round) {
    const int hlit = 257 + static_cast<int>(rng() % 32), hdist = 1 + static_cast<int>(rng() % 32);
    std::vector<int> lens(hlit + hdist);
    // Anything; sparse and long; half empty; few and short (often incomplete).
    // One length in style[0] is set, to style[1] + a number below style[2].
    static const unsigned kStyles[4][3] = {{1, 0, 16}, {3, 8, 8}, {2, 1, 15}, {8, 1, 4}};
    const unsigned* style = kStyles[round % 4];
    for (int& l : lens) l = rng() % style[0] ? 0 : static_cast<int>(style[1] + rng() % style[2]);
    if (rng() % 2) lens[256] = 1 + static_cast<int>(rng() % 15);
    BitWriter w;
    w.put(1, 1), w.put(2, 2);
    w.put(hlit - 257, 5), w.put(hdist - 1, 5), w.put(15, 4);
    // Code-length code: all 19 symbols of length 5 (incomplete but usable):
    // symbol s has code s in canonical order.
    for (int i = 0; i < 19; ++i) w.put(5, 3);
    for (int l : lens) w.put_code(l, 5);
    // Canonical codes of the literal and distance codes as an encoder
    // assigns them; symbols whose code does not fit are skipped.
    auto codes_of = [](const std::vector<int>& ls) {
      const Huff h(ls);
      std::vector<std::pair<uint32_t, int>> c(ls.size(), {0, 0});
      uint32_t first = 0;  // the first code of each length, as the walk counts it
      for (int len = 1, index = 0; len <= 15; index += h.count[len], first = (first + h.count[len]) << 1, ++len) {
        for (int k = 0; k < h.count[len] && first + k < (1u << len); ++k)
          c[h.symbols[index + k]] = {first + k, len};
      }
      return c;
    };
    const auto lc = codes_of(std::vector<int>(lens.begin(), lens.begin() + hlit));
    const auto dc = codes_of(std::vector<int>(lens.begin() + hlit, lens.end()));
    for (int k = 0, n = static_cast<int>(rng() % 60); k < n; ++k) {
      const int s = static_cast<int>(rng() % hlit);
      if (!lc[s].second) continue;
      w.put_code(lc[s].first, lc[s].second);
      if (s > 256 && s < 286) {
        w.put(rng(), 5);
        const int d = static_cast<int>(rng() % dc.size());
        if (dc[d].second) w.put_code(dc[d].first, dc[d].second);
        w.put(rng(), 13);
      }
    }
    if (lc[256].second) w.put_code(lc[256].first, lc[256].second);
    Bytes in = w.bytes();
    for (int k = 0, tail = static_cast<int>(rng() % 4); k < tail; ++k) in.push_back(static_cast<uint8_t>(rng()));
    decoded += expect_agrees(in, "arbitrary code, round " + std::to_string(round));
  }
  EXPECT_GT(decoded, 100);  // the successes matter as much as the failures
}

// A truncated stream whose invented (zero) bits would overflow the limit is
// still reported as corrupt: it is the missing input that fails it. A final
// fixed block: 'a', then 11000 where the input ends; padded with zeros this
// reads 11000000 (length 115..130) and distance 1.
TEST(Inflate, TruncationWinsOverLimit) {
  EXPECT_EQ(testing::outcome(inflate(hex("4b 1c"), 100)), "BadStream: corrupt DEFLATE data");
}

}  // namespace
}  // namespace vellum
