// Image XObjects listed by a page's resources.
//
// Only the resources are consulted: an image is listed once per key of the
// /XObject dictionary (no deduplication), whether or not the page draws it,
// and form XObjects are not entered. An image whose filter chain fails is
// dropped; the chain is run through validate_stream, which answers "does it
// decode" without keeping the decoded samples, since no output carries them.
// The checks of a document share one budget of decoded bytes; past it,
// images are listed unchecked.
#include "page/image.h"

#include <algorithm>
#include <limits>

#include "filter/filter.h"

namespace vellum {
namespace {

ImageFormat format_of_filter(std::string_view filter) {
  if (filter == "DCTDecode") return ImageFormat::Jpeg;
  if (filter == "JPXDecode") return ImageFormat::Jpeg2000;
  if (filter == "CCITTFaxDecode") return ImageFormat::Ccitt;
  if (filter == "JBIG2Decode") return ImageFormat::Jbig2;
  return ImageFormat::Raw;
}

// The encoding is that of the last filter: the earlier ones are undone by the
// filter chain, the last one is what the samples are stored in.
ImageFormat format_of(const Dictionary& dict) {
  const Object* filter = dict.get("Filter");
  if (!filter) filter = dict.get("F");
  if (!filter) return ImageFormat::Raw;
  if (const std::string* name = filter->name_value()) return format_of_filter(*name);
  if (const std::vector<Object>* list = filter->array_value()) {
    if (!list->empty()) {
      if (const std::string* name = list->back().name_value()) return format_of_filter(*name);
    }
  }
  return ImageFormat::Raw;
}

// An unsigned 32-bit entry. Writers that stream an image before they know
// its size store /Height (or /Width) as an indirect object, so references
// are followed; anything but an integer in range counts as absent.
std::optional<uint32_t> u32_of(const Resolver& resolver, const Dictionary& dict, std::string_view key) {
  const Object* entry = dict.get(key);
  if (!entry) return std::nullopt;
  const Object* value = resolver.deref(*entry);
  if (!value || !value->is_int()) return std::nullopt;
  int64_t v = value->as_int();
  if (v < 0 || v > int64_t{std::numeric_limits<uint32_t>::max()}) return std::nullopt;
  return static_cast<uint32_t>(v);
}

std::string color_space_of(const Resolver& resolver, const Dictionary& dict) {
  const Object* cs = dict.get("ColorSpace");
  if (cs && cs->is_ref()) {
    Result<const Object*> loaded = resolver.get(cs->as_ref().num);
    cs = loaded ? *loaded : nullptr;
  }
  if (!cs) return "DeviceRGB";
  if (const std::string* name = cs->name_value()) return *name;
  if (const std::vector<Object>* list = cs->array_value()) {
    if (!list->empty()) {
      if (const std::string* family = list->front().name_value()) return *family;
    }
    return "Unknown";
  }
  return "DeviceRGB";
}

// Whether the image's filters decode, within what is left of the document's
// check budget: when the check runs out of budget rather than of the
// per-stream limit, the image counts as decoding (unchecked).
bool check_image(const Stream& stream, uint64_t& budget) {
  const bool budget_binds = budget < kMaxDecodedStream;
  const uint64_t limit = budget_binds ? budget : kMaxDecodedStream;
  uint64_t produced = 0;
  const Status status = validate_stream(stream.dict, stream.data(), limit, &produced);
  budget -= std::min(produced, budget);
  return status.ok() || (budget_binds && status.error() == stream_too_large());
}

bool image_decodes(const Stream& stream, ImageCheckCache* checked) {
  if (!checked) return validate_stream(stream.dict, stream.data()).ok();
  auto [slot, fresh] = checked->decodes.try_emplace(&stream, false);
  if (fresh) slot->second = checked->budget == 0 || check_image(stream, checked->budget);
  return slot->second;
}

}  // namespace

std::vector<ParsedImage> extract_images(const Resolver& resolver, const Dictionary& resources,
                                        ImageCheckCache* checked) {
  const Object* entry = resources.get("XObject");
  if (!entry) return {};
  Result<const Dictionary*> xobjects = resolver.resolve_dict(*entry);
  if (!xobjects) return {};

  std::vector<ParsedImage> images;
  for (const auto& [key, value] : **xobjects) {
    const Object* obj = &value;
    if (value.is_ref()) {
      Result<const Object*> loaded = resolver.get(value.as_ref().num);
      if (!loaded) continue;
      obj = *loaded;
    }
    const Stream* stream = obj->stream_value();
    if (!stream) continue;
    const std::string* subtype = stream->dict.get_name("Subtype");
    if (!subtype || *subtype != "Image") continue;
    if (!image_decodes(*stream, checked)) continue;

    ParsedImage image;
    image.name = key;
    image.format = format_of(stream->dict);
    image.width = u32_of(resolver, stream->dict, "Width").value_or(0);
    image.height = u32_of(resolver, stream->dict, "Height").value_or(0);
    image.bits_per_component = u32_of(resolver, stream->dict, "BitsPerComponent").value_or(8);
    image.color_space = color_space_of(resolver, stream->dict);
    images.push_back(std::move(image));
  }
  return images;
}

}  // namespace vellum
