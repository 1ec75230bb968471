// The standard security handler. Key derivation (Algorithms A to E) and the
// per-object decryption of strings and streams.
//
// libcrypto is used only through its EVP interfaces. The revision 6 hash runs
// at least 64 rounds of AES-128-CBC plus a SHA-2 digest over up to 64 * 239
// bytes, so it reuses one cipher and one digest context for all rounds, with
// the round buffers sized up front.
#include "file/crypt.h"

#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace vellum {

namespace {

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

ByteSpan span_of(const std::string& s) { return as_bytes(s); }

// One-shot digest of the concatenation of `parts`; false on a library failure.
bool digest_parts(EVP_MD_CTX* ctx, const EVP_MD* md, std::initializer_list<ByteSpan> parts, uint8_t* out,
                  unsigned* out_len) {
  if (EVP_DigestInit_ex(ctx, md, nullptr) != 1) return false;
  for (ByteSpan part : parts)
    if (!part.empty() && EVP_DigestUpdate(ctx, part.data(), part.size()) != 1) return false;
  return EVP_DigestFinal_ex(ctx, out, out_len) == 1;
}

crypt::Md5Digest md5_parts(std::initializer_list<ByteSpan> parts) {
  crypt::Md5Digest out{};
  MdCtx ctx(EVP_MD_CTX_new());
  unsigned len = 0;
  if (ctx) digest_parts(ctx.get(), EVP_md5(), parts, out.data(), &len);
  return out;
}

Bytes sha256_parts(std::initializer_list<ByteSpan> parts) {
  Bytes out(32);
  MdCtx ctx(EVP_MD_CTX_new());
  unsigned len = 0;
  if (!ctx || !digest_parts(ctx.get(), EVP_sha256(), parts, out.data(), &len)) return {};
  return out;
}

// CBC without padding over whole blocks; `out` must hold in.size() bytes.
bool cbc_nopad(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, bool encrypt, const uint8_t* key, const uint8_t* iv,
               ByteSpan in, uint8_t* out) {
  if (in.size() > static_cast<size_t>(INT_MAX)) return false;  // the interface counts in int
  if (EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv, encrypt ? 1 : 0) != 1) return false;
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  int len = 0;
  if (!in.empty() && EVP_CipherUpdate(ctx, out, &len, in.data(), static_cast<int>(in.size())) != 1) return false;
  int tail = 0;
  return EVP_CipherFinal_ex(ctx, out + len, &tail) == 1 && static_cast<size_t>(len + tail) == in.size();
}

// The AES string and stream format: a 16-byte IV, whole blocks of ciphertext
// and padding of 1 to 16 bytes that each hold the pad length. Anything else
// comes back unchanged.
Bytes aes_cbc_unpad(const EVP_CIPHER* cipher, size_t key_size, ByteSpan key, ByteSpan data) {
  Bytes unchanged(data.begin(), data.end());
  if (data.size() <= 16 || data.size() % 16 != 0) return unchanged;
  if (key.size() != key_size) return unchanged;
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return unchanged;
  Bytes plain(data.size() - 16);
  if (!cbc_nopad(ctx.get(), cipher, false, key.data(), data.data(), data.subspan(16), plain.data())) return unchanged;
  const uint8_t pad = plain.back();
  if (pad < 1 || pad > 16) return unchanged;
  for (size_t i = plain.size() - pad; i < plain.size(); ++i)
    if (plain[i] != pad) return unchanged;
  plain.resize(plain.size() - pad);
  return plain;
}

Bytes padded_password(ByteSpan password) {
  const size_t take = std::min<size_t>(password.size(), 32);
  Bytes out(password.begin(), password.begin() + take);
  out.insert(out.end(), crypt::kPasswordPadding.begin(), crypt::kPasswordPadding.begin() + (32 - take));
  return out;
}

Bytes xor_key(ByteSpan key, uint8_t x) {
  Bytes out(key.begin(), key.end());
  for (uint8_t& b : out) b ^= x;
  return out;
}

// One revision 5/6 hash variant: the single SHA-256 of revision 5 files or
// the iterated hash of revision 6.
using R6Hash = Bytes (*)(ByteSpan, ByteSpan, ByteSpan);

