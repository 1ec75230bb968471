// Table-driven DEFLATE decoder (RFC 1951).
//
// Design:
// - Bits come from a 64-bit buffer, least significant bit first. A refill
//   tops it up to at least 56 bits, enough for a whole length/distance pair
//   (15 + 5 + 15 + 13 = 48 bits), so the inner loop refills once per symbol.
//   Near the end of the input the refill shifts in zero bytes and counts
//   them; a stream that consumed any of those padding bits is truncated and
//   fails. The count is checked at every slow refill, on the way out of the
//   too-large path and before success, so a stream never succeeds, nor loops,
//   on invented bits.
// - Each Huffman code becomes a primary table indexed by the next few bits,
//   with subtables for the longer codes. The tables are filled by walking the
//   canonical code exactly as a bit-by-bit decoder would: per length, the
//   codes [first, first + count) map to consecutive symbols. Codes that an
//   over-subscribed code cannot reach are never entered, and bit patterns of
//   an incomplete code stay "bad", so both decode (and fail) exactly as the
//   bit-by-bit canonical walk does.
// - One engine serves two output sinks: a growing buffer (inflate) and a
//   sliding 32 KiB window that only counts bytes (inflate_validate). Both
//   enforce the output limit before they allocate.
#include "filter/inflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "filter/bounded_growth.h"

