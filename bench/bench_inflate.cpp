// Inflate throughput of vellum against zlib on the same compressed data.
//
// For text-like data (content-stream operators) and image-like data (noisy
// gradients of RGB pixels), from 64 KiB to 64 MiB, compressed by zlib at its
// default level, it reports MB/s of decompressed output for vellum::inflate
// (which allocates and returns its output) and for zlib's uncompress() and a
// raw-deflate inflate() (into a preallocated buffer), and the ratio of
// vellum's throughput to the faster of the two; then zlib inflating into a
// newly allocated buffer per run (the work vellum::inflate does) and the
// ratio to that. A third data set, noisy
// pixels that deflate barely compresses, is the literal-bound worst case.
//
// Usage: bench_inflate [seconds-per-measurement]  (default 0.5)
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "filter/inflate.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

Bytes text_like(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"the",  "of",     "and",    "to",    "in",     "document", "page",  "stream",
                                       "font", "vellum", "extract", "table", "ruling", "image",    "text",  "between",
                                       "with", "figure", "section", "which", "number", "results",  "model", "data"};
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n + 256);
  char buf[128];
  while (s.size() < n) {
    std::snprintf(buf, sizeof buf, "BT /F%u %u Tf %u.%02u %u.%02u Td (", unsigned(rng() % 4), 8 + unsigned(rng() % 6),
                  unsigned(rng() % 500), unsigned(rng() % 100), unsigned(rng() % 800), unsigned(rng() % 100));
    s += buf;
    for (unsigned w = 4 + rng() % 8; w > 0; --w) {
      s += kWords[rng() % (sizeof kWords / sizeof *kWords)];
      s += ' ';
    }
    s += ") Tj ET\n";
  }
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

// RGB rows of 1024 pixels: smooth gradients with flat patches and sensor
// noise, as in scanned or photographic page images (deflate ratio ~2).
Bytes image_like(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  const size_t row = 3 * 1024;
  for (size_t i = 0; i < n; ++i) {
    const size_t x = (i % row) / 3, y = i / row, c = i % 3;
    const bool flat = ((x / 64) + (y / 64)) % 3 == 0;
    int v = flat ? 240 : int((x * (c + 1) + y * 2) / 8 % 256) + int(rng() % 3) - 1;
    b[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
  }
  return b;
}

Bytes compress_raw(const Bytes& in, int level) {
  z_stream zs{};
  deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&zs, in.size()));
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

Bytes with_zlib_wrapper(const Bytes& in, int level) {
  uLongf len = compressBound(in.size());
  Bytes out(len);
  compress2(out.data(), &len, in.data(), in.size(), level);
  out.resize(len);
  return out;
}

// Best throughput (MB/s of output) of `fn` over repeated runs.
template <class F>
double measure(size_t out_size, double seconds, F&& fn) {
  double best = 1e300;
  const auto stop = Clock::now() + std::chrono::duration<double>(seconds);
  int runs = 0;
  do {
    const auto t0 = Clock::now();
    fn();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    ++runs;
  } while (Clock::now() < stop || runs < 3);
  return double(out_size) / best / 1e6;
}

}  // namespace

// Nearly incompressible pixels (deflate ratio ~1.05): almost all literals,
// the decoder's worst case.
Bytes noisy_image(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  const size_t row = 3 * 1024;
  for (size_t i = 0; i < n; ++i) {
    const size_t x = (i % row) / 3, y = i / row, c = i % 3;
    int v = int((x * (c + 1) + y * 2) / 8 % 256) + int(rng() % 9) - 4;
    b[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
  }
  return b;
}

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 0.5;
  std::printf("%-6s %9s %7s %12s %12s %12s %7s %12s %8s\n", "data", "size", "ratio", "vellum MB/s", "uncompr MB/s",
              "inflate MB/s", "v/zlib", "fresh MB/s", "v/fresh");
  bool ok = true;
  for (int kind = 0; kind < 3; ++kind) {
    for (size_t size : {size_t{64} << 10, size_t{1} << 20, size_t{16} << 20, size_t{64} << 20}) {
      const Bytes plain = kind == 0 ? text_like(size, 1) : kind == 1 ? image_like(size, 2) : noisy_image(size, 3);
      const Bytes raw = compress_raw(plain, Z_DEFAULT_COMPRESSION);
      const Bytes wrapped = with_zlib_wrapper(plain, Z_DEFAULT_COMPRESSION);

      auto check = vellum::inflate(raw);
      if (!check || *check != plain) {
        std::printf("vellum::inflate mismatch on %s %zu\n", kind == 0 ? "text" : kind == 1 ? "image" : "noisy", size);
        ok = false;
        continue;
      }
      size_t sink = 0;
      const double ours = measure(size, seconds, [&] {
        auto r = vellum::inflate(raw);
        sink += r->size();
      });
      Bytes out(size);
      const double unc = measure(size, seconds, [&] {
        uLongf len = out.size();
        uncompress(out.data(), &len, wrapped.data(), wrapped.size());
        sink += len;
      });
      const double inf = measure(size, seconds, [&] {
        z_stream zs{};
        inflateInit2(&zs, -15);
        zs.next_in = const_cast<Bytef*>(raw.data());
        zs.avail_in = static_cast<uInt>(raw.size());
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        inflate(&zs, Z_FINISH);
        sink += zs.total_out;
        inflateEnd(&zs);
      });
      // zlib into a newly allocated buffer each time, as a caller that
      // returns fresh output (like vellum::inflate) would use it: the page
      // faults of new memory are then counted on both sides.
      const double fresh = measure(size, seconds, [&] {
        std::unique_ptr<uint8_t[]> buf(new uint8_t[size]);
        z_stream zs{};
        inflateInit2(&zs, -15);
        zs.next_in = const_cast<Bytef*>(raw.data());
        zs.avail_in = static_cast<uInt>(raw.size());
        zs.next_out = buf.get();
        zs.avail_out = static_cast<uInt>(size);
        inflate(&zs, Z_FINISH);
        sink += zs.total_out + buf[size / 2];
        inflateEnd(&zs);
      });
      std::printf("%-6s %8zuK %6.2fx %12.0f %12.0f %12.0f %6.2fx %12.0f %7.2fx%s\n", kind == 0 ? "text" : kind == 1 ? "image" : "noisy", size >> 10,
                  double(size) / double(raw.size()), ours, unc, inf, ours / std::max(unc, inf), fresh, ours / fresh,
                  sink == 0 ? " (?)" : "");
    }
  }
  return ok ? 0 : 1;
}