bool same_prefix(ByteSpan hash, ByteSpan stored, size_t n) {
  return hash.size() >= n && stored.size() >= n && std::equal(hash.begin(), hash.begin() + n, stored.begin());
}

bool bytes_of(const Object* o, Bytes& out) {
  if (!o || !o->is_string()) return false;
  const std::string& s = o->as_string();
  out.assign(s.begin(), s.end());
  return true;
}

CryptMethod method_from(const Dictionary& encrypt) {
  const std::optional<int64_t> v = encrypt.get_int("V");
  if (v == 5) return CryptMethod::Aes256;
  if (v != 4) return CryptMethod::Rc4;
  const Object* cf = encrypt.get("CF");
  const Dictionary* filters = cf ? cf->dict_or_stream_dict() : nullptr;
  const Object* std_cf = filters ? filters->get("StdCF") : nullptr;
  const Dictionary* std_dict = std_cf ? std_cf->dict_or_stream_dict() : nullptr;
  const std::string* cfm = std_dict ? std_dict->get_name("CFM") : nullptr;
  if (!cfm) return CryptMethod::Rc4;
  if (*cfm == "AESV3") return CryptMethod::Aes256;
  if (*cfm == "AESV2") return CryptMethod::Aes128;
  return CryptMethod::Rc4;
}

}  // namespace

// ---------------------------------------------------------------- primitives

Bytes rc4(ByteSpan key, ByteSpan data) {
  Bytes out(data.begin(), data.end());
  if (key.empty()) return out;
  std::array<uint8_t, 256> s;
  for (size_t i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (size_t i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + key[i % key.size()]);
    std::swap(s[i], s[j]);
  }
  uint8_t a = 0;
  uint8_t b = 0;
  for (uint8_t& byte : out) {
    a = static_cast<uint8_t>(a + 1);
    b = static_cast<uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    byte ^= s[static_cast<uint8_t>(s[a] + s[b])];
  }
  return out;
}

namespace crypt {

Md5Digest md5_of(ByteSpan data) { return md5_parts({data}); }

Md5Digest md5_iterations(const Md5Digest& digest, size_t n, int64_t r) {
  Md5Digest out = digest;
  if (r < 3) return out;
  const size_t take = std::min<size_t>(n, out.size());
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx) return out;
  unsigned len = 0;
  for (int i = 0; i < 50; ++i) {
    Md5Digest next{};
    if (!digest_parts(ctx.get(), EVP_md5(), {ByteSpan(out.data(), take)}, next.data(), &len)) return out;
    out = next;
  }
  return out;
}

Bytes sha256_of(ByteSpan data) { return sha256_parts({data}); }

Bytes hash_r5(ByteSpan password, ByteSpan salt, ByteSpan extra) { return sha256_parts({password, salt, extra}); }

Bytes hash_r6(ByteSpan password, ByteSpan salt, ByteSpan extra) {
  CipherCtx cctx(EVP_CIPHER_CTX_new());
  MdCtx mctx(EVP_MD_CTX_new());
  if (!cctx || !mctx) return {};

  // K is 32, 48 or 64 bytes; K1 is 64 repetitions of (password, K, extra).
  std::array<uint8_t, 64> k{};
  unsigned k_len = 0;
  if (!digest_parts(mctx.get(), EVP_sha256(), {password, salt, extra}, k.data(), &k_len)) return {};
  const size_t max_unit = password.size() + k.size() + extra.size();
  Bytes k1(64 * max_unit);
  Bytes e(64 * max_unit);
  const EVP_MD* by_remainder[3] = {EVP_sha256(), EVP_sha384(), EVP_sha512()};

  for (int round = 0;; ++round) {
    const size_t unit = password.size() + k_len + extra.size();
    uint8_t* w = k1.data();
    if (!password.empty()) std::memcpy(w, password.data(), password.size());
    std::memcpy(w + password.size(), k.data(), k_len);
    if (!extra.empty()) std::memcpy(w + password.size() + k_len, extra.data(), extra.size());
    for (size_t rep = 1; rep < 64; ++rep) std::memcpy(w + rep * unit, w, unit);
    const ByteSpan k1_span(w, 64 * unit);  // a multiple of 16: unit * 64

    if (!cbc_nopad(cctx.get(), EVP_aes_128_cbc(), true, k.data(), k.data() + 16, k1_span, e.data())) return {};
    // The first 16 bytes of E as a big-endian number modulo 3 equal the sum
    // of those bytes modulo 3, since 256 leaves remainder 1.
    unsigned sum = 0;
    for (size_t i = 0; i < 16; ++i) sum += e[i];
    if (!digest_parts(mctx.get(), by_remainder[sum % 3], {ByteSpan(e.data(), k1_span.size())}, k.data(), &k_len))
      return {};
    const int last = e[k1_span.size() - 1];
    if (round >= 63 && last <= round - 31) break;
  }
  return Bytes(k.begin(), k.begin() + 32);
}