namespace vellum {
namespace {

Error corrupt() { return make_error(ErrorKind::BadStream, "corrupt DEFLATE data"); }

enum class Fail : uint8_t { None, Corrupt, TooLarge };

// ---------------------------------------------------------------- tables

// RFC 1951 section 3.2.5.
constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// RFC 1951 section 3.2.7: the order of the code-length code lengths.
constexpr uint8_t kClenOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A table entry packs: bits 0-7 the bits this entry consumes (the whole
// code length, also in subtables; for a subtable pointer, the primary index
// width), 8-10 the
// kind, 11-15 the extra-bit count (or a subtable's index width), 16-31 the
// value (literal byte, base length, base distance, code-length symbol, or a
// subtable's offset).
enum : uint32_t { kLit = 0, kMatch = 1, kEnd = 2, kSub = 3, kBad = 4 };
constexpr uint32_t make_entry(uint32_t kind, uint32_t extra, uint32_t value) {
  return kind << 8 | extra << 11 | value << 16;
}
inline uint32_t e_bits(uint32_t e) { return e & 0xff; }
inline uint32_t e_kind(uint32_t e) { return (e >> 8) & 7; }
inline uint32_t e_extra(uint32_t e) { return (e >> 11) & 31; }
inline uint32_t e_value(uint32_t e) { return e >> 16; }
constexpr uint32_t kBadEntry = make_entry(kBad, 0, 0);

uint32_t lit_leaf(unsigned sym) {
  if (sym < 256) return make_entry(kLit, 0, sym);
  if (sym == 256) return make_entry(kEnd, 0, 0);
  if (sym < 286) return make_entry(kMatch, kLenExtra[sym - 257], kLenBase[sym - 257]);
  return kBadEntry;  // 286 and 287 have codes but no meaning
}
uint32_t dist_leaf(unsigned sym) {
  if (sym < 30) return make_entry(kMatch, kDistExtra[sym], kDistBase[sym]);
  return kBadEntry;
}
uint32_t clen_leaf(unsigned sym) { return make_entry(kLit, 0, sym); }

constexpr auto kRev8 = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = 0;
    for (unsigned b = 0; b < 8; ++b) r |= ((i >> b) & 1u) << (7 - b);
    t[i] = static_cast<uint8_t>(r);
  }
  return t;
}();
// The `len` low bits of `code`, reversed: Huffman codes are sent most
// significant bit first, the bit buffer yields least significant first.
inline unsigned reverse_bits(unsigned code, unsigned len) {
  unsigned r = static_cast<unsigned>(kRev8[code & 0xff]) << 8 | kRev8[(code >> 8) & 0xff];
  return r >> (16 - len);
}

constexpr unsigned kMaxCodeLen = 15;
// Literal/length lengths (at most 288) plus distance lengths (at most 32)
// plus the surplus of a final repeat (at most 137).
constexpr unsigned kMaxLengths = 288 + 32 + 137;

class HuffTable {
 public:
  // Build the decoding table of the canonical code given by one length per
  // symbol (0 = unused). Every set of lengths is accepted: see the file
  // comment for over-subscribed and incomplete codes.
  void build(const uint8_t* lens, unsigned n, unsigned primary_bits, uint32_t (*leaf)(unsigned)) {
    pbits_ = primary_bits;
    unsigned count[kMaxCodeLen + 1] = {};
    for (unsigned i = 0; i < n; ++i) ++count[lens[i]];
    count[0] = 0;
    unsigned offs[kMaxCodeLen + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeLen; ++len) offs[len + 1] = offs[len] + count[len];
    uint16_t sorted[kMaxLengths];
    for (unsigned i = 0; i < n; ++i)
      if (lens[i]) sorted[offs[lens[i]]++] = static_cast<uint16_t>(i);

    const unsigned psize = 1u << pbits_;
    // Pass 1: the longest reachable code under each primary prefix sizes the
    // subtables.
    uint8_t sub_len[1u << 11];
    bool any_long = false;
    for_each_code(count, [&](unsigned len, unsigned code, unsigned) {
      if (len <= pbits_) return;
      if (!any_long) std::memset(sub_len, 0, psize);
      any_long = true;
      sub_len[code >> (len - pbits_)] = static_cast<uint8_t>(len);
    });
    uint16_t sub_off[1u << 11];
    size_t total = psize;
    if (any_long) {
      for (unsigned prefix = 0; prefix < psize; ++prefix) {
        if (!sub_len[prefix]) continue;
        sub_off[prefix] = static_cast<uint16_t>(total);
        total += size_t{1} << (sub_len[prefix] - pbits_);
      }
    }
    if (table_.size() < total) table_.resize(total);
    std::fill(table_.begin(), table_.begin() + total, kBadEntry);
    if (any_long) {
      for (unsigned prefix = 0; prefix < psize; ++prefix) {
        if (!sub_len[prefix]) continue;
        table_[reverse_bits(prefix, pbits_)] = make_entry(kSub, sub_len[prefix] - pbits_, sub_off[prefix]) | pbits_;
      }
    }
    // Pass 2: enter every reachable code, replicated over the index bits
    // beyond its length.
    uint32_t* t = table_.data();
    for_each_code(count, [&](unsigned len, unsigned code, unsigned index) {
      uint32_t e = leaf(sorted[index]);
      if (len <= pbits_) {
        e |= len;
        for (unsigned j = reverse_bits(code, len); j < psize; j += 1u << len) t[j] = e;
        return;
      }
      unsigned prefix = code >> (len - pbits_);
      unsigned rest = len - pbits_;
      unsigned sub_size = 1u << (sub_len[prefix] - pbits_);
      uint32_t* sub = t + sub_off[prefix];
      e |= len;  // the whole code: lookups consume after the subtable step
      for (unsigned j = reverse_bits(code & ((1u << rest) - 1), rest); j < sub_size; j += 1u << rest) sub[j] = e;
    });
  }

  const uint32_t* data() const { return table_.data(); }
  unsigned primary_bits() const { return pbits_; }

 private:
  // Visit (length, code, symbol index) of every code the canonical walk can
  // reach, in increasing length and code order. At length `len` the walk
  // returns for the codes [first, first + count) that fit in `len` bits; once
  // `first` no longer fits, no code of this or any longer length is reachable.
  template <class F>
  static void for_each_code(const unsigned* count, F&& visit) {
    unsigned first = 0;
    unsigned index = 0;
    for (unsigned len = 1; len <= kMaxCodeLen; ++len) {
      const unsigned limit = 1u << len;
      if (first >= limit) break;
      const unsigned last = std::min(first + count[len], limit);
      for (unsigned code = first; code < last; ++code) visit(len, code, index + (code - first));
      index += count[len];
      first = (first + count[len]) << 1;
    }
  }

