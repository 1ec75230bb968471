// Form expansion. A `Do` whose XObject is a form (/Subtype /Form) becomes
//
//   q  <form /Matrix> cm  {F <resources>  ...the form's operators...  Q  }F
//
// in place of the `Do`, the form's own `Do`s expanded the same way, so every
// consumer of the page's operators (text, ruling lines) sees form content in
// drawing order under the right matrix without knowing about forms. The
// pseudo-operators tell the text machine which resources (hence fonts) are in
// force: the form's /Resources, or where it has none the resources in force
// where it is drawn, as older writers expect.
//
// Cost. A form is decoded and parsed once per document (the cache holds up to
// kMaxCachedFormBytes of parsed forms; a form beyond that is decoded again
// on each page that draws it, each decode counting against the content
// budget, as page content shared by pages does). Its operands
// are copied once per page into the page's operand array, and each drawing
// of it costs one Op per operator, referring to that one copy. Drawings
// multiply with nesting (A draws B twice, B draws C twice, ...), so all the
// work forms add, copies and operators, is charged to a budget per page and
// one per document; where a budget ends, the `Do`s that follow are dropped
// and the page's own operators go on. A form still open when the budget ends
// is closed (its saved states restored), so the output stays balanced.
//
// Unbalanced q/Q inside a form stay inside it: a Q that would restore a state
// saved outside the form is dropped, and the states a form leaves saved are
// restored at its end. A form being drawn that is reached again (a cycle) is
// skipped there, as is one nested deeper than kMaxFormDepth.
#include "page/form.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "filter/filter.h"

namespace vellum {

namespace {

// Parsed form content (operators and operands, counted by their fixed
// size) the document cache may keep.
constexpr uint64_t kMaxCachedFormBytes = uint64_t{256} << 20;

uint64_t parsed_size(const ContentOps& content) {
  return content.ops.size() * sizeof(Op) + content.operands.size() * sizeof(Object);
}

Op make_op(std::string_view name, size_t first_operand, size_t operand_count) {
  Op op;
  op.name_len = static_cast<uint8_t>(std::min(name.size(), sizeof op.name));
  std::memcpy(op.name, name.data(), op.name_len);
  op.first_operand = static_cast<uint32_t>(first_operand);
  op.operand_count = static_cast<uint32_t>(operand_count);
  return op;
}

}  // namespace

struct FormCache::Form {
  bool usable = false;  // false: skipped wherever it is drawn
  ContentOps content;
  const Dictionary* resources = nullptr;  // nullptr: the resources in force where drawn
  Object matrix[6];                       // the cm operands
};

struct FormCache::XObjectNames {
  // Keys view the resources' /XObject dictionary, which lives in the
  // resolver's cache; the first of duplicate names wins, as in Dictionary::get.
  std::unordered_map<std::string_view, const Object*> by_name;
};

FormCache::FormCache() = default;
FormCache::~FormCache() = default;

namespace {

using Form = FormCache::Form;

// The form's /Matrix as six cm operands; false when it is present but not six
// numbers.
bool read_matrix(const Resolver& resolver, const Dictionary& dict, Object (&out)[6]) {
  static constexpr int64_t kIdentity[6] = {1, 0, 0, 1, 0, 0};
  for (int i = 0; i < 6; ++i) out[i] = Object::integer(kIdentity[i]);
  const Object* entry = dict.get("Matrix");
  if (!entry) return true;
  const Object* value = resolver.deref(*entry);
  if (!value || !value->is_array() || value->as_array().size() != 6) return false;
  for (int i = 0; i < 6; ++i) {
    const Object* n = resolver.deref(value->as_array()[i]);
    if (!n || !n->is_number()) return false;
    out[i] = *n;
  }
  return true;
}

std::shared_ptr<Form> decode_form(const Resolver& resolver, const Stream& stream, uint64_t* budget) {
  auto form = std::make_shared<Form>();
  if (!read_matrix(resolver, stream.dict, form->matrix)) return form;
  uint64_t limit = kMaxDecodedStream;
  if (budget) limit = std::min(limit, *budget);
  Result<Bytes> bytes = decode_stream(stream.dict, stream.data(), limit);
  if (!bytes || bytes->size() > limit) return form;  // unfiltered data is not measured by the chain
  if (budget) *budget -= bytes->size();
  form->content = parse_content(ByteSpan(bytes->data(), bytes->size()));
  if (form->content.over_budget) {
    form->content = ContentOps();  // skipped like a broken form; keep none of it cached
    return form;
  }
  if (const Object* res = stream.dict.get("Resources")) {
    Result<const Dictionary*> dict = resolver.resolve_dict(*res);
    if (dict) form->resources = *dict;  // a broken /Resources counts as absent
  }
  form->usable = true;
  return form;
}

class Expander {
 public:
  Expander(const Resolver& resolver, FormCache& cache, uint64_t* content_budget)
      : resolver_(resolver), cache_(cache), content_budget_(content_budget) {}