Bytes aes256_cbc_nopad(ByteSpan key, ByteSpan data) {
  if (key.size() != 32 || data.size() % 16 != 0) return {};
  if (data.empty()) return {};
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return {};
  static constexpr uint8_t kZeroIv[16] = {};
  Bytes out(data.size());
  if (!cbc_nopad(ctx.get(), EVP_aes_256_cbc(), false, key.data(), kZeroIv, data, out.data())) return {};
  return out;
}

// ---------------------------------------------------------------- Params

size_t Params::key_len() const {
  const int64_t n = length / 8;
  if (n < 1) return 5;
  if (n > 16) return 16;
  return static_cast<size_t>(n);
}

Bytes Params::key_from_user_pw(ByteSpan id, ByteSpan password) const {
  const Bytes padded = padded_password(password);
  const uint32_t p32 = static_cast<uint32_t>(p);
  const uint8_t p_le[4] = {static_cast<uint8_t>(p32), static_cast<uint8_t>(p32 >> 8), static_cast<uint8_t>(p32 >> 16),
                           static_cast<uint8_t>(p32 >> 24)};
  static constexpr uint8_t kNoMetadata[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  const ByteSpan metadata = (r >= 4 && !encrypt_metadata) ? ByteSpan(kNoMetadata) : ByteSpan();
  const size_t n = key_len();
  const Md5Digest digest = md5_iterations(md5_parts({padded, o, ByteSpan(p_le), id, metadata}), n, r);
  return Bytes(digest.begin(), digest.begin() + n);
}

bool Params::user_validates(ByteSpan key, ByteSpan id) const {
  if (u.size() < 16) return false;
  if (r < 3) return same_prefix(rc4(key, kPasswordPadding), u, 16);
  const Md5Digest h = md5_parts({kPasswordPadding, id});
  Bytes x = rc4(key, h);
  for (uint8_t i = 1; i <= 19; ++i) x = rc4(xor_key(key, i), x);
  return same_prefix(x, u, 16);
}

Bytes Params::file_key_r2_to_r4(ByteSpan id, ByteSpan password) const {
  Bytes user_key = key_from_user_pw(id, password);
  if (user_validates(user_key, id)) return user_key;

  // Algorithm 7: recover the user password from /O with the owner password.
  const size_t n = key_len();
  const Md5Digest d = md5_iterations(md5_of(padded_password(password)), 16, r);
  const ByteSpan rc4_key(d.data(), n);
  Bytes user_pw;
  if (r < 3) {
    user_pw = rc4(rc4_key, o);
  } else {
    user_pw = o;
    for (int i = 19; i >= 0; --i) user_pw = rc4(xor_key(rc4_key, static_cast<uint8_t>(i)), user_pw);
  }
  Bytes owner_key = key_from_user_pw(id, user_pw);
  if (user_validates(owner_key, id)) return owner_key;
  return user_key;
}

std::optional<Bytes> Params::file_key_r5_r6(ByteSpan password) const {
  if (u.size() < 48) return std::nullopt;
  const ByteSpan pw = password.first(std::min(password.size(), kMaxPasswordR6));
  const ByteSpan uspan(u);
  const ByteSpan ospan(o);
  // Revision 5 files as written use one SHA-256; the iterated revision 6
  // hash is tried second for revision 5 files that use it.
  static constexpr R6Hash kR5[] = {hash_r5, hash_r6};
  static constexpr R6Hash kR6[] = {hash_r6};
  const std::span<const R6Hash> variants = r == 5 ? std::span<const R6Hash>(kR5) : std::span<const R6Hash>(kR6);

  for (R6Hash hash : variants) {
    if (same_prefix(hash(pw, uspan.subspan(32, 8), {}), uspan, 32))
      return aes256_cbc_nopad(hash(pw, uspan.subspan(40, 8), {}), ue);
  }
  if (o.size() < 48) return std::nullopt;
  const ByteSpan u48 = uspan.first(48);
  for (R6Hash hash : variants) {
    if (same_prefix(hash(pw, ospan.subspan(32, 8), u48), ospan, 32))
      return aes256_cbc_nopad(hash(pw, ospan.subspan(40, 8), u48), oe);
  }
  return std::nullopt;
}

}  // namespace crypt