  std::vector<uint32_t> table_;
  unsigned pbits_ = 0;
};

constexpr unsigned kLitBits = 10;
constexpr unsigned kDistBits = 8;
constexpr unsigned kClenBits = 7;

inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// ---------------------------------------------------------------- sinks

// Output into one growing buffer, for inflate(). The first reservation is 8
// times the input (at most 64 MiB); growth follows filter/bounded_growth.h,
// and the vector's size, which it must zero-fill, follows the output in
// steps, so the zeroing stays in cache just ahead of the decoder rather than
// sweeping the whole reservation.
class BufferSink {
 public:
  BufferSink(size_t input_size, uint64_t limit, Bytes storage) : buf_(std::move(storage)), limit_(limit) {
    const uint64_t first = std::min<uint64_t>({uint64_t{input_size} * 8 + 64, uint64_t{64} << 20, limit});
    buf_.clear();
    reserve_within(buf_, first, limit);
    // Zero-filled to the first estimate only, however large a lent buffer is.
    buf_.resize(static_cast<size_t>(std::min(kZeroFillStep, first)));
  }
  uint8_t* start() { return buf_.data(); }
  // The decoder writes freely up to here, so it never passes the limit.
  uint8_t* end() { return buf_.data() + buf_.size(); }
  // Make room for `n` more bytes at `p` (which it may move); false when that
  // would take the output beyond the limit.
  bool reserve(uint8_t*& p, size_t n) {
    const size_t used = static_cast<size_t>(p - buf_.data());
    if (uint64_t{used} + n > limit_) return false;
    if (buf_.size() - used >= n) return true;
    resize_within(buf_, uint64_t{used} + n, limit_);
    p = buf_.data() + used;
    return true;
  }
  Bytes finish(uint8_t* p) {
    buf_.resize(static_cast<size_t>(p - buf_.data()));
    return std::move(buf_);
  }

 private:
  Bytes buf_;
  uint64_t limit_;
};

// A 32 KiB history window and a byte count, for inflate_validate(). The
// buffer slides when full; before it does, the PNG row-type bytes among the
// bytes about to leave are checked.
class WindowSink {
 public:
  static constexpr size_t kHistory = 32768;
  static constexpr size_t kSize = kHistory + 4 * 32768;  // room for a whole stored block

  WindowSink(uint64_t limit, uint64_t row_stride)
      : buf_(new uint8_t[kSize]), limit_(limit), stride_(row_stride), next_row_(row_stride ? 0 : UINT64_MAX) {
    set_end();
  }
  uint8_t* start() { return buf_.get(); }
  // The decoder writes freely up to here, so it stops at the limit.
  uint8_t* end() { return end_; }
  bool reserve(uint8_t*& p, size_t n) {
    size_t used = static_cast<size_t>(p - buf_.get());
    if (base_ + used + n > limit_) return false;
    if (kSize - used >= n) return true;
    check_rows(base_ + used);
    size_t keep = std::min(used, kHistory);
    std::memmove(buf_.get(), p - keep, keep);
    base_ += used - keep;
    p = buf_.get() + keep;
    set_end();
    return true;
  }
  uint64_t produced(const uint8_t* p) const { return base_ + static_cast<uint64_t>(p - buf_.get()); }
  // True when every examined row-type byte was valid.
  bool finish(uint8_t* p) {
    check_rows(base_ + static_cast<size_t>(p - buf_.get()));
    return rows_ok_;
  }

 private:
  // Row-type bytes at positions q with q + 1 < produced: the chunk has at
  // least one row byte, so the predictor would examine its type.
  void check_rows(uint64_t produced) {
    while (next_row_ != UINT64_MAX && next_row_ + 1 < produced) {
      if (buf_[next_row_ - base_] > 4) rows_ok_ = false;
      next_row_ = next_row_ > UINT64_MAX - stride_ ? UINT64_MAX : next_row_ + stride_;
    }
  }

  void set_end() { end_ = buf_.get() + std::min<uint64_t>(kSize, limit_ - base_); }

