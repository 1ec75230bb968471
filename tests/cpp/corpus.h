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

namespace vellum::testing {

// One record of manifest.json, the fields the C++ tests use. The manifest
// is a flat list of objects written one key per field; a light scan is enough.
struct ManifestRecord {
  std::string file;
  std::string xref;        // "table", "stream", "hybrid" or "" (null)
  bool qpdf_ok = false;    // qpdf_check == "ok"
  bool encrypted = false;  // encryption != null
  bool object_streams = false;
  bool robustness = false;
};

inline std::vector<ManifestRecord> manifest() {
  std::vector<ManifestRecord> out;
  if (!corpus_available()) return out;
  auto bytes = read_file(corpus_dir() / "manifest.json");
  std::string text(bytes.begin(), bytes.end());
  auto string_field = [](const std::string& chunk, const std::string& key) -> std::string {
    auto p = chunk.find("\"" + key + "\": ");
    if (p == std::string::npos) return "";
    p += key.size() + 4;
    if (chunk.compare(p, 1, "\"") != 0) return "";
    auto e = chunk.find('"', p + 1);
    return chunk.substr(p + 1, e - p - 1);
  };
  auto raw_field = [](const std::string& chunk, const std::string& key) -> std::string {
    auto p = chunk.find("\"" + key + "\": ");
    if (p == std::string::npos) return "";
    return chunk.substr(p + key.size() + 4, 5);
  };
  size_t pos = 0;
  while ((pos = text.find("\"file\": \"", pos)) != std::string::npos) {
    size_t next = text.find("\"file\": \"", pos + 1);
    std::string chunk = text.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
    ManifestRecord r;
    r.file = string_field(chunk, "file");
    r.xref = string_field(chunk, "xref");
    r.qpdf_ok = string_field(chunk, "qpdf_check") == "ok";
    r.encrypted = raw_field(chunk, "encryption").rfind("null", 0) != 0;
    r.object_streams = raw_field(chunk, "object_streams").rfind("true", 0) == 0;
    r.robustness = raw_field(chunk, "robustness").rfind("true", 0) == 0;
    out.push_back(r);
    pos = next == std::string::npos ? text.size() : next;
  }
  return out;
}

}  // namespace vellum::testing
