// The page tree. Pages come out in document order with their inherited media
// box, rotation and resources. Every node is visited once: a kid whose
// dictionary was already visited is skipped, whether it was reached by
// reference (a loop in the tree) or stands directly in a /Kids array that is
// itself reached more than once (a shared array would otherwise multiply the
// pages below it at every level, exponentially in the depth). Dictionaries
// are told apart by address, which is stable: they live in the resolver's
// cache. Depth is bounded too, so a hostile tree costs at most one visit per
// dictionary.
#include "page/pagetree.h"

#include <unordered_set>

#include "filter/bounded_growth.h"
#include "filter/filter.h"

namespace vellum {

namespace {

Error object_error(const char* message) { return make_error(ErrorKind::InvalidObject, message); }

const Dictionary& empty_dictionary() {
  static const Dictionary empty;
  return empty;
}

struct Inherited {
  const Object* resources = nullptr;  // unresolved; nullptr at the root (Null)
  std::array<double, 4> media_box{0, 0, 612, 792};
  int rotate = 0;
};

struct Walk {
  const Resolver& resolver;
  std::vector<Page>& pages;
  std::unordered_set<const Dictionary*> visited;
  // /Kids arrays already walked: walking one again would only find visited
  // kids, at a cost of its length every time it is reached.
  std::unordered_set<const std::vector<Object>*> walked_kids;
};

Status walk(Walk& w, const Dictionary& node, const Inherited& inherited, int depth) {
  if (depth > kMaxPageTreeDepth) return object_error("page tree too deep");
  Inherited mine = inherited;

  if (const Object* mb = node.get("MediaBox")) {
    if (const Object* value = w.resolver.deref(*mb); value && value->is_array()) {
      std::array<double, 4> box{};
      size_t count = 0;
      for (const Object& e : value->as_array()) {
        if (!e.is_number()) continue;
        if (count < 4) box[count] = e.as_number();
        ++count;
      }
      if (count == 4) mine.media_box = box;
    }
  }
  if (const Object* res = node.get("Resources")) mine.resources = res;
  if (const Object* rot = node.get("Rotate")) {
    if (const Object* value = w.resolver.deref(*rot); value && value->is_int()) {
      int64_t r = value->as_int() % 360;
      mine.rotate = static_cast<int>(r < 0 ? r + 360 : r);
    }
  }

  if (const Object* kids_entry = node.get("Kids")) {
    // A /Kids reference to an array is legal; it is resolved like any other
    // indirect object (the lookup guards against cycles).
    const Object* kids = kids_entry;
    if (kids_entry->is_ref()) {
      auto got = w.resolver.get(kids_entry->as_ref().num);
      kids = got ? got.value() : nullptr;
    }
    if (!kids || !kids->is_array()) return object_error("/Kids not array");
    if (!w.walked_kids.insert(&kids->as_array()).second) return Unit{};
    for (const Object& kid : kids->as_array()) {
      VELLUM_TRY(const Dictionary* child, w.resolver.resolve_dict(kid));
      if (!w.visited.insert(child).second) continue;
      VELLUM_CHECK(walk(w, *child, mine, depth + 1));
    }
    return Unit{};
  }

  Page page;
  page.dict = &node;
  page.resources = &empty_dictionary();
  if (mine.resources) {
    auto res = w.resolver.resolve_dict(*mine.resources);
    if (res) page.resources = res.value();
  }
  page.media_box = mine.media_box;
  page.rotate = mine.rotate;
  w.pages.push_back(page);
  return Unit{};
}

}  // namespace

Result<std::vector<Page>> collect_pages(const Resolver& resolver, const Dictionary& catalog) {
  const Object* pages_entry = catalog.get("Pages");
  if (!pages_entry) return object_error("catalog has no /Pages");
  VELLUM_TRY(const Dictionary* root, resolver.resolve_dict(*pages_entry));
  std::vector<Page> pages;
  Walk w{resolver, pages, {root}, {}};
  VELLUM_CHECK(walk(w, *root, Inherited{}, 0));
  return pages;
}

namespace {
// A stream's decoded bytes, counted against the document's budget. Where the
// budget has less left than the per-stream limit, running out is reported
// as the budget's failure, not the stream's.
Result<Bytes> decode_counted(const Stream& stream, uint64_t* budget, Bytes storage) {
  if (!budget) return decode_stream(stream.dict, stream.data(), kMaxDecodedStream, std::move(storage));
  const bool budget_binds = *budget < kMaxDecodedStream;
  const uint64_t limit = budget_binds ? *budget : kMaxDecodedStream;
  Result<Bytes> out = decode_stream(stream.dict, stream.data(), limit, std::move(storage));
  // Unfiltered data is not measured by the chain.
  const bool too_large = out ? out->size() > limit : out.error() == stream_too_large();
  if (too_large) return budget_binds ? content_budget_spent() : stream_too_large();
  if (out) *budget -= out->size();
  return out;
}
}  // namespace

Result<Bytes> page_content(const Resolver& resolver, const Dictionary& page, uint64_t* budget, Bytes storage) {
  const Object* contents = page.get("Contents");
  if (!contents) return Bytes{};
  const Object* value = contents;
  if (contents->is_ref()) {
    VELLUM_TRY(const Object* got, resolver.get(contents->as_ref().num));
    value = got;
  }
  if (value->is_stream()) return decode_counted(value->as_stream(), budget, std::move(storage));
  if (!value->is_array()) return Bytes{};
  Bytes out;
  // Parts are joined in one buffer that grows within the budget (see
  // filter/bounded_growth.h), never to twice what it holds.
  const uint64_t joined_limit = budget ? *budget + value->as_array().size() : UINT64_MAX / 2;
  for (const Object& element : value->as_array()) {
    const Object* part = &element;
    if (element.is_ref()) {
      VELLUM_TRY(const Object* got, resolver.get(element.as_ref().num));
      part = got;
    }
    if (!part->is_stream()) continue;
    VELLUM_TRY(Bytes decoded, decode_counted(part->as_stream(), budget, out.empty() ? std::move(storage) : Bytes{}));
    if (out.empty()) {
      out = std::move(decoded);
    } else {
      reserve_within(out, uint64_t{out.size()} + decoded.size() + 1, joined_limit);
      out.insert(out.end(), decoded.begin(), decoded.end());
    }
    out.push_back('\n');
  }
  return out;
}

}  // namespace vellum