  std::unique_ptr<uint8_t[]> buf_;
  uint8_t* end_ = nullptr;
  uint64_t limit_;
  uint64_t stride_;
  uint64_t next_row_;
  uint64_t base_ = 0;  // bytes that have left the window
  bool rows_ok_ = true;
};

// ---------------------------------------------------------------- decoder

template <class Sink>
class Inflater {
 public:
  Inflater(ByteSpan data, Sink& sink)
      : in_(data.data()), end_(data.data() + data.size()), sink_(sink) {
    p_ = sink_.start();
  }

  Fail run() {
    for (;;) {
      if (!refill()) return Fail::Corrupt;
      const bool final_block = bits_ & 1;
      const unsigned type = (bits_ >> 1) & 3;
      consume(3);
      Fail f = Fail::Corrupt;
      switch (type) {
        case 0: f = stored_block(); break;
        case 1:
          if (!fixed_built_) build_fixed();
          f = huffman_block(fixed_lit_, fixed_dist_);
          break;
        case 2: f = dynamic_block(); break;
        default: return Fail::Corrupt;
      }
      if (f != Fail::None) return f;
      if (final_block) return padding_consumed() ? Fail::Corrupt : Fail::None;
    }
  }

  uint8_t* out_pos() const { return p_; }

 private:
  bool padding_consumed() const { return bitcount_ < 8 * overrun_; }

  // Top the bit buffer up to at least 56 bits (see the file comment). Bits
  // above `bitcount_` may hold copies of input bits not yet counted; every
  // read masks them off.
  bool refill() {
    if (end_ - in_ >= 8) {
      bits_ |= load_le64(in_) << bitcount_;
      in_ += (63 - bitcount_) >> 3;
      bitcount_ |= 56;
      return true;
    }
    while (bitcount_ <= 56) {
      if (in_ < end_) bits_ |= uint64_t{*in_++} << bitcount_;
      else ++overrun_;
      bitcount_ += 8;
    }
    return !padding_consumed();
  }
  void consume(unsigned n) {
    bits_ >>= n;
    bitcount_ -= n;
  }
  unsigned take(unsigned n) {
    unsigned v = static_cast<unsigned>(bits_ & ((uint64_t{1} << n) - 1));
    consume(n);
    return v;
  }
  // One symbol's entry; the caller has refilled.
  uint32_t decode(const HuffTable& h) {
    const uint32_t* t = h.data();
    uint32_t e = t[bits_ & ((1u << h.primary_bits()) - 1)];
    if (e_kind(e) == kSub) e = t[e_value(e) + ((bits_ >> e_bits(e)) & ((1u << e_extra(e)) - 1))];
    consume(e_bits(e));
    return e;
  }

  Fail too_large() const { return padding_consumed() ? Fail::Corrupt : Fail::TooLarge; }

  Fail stored_block() {
    consume(bitcount_ & 7);
    if (padding_consumed()) return Fail::Corrupt;
    // Whole bytes still in the bit buffer go back to the input.
    in_ -= bitcount_ / 8 - overrun_;
    bits_ = 0;
    bitcount_ = 0;
    overrun_ = 0;
    if (end_ - in_ < 4) return Fail::Corrupt;
    const size_t len = in_[0] | size_t{in_[1]} << 8;  // NLEN (in_[2..3]) is not compared
    in_ += 4;
    if (static_cast<size_t>(end_ - in_) < len) return Fail::Corrupt;
    if (!sink_.reserve(p_, len)) return Fail::TooLarge;
    if (len) std::memcpy(p_, in_, len);
    p_ += len;
    in_ += len;
    return Fail::None;
  }

  void build_fixed() {
    uint8_t lens[288 + 30];
    std::fill(lens, lens + 144, 8);
    std::fill(lens + 144, lens + 256, 9);
    std::fill(lens + 256, lens + 280, 7);
    std::fill(lens + 280, lens + 288, 8);
    std::fill(lens + 288, lens + 318, 5);
    fixed_lit_.build(lens, 288, kLitBits, lit_leaf);
    fixed_dist_.build(lens + 288, 30, kDistBits, dist_leaf);
    fixed_built_ = true;
  }