// ---------------------------------------------------------------- Decryptor

namespace {

// The parts of a usable encryption dictionary, before any password is tried.
struct EncryptSetup {
  crypt::Params params;
  Decryptor base;  // method and Identity crypt filters; no key yet
};

std::optional<EncryptSetup> read_setup(const Dictionary& encrypt) {
  if (encrypt.empty()) return std::nullopt;
  const std::string* filter = encrypt.get_name("Filter");
  if (!filter || *filter != "Standard") return std::nullopt;
  EncryptSetup out;
  crypt::Params& params = out.params;
  const std::optional<int64_t> r = encrypt.get_int("R");
  if (!r) return std::nullopt;
  params.r = *r;
  params.length = encrypt.get_int("Length").value_or(40);
  if (!bytes_of(encrypt.get("O"), params.o) || !bytes_of(encrypt.get("U"), params.u)) return std::nullopt;
  bytes_of(encrypt.get("OE"), params.oe);
  bytes_of(encrypt.get("UE"), params.ue);
  const std::optional<int64_t> p = encrypt.get_int("P");
  if (!p) return std::nullopt;
  params.p = *p;
  const Object* metadata = encrypt.get("EncryptMetadata");
  params.encrypt_metadata = !(metadata && metadata->is_bool() && !metadata->as_bool());

  out.base.method_ = method_from(encrypt);
  // Crypt filters named Identity store strings or streams in clear.
  const std::optional<int64_t> v = encrypt.get_int("V");
  if (v == 4 || v == 5) {
    const std::string* strf = encrypt.get_name("StrF");
    const std::string* stmf = encrypt.get_name("StmF");
    out.base.strings_identity_ = strf && *strf == "Identity";
    out.base.streams_identity_ = stmf && *stmf == "Identity";
  }
  return out;
}

// Whether the dictionary can tell a right password from a wrong one: a
// revision we implement, a /V we know, and a /U (and for revisions 5 and 6
// its salts) long enough to check against. Anything else keeps the lenient
// reading, since such a file may still have readable parts.
bool can_check_password(const Dictionary& encrypt, const crypt::Params& params) {
  const std::optional<int64_t> v = encrypt.get_int("V");
  if (!v || (*v != 1 && *v != 2 && *v != 4 && *v != 5)) return false;
  if (params.r < 2 || params.r > 6) return false;
  return params.u.size() >= (params.r >= 5 ? 48u : 16u);
}

}  // namespace

std::optional<Bytes> crypt::Params::validated_key(ByteSpan id, ByteSpan password) const {
  if (r >= 5) return file_key_r5_r6(password);
  Bytes key = file_key_r2_to_r4(id, password);
  if (!user_validates(key, id)) return std::nullopt;
  return key;
}

std::optional<Decryptor> Decryptor::from_encrypt(const Dictionary& encrypt, ByteSpan id, ByteSpan password) {
  std::optional<EncryptSetup> setup = read_setup(encrypt);
  if (!setup) return std::nullopt;
  Decryptor out = std::move(setup->base);
  if (setup->params.r >= 5) {
    std::optional<Bytes> key = setup->params.file_key_r5_r6(password);
    if (!key) return std::nullopt;
    out.key_ = std::move(*key);
    return out;
  }
  out.key_ = setup->params.file_key_r2_to_r4(id, password);
  return out;
}

