// Access to the shared corpus of real-world PDFs, which lives next to the
// repository (../shared/corpus) and is absent on some machines: tests that
// need it skip themselves.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vellum::testing {

inline std::filesystem::path corpus_dir() {
  if (const char* env = std::getenv("VELLUM_CORPUS")) return env;
  return std::filesystem::path(VELLUM_SOURCE_DIR) / ".." / "shared" / "corpus";
}

inline bool corpus_available() { return std::filesystem::exists(corpus_dir() / "manifest.json"); }

inline std::vector<uint8_t> read_file(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline std::vector<std::filesystem::path> corpus_files() {
  std::vector<std::filesystem::path> out;
  if (!corpus_available()) return out;
  for (auto& e : std::filesystem::directory_iterator(corpus_dir() / "files"))
    if (e.path().extension() == ".pdf") out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace vellum::testing
