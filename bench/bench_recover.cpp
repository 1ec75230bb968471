// Throughput of the recovery scan (file/recover) on generated files of at
// least 100 MB, and of opening such a file whose cross-reference data is
// gone (the scan plus choosing the trailer).
//
// Files: "objects" is a body of small dictionaries and content streams
// (about 120 bytes per object, 1 in 8 a stream of uncompressed operators),
// ending in a trailer without startxref; "binary" is large streams of random
// bytes (images, fonts: little to find, much to skip); "headers" is nothing
// but `1 0 obj` repeated (the worst case: a header every 8 bytes). Each is
// reported in MB/s of input, the best of a few runs.
//
// Usage: bench_recover [megabytes]  (default 128)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "file/doc.h"
#include "file/recover.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string objects_file(size_t target) {
  std::string s = "%PDF-1.7\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  s += "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n";
  s.reserve(target + 4096);
  char buf[256];
  for (uint32_t num = 3; s.size() < target; ++num) {
    int n;
    if (num % 8 == 0) {
      const char* ops = "BT /F1 12 Tf 72 700 Td (Recovered text line) Tj ET\n";
      n = std::snprintf(buf, sizeof buf, "%u 0 obj\n<< /Length %zu >>\nstream\n%s\nendstream\nendobj\n", num,
                        std::char_traits<char>::length(ops), ops);
    } else {
      n = std::snprintf(buf, sizeof buf,
                        "%u 0 obj\n<< /Type /Annot /Subtype /Link /Rect [0 0 %u 20] /Border [0 0 0] /P %u 0 R >>\n"
                        "endobj\n",
                        num, num % 600, num / 2);
    }
    s.append(buf, static_cast<size_t>(n));
  }
  s += "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
  return s;
}

std::string binary_file(size_t target) {
  std::string s = "%PDF-1.7\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  std::mt19937_64 rng(7);
  const size_t chunk = 1 << 20;
  for (uint32_t num = 3; s.size() < target; ++num) {
    s += std::to_string(num) + " 0 obj\n<< /Length " + std::to_string(chunk) + " >>\nstream\n";
    for (size_t i = 0; i < chunk; i += 8) {
      uint64_t v = rng();
      s.append(reinterpret_cast<const char*>(&v), 8);
    }
    s += "\nendstream\nendobj\n";
  }
  s += "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
  return s;
}

std::string headers_file(size_t target) {
  std::string s = "%PDF-1.7\n";
  while (s.size() < target) s += "1 0 obj ";
  return s;
}

// Best MB/s of `runs` runs of f().
template <class F>
double best_mbps(size_t bytes, int runs, F f) {
  double best = 0;
  for (int r = 0; r < runs; ++r) {
    auto start = Clock::now();
    f();
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    best = std::max(best, bytes / 1e6 / s);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 128;
  const size_t target = mb << 20;
  struct File {
    const char* name;
    std::string data;
  };
  File files[] = {{"objects", objects_file(target)}, {"binary", binary_file(target)}, {"headers", headers_file(target)}};
  std::printf("| file | MB | objects found | scan MB/s | open (rebuild) MB/s |\n| --- | --- | --- | --- | --- |\n");
  for (const File& f : files) {
    vellum::ByteSpan bytes(reinterpret_cast<const uint8_t*>(f.data.data()), f.data.size());
    size_t found = 0;
    double scan = best_mbps(f.data.size(), 3, [&] { found = vellum::scan_file(bytes).entries.size(); });
    bool opened = false;
    double open = best_mbps(f.data.size(), 3, [&] {
      opened = static_cast<bool>(vellum::Document::parse_with_password(bytes, {}, vellum::Reading::Recover));
    });
    std::printf("| %s | %.0f | %zu | %.0f | %.0f%s |\n", f.name, f.data.size() / 1e6, found, scan, open,
                opened ? "" : " (not opened)");
  }
  return 0;
}