Result<std::optional<Decryptor>> Decryptor::open(const Dictionary& encrypt, ByteSpan id, ByteSpan password) {
  std::optional<EncryptSetup> setup = read_setup(encrypt);
  if (!setup || !can_check_password(encrypt, setup->params)) return from_encrypt(encrypt, id, password);
  std::optional<Bytes> key = setup->params.validated_key(id, password);
  // A wrong password on a file that anyone may read (its user password is
  // empty) opens it as if no password had been given.
  if (!key && !password.empty()) key = setup->params.validated_key(id, {});
  if (!key) {
    return make_error(ErrorKind::InvalidPassword, password.empty()
                                                      ? "document is encrypted; a password is needed"
                                                      : "password is neither the user nor the owner password");
  }
  Decryptor out = std::move(setup->base);
  out.key_ = std::move(*key);
  return std::optional<Decryptor>(std::move(out));
}

Bytes Decryptor::object_key(ByteSpan file_key, uint32_t num, uint16_t gen, bool aes) {
  const uint8_t id[5] = {static_cast<uint8_t>(num), static_cast<uint8_t>(num >> 8), static_cast<uint8_t>(num >> 16),
                         static_cast<uint8_t>(gen), static_cast<uint8_t>(gen >> 8)};
  static constexpr uint8_t kSalt[4] = {'s', 'A', 'l', 'T'};
  const crypt::Md5Digest digest = md5_parts({file_key, ByteSpan(id), aes ? ByteSpan(kSalt) : ByteSpan()});
  const size_t n = std::min<size_t>(file_key.size() + 5, digest.size());
  return Bytes(digest.begin(), digest.begin() + n);
}

bool Decryptor::passes_through(bool strings) const {
  // An empty file key (unusable /UE or /OE) deciphers nothing, whatever the
  // method; an Identity crypt filter stores its kind of data in clear.
  return key_.empty() || (strings ? strings_identity_ : streams_identity_);
}

Bytes Decryptor::decrypt_bytes(uint32_t num, uint16_t gen, ByteSpan data, bool strings) const {
  if (data.empty() || passes_through(strings)) return Bytes(data.begin(), data.end());
  switch (method_) {
    case CryptMethod::Rc4: return rc4(object_key(key_, num, gen, false), data);
    case CryptMethod::Aes128: return aes_cbc_unpad(EVP_aes_128_cbc(), 16, object_key(key_, num, gen, true), data);
    case CryptMethod::Aes256: return aes_cbc_unpad(EVP_aes_256_cbc(), 32, key_, data);
  }
  return Bytes(data.begin(), data.end());
}

Object Decryptor::decrypt_object(uint32_t num, uint16_t gen, Object obj) const {
  switch (obj.type()) {
    case Object::Type::String: {
      const Bytes plain = decrypt_bytes(num, gen, span_of(obj.as_string()), true);
      obj.as_string_mut().assign(plain.begin(), plain.end());
      return obj;
    }
    case Object::Type::Array:
      for (Object& item : obj.as_array_mut()) item = decrypt_object(num, gen, std::move(item));
      return obj;
    case Object::Type::Dictionary:
      obj.as_dict_mut() = decrypt_dict(num, gen, std::move(obj.as_dict_mut()));
      return obj;
    case Object::Type::Stream: {
      Stream& stream = obj.as_stream_mut();
      stream.dict = decrypt_dict(num, gen, std::move(stream.dict));
      if (!passes_through(false)) stream.set_owned(decrypt_bytes(num, gen, stream.data(), false));
      return obj;
    }
    default: return obj;
  }
}

// Dictionary keys are unique, so decrypting the values in place gives the
// same dictionary as re-inserting every pair, in linear time.
Dictionary Decryptor::decrypt_dict(uint32_t num, uint16_t gen, Dictionary dict) const {
  for (Dictionary::Entry& entry : dict.entries_mut()) entry.second = decrypt_object(num, gen, std::move(entry.second));
  return dict;
}

}  // namespace vellum
