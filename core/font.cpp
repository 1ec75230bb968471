#include "font.h"
namespace vellum {
struct WidthMap::Impl {};
void WidthMap::insert(uint32_t, double) {}
void WidthMap::insert_range(uint32_t, uint32_t, double) {}
std::optional<double> WidthMap::find(uint32_t) const { return std::nullopt; }
bool WidthMap::empty() const { return true; }
double Font::show_into(ByteSpan, std::string&, double, double, double, double) const { return 0; }
FontMap load_fonts(const Resolver&, const Dictionary&, FontCache*) { return {}; }
Font load_font(const Resolver&, const Dictionary&) { return {}; }
std::array<uint32_t, 256> simple_encoding(const Resolver&, const Dictionary&) { return {}; }
const std::vector<Object>* resolve_array(const Resolver&, const Dictionary&, std::string_view) { return nullptr; }
void insert_width(WidthMap&, int64_t, const Object&) {}
}  // namespace vellum