  Fail dynamic_block() {
    if (!refill()) return Fail::Corrupt;
    const unsigned hlit = take(5) + 257;
    const unsigned hdist = take(5) + 1;
    const unsigned hclen = take(4) + 4;
    uint8_t clens[19] = {};
    for (unsigned i = 0; i < hclen; ++i) {
      if (!refill()) return Fail::Corrupt;
      clens[kClenOrder[i]] = static_cast<uint8_t>(take(3));
    }
    clen_.build(clens, 19, kClenBits, clen_leaf);

    uint8_t lens[kMaxLengths];
    const unsigned wanted = hlit + hdist;
    unsigned n = 0;
    while (n < wanted) {
      if (!refill()) return Fail::Corrupt;
      const uint32_t e = decode(clen_);
      if (e_kind(e) != kLit) return Fail::Corrupt;
      const unsigned sym = e_value(e);
      if (sym < 16) {
        lens[n++] = static_cast<uint8_t>(sym);
        continue;
      }
      uint8_t value = 0;
      unsigned repeat;
      if (sym == 16) {
        if (n == 0) return Fail::Corrupt;
        value = lens[n - 1];
        repeat = 3 + take(2);
      } else if (sym == 17) {
        repeat = 3 + take(3);
      } else {
        repeat = 11 + take(7);
      }
      // n < wanted <= 320 before the repeat, so at most 137 surplus lengths.
      std::memset(lens + n, value, repeat);
      n += repeat;
    }
    // The distance code takes every length after HLIT, surplus included.
    lit_.build(lens, hlit, kLitBits, lit_leaf);
    dist_.build(lens + hlit, n - hlit, kDistBits, dist_leaf);
    return huffman_block(lit_, dist_);
  }