  ExpandedContent run(ContentOps page, const Dictionary& page_resources) {
    ContentOps& out = out_.content;
    out = std::move(page);
    resources_index(&page_resources);
    auto is_do = [](const Op& op) { return op.op() == "Do"; };
    if (std::none_of(out.ops.begin(), out.ops.end(), is_do)) return std::move(out_);
    const std::vector<Op> page_ops = std::move(out.ops);
    out.ops.clear();
    out.ops.reserve(page_ops.size());
    for (const Op& op : page_ops) {
      if (!is_do(op) || !draw(operands_at(out.operands, op, 0), 0, 1)) out.ops.push_back(op);
    }
    return std::move(out_);
  }

 private:
  // A form as placed on this page: where its operands (then its six matrix
  // operands) start in the page's operand array.
  struct Placed {
    std::shared_ptr<const Form> form;
    size_t operand_base = 0;
  };

  static const Object* operands_at(const std::vector<Object>& operands, const Op& op, size_t base) {
    return op.operand_count == 0 ? nullptr : &operands[base + op.first_operand];
  }

  bool spend(uint64_t work) {
    if (work > page_work_left_ || work > cache_.work_left) {
      page_work_left_ = 0;  // nothing more is entered on this page
      return false;
    }
    page_work_left_ -= work;
    cache_.work_left -= work;
    return true;
  }

  // The index of `resources` in out_.resources, adding it (and the integer
  // operand that names it) the first time.
  size_t resources_index(const Dictionary* resources) {
    auto [it, added] = index_of_.try_emplace(resources, out_.resources.size());
    if (added) {
      out_.resources.push_back(resources);
      index_operand_.push_back(out_.content.operands.size());
      out_.content.operands.push_back(Object::integer(static_cast<int64_t>(it->second)));
    }
    return it->second;
  }

  const FormCache::XObjectNames& xobjects_of(const Dictionary* resources) {
    std::unique_ptr<FormCache::XObjectNames>& names = cache_.names[resources];
    if (!names) {
      names = std::make_unique<FormCache::XObjectNames>();
      if (const Object* entry = resources->get("XObject")) {
        Result<const Dictionary*> dir = resolver_.resolve_dict(*entry);
        if (dir)
          for (const auto& [name, value] : **dir) names->by_name.try_emplace(name, &value);
      }
    }
    return *names;
  }

  // The form stream named by `name` in `resources`, or nullptr when the name
  // is no form there.
  const Stream* form_stream(const Object* name, const Dictionary* resources) {
    if (!name || !name->is_name()) return nullptr;
    const auto& by_name = xobjects_of(resources).by_name;
    auto it = by_name.find(name->as_name());
    if (it == by_name.end()) return nullptr;
    const Object* target = resolver_.deref(*it->second);
    if (!target || !target->is_stream()) return nullptr;
    const Stream& stream = target->as_stream();
    const Object* subtype = stream.dict.get("Subtype");
    if (subtype) subtype = resolver_.deref(*subtype);
    if (!subtype || !subtype->is_name() || subtype->as_name() != "Form") return nullptr;
    return &stream;
  }

