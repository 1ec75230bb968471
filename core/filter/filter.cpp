// The filter chain: pairs each filter named by the stream dictionary with its
// parameter slot and runs the decoders in order over one working buffer.
//
// The raw bytes are only read: the first decoding stage reads them in place,
// and a copy is made only when no stage decodes (no filters, or image filters
// that pass the bytes through). validate_stream runs the same chain but, when
// the last decoding stage is Flate, inflates it into a sliding window that
// keeps no output, checking the PNG row types as it goes; errors and their
// order are those of decode_stream.
#include "filter/filter.h"

#include <optional>
#include <vector>

#include "filter/ascii85.h"
#include "filter/asciihex.h"
#include "filter/inflate.h"
#include "filter/lzw.h"
#include "filter/predictor.h"
#include "filter/runlength.h"

namespace vellum {
namespace {

enum class Action : uint8_t { Flate, Lzw, Ascii85, AsciiHex, RunLength, PassThrough, Unsupported };

Action action_of(const std::string& name) {
  if (name == "FlateDecode" || name == "Fl") return Action::Flate;
  if (name == "LZWDecode" || name == "LZW") return Action::Lzw;
  if (name == "ASCII85Decode" || name == "A85") return Action::Ascii85;
  if (name == "ASCIIHexDecode" || name == "AHx") return Action::AsciiHex;
  if (name == "RunLengthDecode" || name == "RL") return Action::RunLength;
  if (name == "DCTDecode" || name == "JPXDecode" || name == "JBIG2Decode" || name == "CCITTFaxDecode")
    return Action::PassThrough;
  return Action::Unsupported;
}

struct Stage {
  Action action;
  const std::string* name;
  const Dictionary* parms;  // nullptr: empty slot
};

std::vector<Stage> stages_of(const Dictionary& dict) {
  std::vector<Stage> stages;
  const Object* filter = dict.get("Filter");
  if (!filter) filter = dict.get("F");
  if (filter && filter->is_name()) {
    stages.push_back(Stage{action_of(filter->as_name()), &filter->as_name(), nullptr});
  } else if (filter && filter->is_array()) {
    for (const Object& o : filter->as_array())
      if (o.is_name()) stages.push_back(Stage{action_of(o.as_name()), &o.as_name(), nullptr});
  }

  const Object* parms = dict.get("DecodeParms");
  if (!parms) parms = dict.get("DP");
  if (parms && parms->is_array()) {
    // One slot per element; surplus slots are ignored, missing ones empty.
    const std::vector<Object>& slots = parms->as_array();
    for (size_t i = 0; i < stages.size() && i < slots.size(); ++i) stages[i].parms = slots[i].dict_or_stream_dict();
  } else if (parms && parms->is_dict() && !stages.empty()) {
    stages[0].parms = &parms->as_dict();  // a single dictionary belongs to the first filter
  }
  return stages;
}

// RFC 1950 header: CM = 8 and FCHECK making the first two bytes a multiple
// of 31. FDICT and the window size are not looked at.
ByteSpan skip_zlib_header(ByteSpan data) {
  if (data.size() >= 2 && (data[0] & 0x0F) == 8 && ((unsigned{data[0]} << 8 | data[1]) % 31) == 0)
    return data.subspan(2);
  return data;
}

bool early_change_of(const Dictionary* parms) {
  if (!parms) return true;
  const Object* v = parms->get("EarlyChange");
  if (!v || !v->is_int()) return true;
  return v->as_int() != 0;
}

Result<Bytes> with_predictor(Result<Bytes> decoded, const Dictionary* parms) {
  if (!decoded || !parms) return decoded;
  if (predictor::params_of(*parms).kind == predictor::Params::Kind::None) return decoded;
  return predictor::apply(*decoded, *parms);
}

// One decoding stage (never PassThrough or Unsupported).
Result<Bytes> run_stage(const Stage& s, ByteSpan in, uint64_t limit, Bytes storage) {
  switch (s.action) {
    case Action::Flate:
      // A Flate stream with no bytes at all holds no data, not corrupt data:
      // writers emit /Length 0 streams for empty pages, and failing them
      // would fail the whole document.
      if (in.empty()) return Bytes{};
      return with_predictor(inflate(skip_zlib_header(in), limit, std::move(storage)), s.parms);
    case Action::Lzw: return with_predictor(lzw_decode(in, early_change_of(s.parms), limit), s.parms);
    case Action::Ascii85: return ascii85_decode(in, limit);
    case Action::AsciiHex: return ascii_hex_decode(in, limit);
    case Action::RunLength: return run_length_decode(in, limit);
    case Action::PassThrough:
    case Action::Unsupported: break;
  }
  return Bytes(in.begin(), in.end());
}

Error unsupported(const Stage& s) { return make_error(ErrorKind::Unsupported, "unsupported filter: " + *s.name); }

// Run the chain. With `validate`, a final Flate stage is only validated and
// the returned bytes are meaningless (empty). `storage` goes to the last
// decoding stage, or holds the raw bytes when nothing decodes.
Result<Bytes> run_chain(const Dictionary& dict, ByteSpan raw, uint64_t limit, bool validate, uint64_t* produced,
                        Bytes storage = {}) {
  uint64_t unused = 0;
  if (!produced) produced = &unused;
  *produced = 0;
  const std::vector<Stage> stages = stages_of(dict);
  // The stages that run: everything before the first unsupported name.
  size_t runnable = 0;
  while (runnable < stages.size() && stages[runnable].action != Action::Unsupported) ++runnable;
  std::optional<size_t> last_decoding;
  for (size_t i = 0; i < runnable; ++i)
    if (stages[i].action != Action::PassThrough) last_decoding = i;

  Bytes work;
  bool decoded = false;  // whether `work` holds a stage's output (else it is `raw`)
  for (size_t i = 0; i < runnable; ++i) {
    const Stage& s = stages[i];
    const ByteSpan in = decoded ? ByteSpan(work) : raw;
    if (s.action == Action::PassThrough) {
      if (in.size() > limit) return stream_too_large();
      continue;
    }
    if (validate && i == *last_decoding && s.action == Action::Flate) {
      uint64_t stride = 0;
      if (s.parms) {
        const predictor::Params p = predictor::params_of(*s.parms);
        if (p.kind == predictor::Params::Kind::Png) stride = p.row_length + 1;
      }
      if (!in.empty()) {
        uint64_t last = 0;
        Status checked = inflate_validate(skip_zlib_header(in), limit, stride, &last);
        *produced += last;
        VELLUM_CHECK(std::move(checked));
      }
      // Later stages are pass-through; they cannot exceed what was validated.
      work.clear();
      decoded = true;
      continue;
    }
    Result<Bytes> out = run_stage(s, in, limit, i == *last_decoding ? std::move(storage) : Bytes{});
    if (!out) {
      if (out.error() == stream_too_large()) *produced += limit;
      return out;
    }
    *produced += out->size();
    work = std::move(*out);
    decoded = true;
  }
  if (runnable < stages.size()) return unsupported(stages[runnable]);
  if (validate) return Bytes{};
  if (!decoded) {
    storage.assign(raw.begin(), raw.end());
    return storage;
  }
  return work;
}

}  // namespace

Result<Bytes> decode_stream(const Dictionary& dict, ByteSpan raw, uint64_t limit) {
  return run_chain(dict, raw, limit, false, nullptr);
}

Result<Bytes> decode_stream(const Dictionary& dict, ByteSpan raw, uint64_t limit, Bytes storage) {
  return run_chain(dict, raw, limit, false, nullptr, std::move(storage));
}

Status validate_stream(const Dictionary& dict, ByteSpan raw, uint64_t limit, uint64_t* produced) {
  VELLUM_CHECK(run_chain(dict, raw, limit, true, produced));
  return Unit{};
}

Status validate_stream(const Dictionary& dict, ByteSpan raw, uint64_t limit) {
  return validate_stream(dict, raw, limit, nullptr);
}

Result<Bytes> decode_stream(const Dictionary& dict, ByteSpan raw) { return decode_stream(dict, raw, kMaxDecodedStream); }

Status validate_stream(const Dictionary& dict, ByteSpan raw) { return validate_stream(dict, raw, kMaxDecodedStream); }

}  // namespace vellum