  // The hot loop. The bit state lives in locals here: output stores go
  // through a byte pointer, which may alias any member, so members would be
  // reloaded after every byte.
  Fail huffman_block(const HuffTable& lit, const HuffTable& dist) {
    const uint8_t* in = in_;
    const uint8_t* const in_end = end_;
    uint64_t bits = bits_;
    unsigned bitcount = bitcount_;
    unsigned overrun = overrun_;
    uint8_t* p = p_;
    uint8_t* out_end = sink_.end();
    const uint8_t* out_start = sink_.start();
    const uint32_t* const lt = lit.data();
    const uint32_t* const dt = dist.data();
    const uint64_t lmask = (uint64_t{1} << lit.primary_bits()) - 1;
    const uint64_t dmask = (uint64_t{1} << dist.primary_bits()) - 1;

    auto save = [&] {
      in_ = in;
      bits_ = bits;
      bitcount_ = bitcount;
      overrun_ = overrun;
      p_ = p;
    };
    // As refill(), on the locals.
    auto refill_local = [&]() -> bool {
      if (in_end - in >= 8) {
        bits |= load_le64(in) << bitcount;
        in += (63 - bitcount) >> 3;
        bitcount |= 56;
        return true;
      }
      while (bitcount <= 56) {
        if (in < in_end) bits |= uint64_t{*in++} << bitcount;
        else ++overrun;
        bitcount += 8;
      }
      return bitcount >= 8 * overrun;
    };
    auto consume = [&](unsigned n) {
      bits >>= n;
      bitcount -= n;
    };
    // The entry of the next symbol, without consuming its bits.
    auto lookup = [&](const uint32_t* t, uint64_t mask) -> uint32_t {
      uint32_t e = t[bits & mask];
      if (e_kind(e) == kSub) e = t[e_value(e) + ((bits >> e_bits(e)) & ((1u << e_extra(e)) - 1))];
      return e;
    };
    auto grow = [&](size_t n) -> Fail {
      save();
      if (!sink_.reserve(p_, n)) return too_large();
      p = p_;
      out_end = sink_.end();
      out_start = sink_.start();
      return Fail::None;
    };

    for (;;) {
      if (!refill_local()) return Fail::Corrupt;
      uint32_t e = lookup(lt, lmask);
      if (e_kind(e) == kLit) {
        // At least 41 bits remain after one literal: enough to decode a
        // second one without a refill.
        consume(e_bits(e));
        const uint32_t e2 = lookup(lt, lmask);
        if (e_kind(e2) == kLit) {
          consume(e_bits(e2));
          if (out_end - p < 2) {
            if (Fail f = grow(2); f != Fail::None) return f;
          }
          p[0] = static_cast<uint8_t>(e_value(e));
          p[1] = static_cast<uint8_t>(e_value(e2));
          p += 2;
          continue;
        }
        // Not a literal: e2 (not consumed) is looked up again after a refill.
        if (p == out_end) {
          if (Fail f = grow(1); f != Fail::None) return f;
        }
        *p++ = static_cast<uint8_t>(e_value(e));
        continue;
      }
      consume(e_bits(e));
      if (e_kind(e) == kEnd) break;
      if (e_kind(e) != kMatch) return Fail::Corrupt;
      const size_t len = e_value(e) + static_cast<size_t>(bits & ((uint64_t{1} << e_extra(e)) - 1));
      consume(e_extra(e));
      e = lookup(dt, dmask);
      consume(e_bits(e));
      if (e_kind(e) != kMatch) return Fail::Corrupt;
      const size_t distance = e_value(e) + static_cast<size_t>(bits & ((uint64_t{1} << e_extra(e)) - 1));
      consume(e_extra(e));
      if (distance > static_cast<size_t>(p - out_start)) return Fail::Corrupt;
      if (static_cast<size_t>(out_end - p) >= len + 8) {
        const uint8_t* src = p - distance;
        uint8_t* const stop = p + len;
        if (distance >= 8) {
          // 8-byte chunks never overlap their source; the last may overrun
          // `stop` by up to 7 bytes, which the room check allows.
          do {
            std::memcpy(p, src, 8);
            p += 8;
            src += 8;
          } while (p < stop);
        } else if (distance == 1) {
          std::memset(p, *src, len);
        } else {
          // Overlapping copy: byte by byte repeats the pattern.
          for (uint8_t* q = p; q < stop; ++q) *q = *src++;
        }
        p = stop;
        continue;
      }
      if (Fail f = grow(len); f != Fail::None) return f;
      // The sink may have moved or slid the buffer; `distance` still fits.
      const uint8_t* src = p - distance;
      for (size_t i = 0; i < len; ++i) p[i] = src[i];
      p += len;
    }
    save();
    return Fail::None;
  }

  const uint8_t* in_;
  const uint8_t* const end_;
  uint64_t bits_ = 0;
  unsigned bitcount_ = 0;
  unsigned overrun_ = 0;  // zero bytes shifted in past the end of the input
  Sink& sink_;
  uint8_t* p_;
  HuffTable lit_, dist_, clen_;
  HuffTable fixed_lit_, fixed_dist_;
  bool fixed_built_ = false;
};

}  // namespace

Result<Bytes> inflate(ByteSpan data, uint64_t limit, Bytes storage) {
  BufferSink sink(data.size(), limit, std::move(storage));
  Inflater<BufferSink> inflater(data, sink);
  switch (inflater.run()) {
    case Fail::None: return sink.finish(inflater.out_pos());
    case Fail::TooLarge: return stream_too_large();
    case Fail::Corrupt: break;
  }
  return corrupt();
}

Status inflate_validate(ByteSpan data, uint64_t limit, uint64_t png_row_stride, uint64_t* produced) {
  WindowSink sink(limit, png_row_stride);
  Inflater<WindowSink> inflater(data, sink);
  const Fail fail = inflater.run();
  if (produced) *produced = sink.produced(inflater.out_pos());
  switch (fail) {
    case Fail::None:
      if (!sink.finish(inflater.out_pos())) return make_error(ErrorKind::BadStream, "bad predictor row filter");
      return Unit{};
    case Fail::TooLarge: return stream_too_large();
    case Fail::Corrupt: break;
  }
  return corrupt();
}

}  // namespace vellum