  std::shared_ptr<const Form> load(const Stream* stream) {
    if (auto hit = cache_.forms.find(stream); hit != cache_.forms.end()) return hit->second;
    std::shared_ptr<Form> form = decode_form(resolver_, *stream, content_budget_);
    const uint64_t size = parsed_size(form->content);
    if (cache_.cached_bytes + size <= kMaxCachedFormBytes) {
      cache_.cached_bytes += size;
      cache_.forms.emplace(stream, form);
    }
    return form;
  }

  // The form placed on this page, or nullptr when it cannot be (broken, or
  // no budget for copying its operands).
  const Placed* place(const Stream* stream) {
    if (auto hit = placed_.find(stream); hit != placed_.end()) return &hit->second;
    std::shared_ptr<const Form> form = load(stream);
    if (!form->usable) return nullptr;
    std::vector<Object>& operands = out_.content.operands;
    const size_t copies = form->content.operands.size() + 6;
    if (operands.size() + copies > std::numeric_limits<uint32_t>::max() || !spend(copies)) return nullptr;
    Placed placed{form, operands.size()};
    operands.insert(operands.end(), form->content.operands.begin(), form->content.operands.end());
    operands.insert(operands.end(), std::begin(form->matrix), std::end(form->matrix));
    return &placed_.emplace(stream, std::move(placed)).first->second;
  }

  // Expands the form that `name` names in resources `in_force`, drawn at
  // nesting `depth` (1 for a form the page draws). False when it is not a
  // form or is skipped: the caller then keeps the Do.
  bool draw(const Object* name, size_t in_force, int depth) {
    if (depth > kMaxFormDepth || page_work_left_ == 0) return false;
    const Stream* stream = form_stream(name, out_.resources[in_force]);
    if (!stream || std::find(active_.begin(), active_.end(), stream) != active_.end()) return false;
    const Placed* placed = place(stream);
    // The wrapper: q, cm, {F before; Q, }F after.
    if (!placed || !spend(5)) return false;
    const Form& form = *placed->form;
    const size_t base = placed->operand_base;
    const size_t inside = form.resources ? resources_index(form.resources) : in_force;

    std::vector<Op>& ops = out_.content.ops;
    ops.push_back(make_op("q", 0, 0));
    ops.push_back(make_op("cm", base + form.content.operands.size(), 6));
    ops.push_back(make_op(kEnterForm, index_operand_[inside], 1));
    active_.push_back(stream);
    size_t saved = 0;  // q minus Q inside the form so far
    for (const Op& op : form.content.ops) {
      if (!spend(1)) break;
      std::string_view name_of_op = op.op();
      if (name_of_op == "Do" && draw(operands_at(out_.content.operands, op, base), inside, depth + 1)) continue;
      if (name_of_op == "q") {
        ++saved;
      } else if (name_of_op == "Q") {
        if (saved == 0) continue;
        --saved;
      }
      Op rebased = op;
      rebased.first_operand = static_cast<uint32_t>(base + op.first_operand);
      ops.push_back(rebased);
    }
    active_.pop_back();
    ops.insert(ops.end(), saved + 1, make_op("Q", 0, 0));
    ops.push_back(make_op(kLeaveForm, 0, 0));
    return true;
  }

  const Resolver& resolver_;
  FormCache& cache_;
  uint64_t* content_budget_;
  ExpandedContent out_;
  std::unordered_map<const Dictionary*, size_t> index_of_;
  std::vector<size_t> index_operand_;  // by resources index: its integer operand
  std::unordered_map<const Stream*, Placed> placed_;
  std::vector<const Stream*> active_;  // the forms being drawn, outermost first
  uint64_t page_work_left_ = kMaxPageFormWork;
};

}  // namespace

ExpandedContent expand_forms(ContentOps page, const Dictionary& page_resources, const Resolver& resolver,
                             FormCache& cache, uint64_t* content_budget) {
  return Expander(resolver, cache, content_budget).run(std::move(page), page_resources);
}

std::vector<std::shared_ptr<const FontMap>> font_maps(const Resolver& resolver,
                                                      std::span<const Dictionary* const> resources,
                                                      FontCache& cache) {
  std::vector<std::shared_ptr<const FontMap>> maps;
  maps.reserve(resources.size());
  for (const Dictionary* res : resources) maps.push_back(page_fonts(resolver, *res, cache));
  return maps;
}

}  // namespace vellum
