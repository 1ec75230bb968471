// Tests of the standard security handler: published vectors, values taken
// from real encrypted files (their /U, /O, /UE, /OE and /Perms entries with
// the passwords the files were made with), the encryption dictionary's
// entries, and decryption against libcrypto's one-shot calls. Whole files
// that pikepdf encrypted, with random passwords among them, are read in
// tests/test_encryption.py.
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "file/crypt.h"
#include "test_util.h"

namespace vellum {
namespace {

using testing::bytes;
using testing::hex;
Bytes cat(std::initializer_list<ByteSpan> parts) {
  Bytes out;
  for (ByteSpan p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes sub(const Bytes& b, size_t from, size_t n) { return Bytes(b.begin() + from, b.begin() + from + n); }
Object str(ByteSpan b) { return Object::string(std::string(b.begin(), b.end())); }
using testing::dict;
using testing::nm;
using testing::num;

// ---------------------------------------------------------------- libcrypto one-shot calls

// AES-CBC encryption in one call with the library's own padding; `pad` false
// drops the padding block it adds.
Bytes aes_cbc_encrypt_ref(const EVP_CIPHER* cipher, ByteSpan key, ByteSpan iv, ByteSpan data, bool pad) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(data.size() + 16);
  int n = 0, tail = 0;
  EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.data());
  EVP_EncryptUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + n, &tail);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(pad ? n + tail : data.size());
  return out;
}

Bytes random_bytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// ---------------------------------------------------------------- primitives

TEST(Rc4, PublishedVectors) {
  struct Case {
    std::string key, plain, cipher_hex;
  } cases[] = {
      {"Key", "Plaintext", "bbf316e8d940af0ad3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rc4(bytes(c.key), bytes(c.plain)), hex(c.cipher_hex)) << c.key;
    EXPECT_EQ(rc4(bytes(c.key), hex(c.cipher_hex)), bytes(c.plain)) << c.key;
  }
  // RFC 6229, 40-bit key 0102030405: keystream bytes 0..15.
  EXPECT_EQ(rc4(hex("0102030405"), Bytes(16, 0)), hex("b2396305f03dc027ccc3524a0a1118a8"));
  EXPECT_EQ(rc4({}, bytes("abc")), bytes("abc"));
}

TEST(Aes256CbcNoPad, NistVectorWithZeroIvAndRejects) {
  // SP 800-38A F.2.6 (CBC-AES256), IV 000102..0f. With a zero IV the first
  // plaintext block comes out XORed with that IV; the second is unaffected.
  const Bytes key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const Bytes ct = hex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d");
  EXPECT_EQ(crypt::aes256_cbc_nopad(key, ct), hex("6bc0bce12a459991e134741a7f9e1925ae2d8a571e03ac9c9eb76fac45af8e51"));
  EXPECT_TRUE(crypt::aes256_cbc_nopad(sub(key, 0, 31), ct).empty());
  EXPECT_TRUE(crypt::aes256_cbc_nopad(key, sub(ct, 0, 17)).empty());
}

// Keys written by other programs. For revisions 5 and 6 the key is confirmed
// independently through /Perms, whose AES-256-ECB decryption under the file
// key holds P (little-endian) in bytes 0-3 and "adb" in bytes 9-11.
struct RealR6 {
  const char* name;
  int r;
  const char* user;
  const char* owner;  // nullptr when unpublished
  const char* o;
  const char* u;
  const char* oe;
  const char* ue;
  const char* perms;
  int64_t p;
};

const RealR6 kRealR6[] = {
    {"r6-both", 6, "foo", "bar",
     "8f9f8dd3d4f4d835ca81943e9fe5b0ecb110a10e325ab37a6579c5d410bdc4f02684fbabe4071e769c70cabef205a224",
     "00f37f3c07853692eb4ab62259c20785463da68741ce291015d4f62f43337a89b52bdd4e4b351f690c550588f95aac59",
     "7456be56d9d27d5a21ecb57938db8a27cfdd93f0ecddba041b7251d6277cadf8",
     "6c02c98c63bcdea0b5433d9bd8d90b48390dd043804507c1f7024453e90790b2", "c12833b766bb92226f0f963e72f8a1a9", -4},
    // /O and /U padded with zeros to 127 bytes (see dict_of): only U[0..48] is hashed.
    {"r6-127-byte-u", 6, "view", "master",
     "3dec4da2ebc9ce7f36a48ebb50c59692097cc73e60c02dd697ede933130337eb5d1eabe88863dd415f73175c9aa777be",
     "2fa09f7750947a91aa85899f3197fd0d88ff8ad743c962030fa4ae61662bcf632bd3a8dad2ea7bd18e696b705ee7bf5f",
     "dbe23f220ee17fc7079a80fc8df67c450bb5f69d488ca607315e7102a3235aec",
     "03506811fe2544e3bbc945feaa9bba18fb4a96961e1056b20397cc3b6891d6cd", "711a56949c0f9f11307e8405063bcfed", -3076},
    // Revision 5 as written in practice: one SHA-256.
    {"r5-single-sha", 5, "baz", "foo",
     "c57e3c2eda16be5b842ec6de91316f7d1893df7a06159f4e9bc331dcfca1cbb6d73873ec17f7c10e27b8d2cf38c972c7",
     "b3ec8a57ee4c3f2cbc4226e0590188d8e956ce332b67f8ad1ab75537e5efb49558881c7cf9badf3bb407b2135433f9bc",
     "5bce31c2255a315180dc0e944879d5de2d62e3230f4cbf0a36d3b82b51fa50e7",
     "79d14e4809c35d601061bdd8c654c3cd7d49d051ad21c4c309043903e2f71f08", "570003d1b373c91d135899a5c48137fd", -4},
};

Dictionary dict_of(const RealR6& f, int64_t v = 5) {
  Bytes o = hex(f.o), u = hex(f.u);
  if (std::string_view(f.name) == "r6-127-byte-u") o.resize(127), u.resize(127);
  return dict({{"Filter", nm("Standard")}, {"V", num(v)}, {"R", num(f.r)}, {"Length", num(256)}, {"O", str(o)},
               {"U", str(u)}, {"OE", str(hex(f.oe))}, {"UE", str(hex(f.ue))}, {"P", num(f.p)}});
}

void expect_perms(const RealR6& f, const Bytes& key) {
  ASSERT_EQ(key.size(), 32u) << f.name;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(32);
  int n = 0;
  EVP_DecryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  const Bytes perms = hex(f.perms);
  EVP_DecryptUpdate(ctx, out.data(), &n, perms.data(), 16);
  EVP_CIPHER_CTX_free(ctx);
  const uint32_t p32 = static_cast<uint32_t>(f.p);
  EXPECT_EQ(sub(out, 0, 4), (Bytes{uint8_t(p32), uint8_t(p32 >> 8), uint8_t(p32 >> 16), uint8_t(p32 >> 24)})) << f.name;
  EXPECT_EQ(sub(out, 9, 3), bytes("adb")) << f.name;
}

TEST(FileKeyR5R6, RealFilesUserAndOwnerPasswords) {
  for (const RealR6& f : kRealR6) {
    const Dictionary d = dict_of(f);
    auto user = Decryptor::from_encrypt(d, {}, bytes(f.user));
    ASSERT_TRUE(user) << f.name;
    EXPECT_EQ(user->method(), CryptMethod::Aes256);
    expect_perms(f, user->key());
    if (f.owner) {
      auto owner = Decryptor::from_encrypt(d, {}, bytes(f.owner));
      ASSERT_TRUE(owner) << f.name;
      EXPECT_EQ(owner->key(), user->key()) << f.name;
    }
    EXPECT_FALSE(Decryptor::from_encrypt(d, {}, bytes("wrong"))) << f.name;
  }
}

TEST(FileKeyR5R6, IndependentOfMethodAndRevisionLabel) {
  const RealR6& f = kRealR6[0];  // revision 6 hash
  // /V 2 with /R 5: RC4 keyed with the 32-byte key; the revision 6 hash of a
  // file labelled revision 5 is still found (tried after the single SHA-256).
  RealR6 as_r5 = f;
  as_r5.r = 5;
  auto d = Decryptor::from_encrypt(dict_of(as_r5, 2), {}, bytes(f.user));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->method(), CryptMethod::Rc4);
  expect_perms(f, d->key());
  // A revision 6 file never accepts the single SHA-256 form.
  const RealR6& r5 = kRealR6[2];
  RealR6 as_r6 = r5;
  as_r6.r = 6;
  EXPECT_FALSE(Decryptor::from_encrypt(dict_of(as_r6), {}, bytes(r5.user)));
}

TEST(FileKeyR5R6, ShortOrMalformedEntries) {
  std::mt19937 rng(5);
  const Dictionary good = dict_of(kRealR6[0]);  // user "foo", owner "bar"
  const Bytes key = Decryptor::from_encrypt(good, {}, bytes("bar"))->key();
  const Bytes u = bytes(good.get("U")->as_string());

  Dictionary short_u = good;
  short_u.insert("U", str(sub(u, 0, 40)));
  EXPECT_FALSE(Decryptor::from_encrypt(short_u, {}, bytes("foo")));
  EXPECT_FALSE(Decryptor::from_encrypt(short_u, {}, bytes("bar")));

  // An unusable /UE gives a decryptor with an empty key, which leaves data
  // unchanged; the owner route still works through /OE.
  for (Object bad_ue : {str(sub(u, 0, 31)), Object::integer(3)}) {
    Dictionary d = good;
    d.insert("UE", bad_ue);
    auto dec = Decryptor::from_encrypt(d, {}, bytes("foo"));
    ASSERT_TRUE(dec);
    EXPECT_TRUE(dec->key().empty());
    const Bytes data = random_bytes(rng, 48);
    EXPECT_EQ(dec->decrypt_bytes(1, 0, data), data);
    auto by_owner = Decryptor::from_encrypt(d, {}, bytes("bar"));
    ASSERT_TRUE(by_owner);
    EXPECT_EQ(by_owner->key(), key);
  }
  // An /O shorter than 48 bytes disables only the owner route.
  Dictionary short_o = good;
  short_o.insert("O", str(random_bytes(rng, 32)));
  EXPECT_TRUE(Decryptor::from_encrypt(short_o, {}, bytes("foo")));
  EXPECT_FALSE(Decryptor::from_encrypt(short_o, {}, bytes("bar")));
}

// ---------------------------------------------------------------- revisions 2 to 4

// A revision 3 file (user "view", owner "master"); revisions 2 and 4:
// pikepdf's files in test_encryption.py.
Dictionary valid_r3(int64_t length = 128) {
  return dict({{"Filter", nm("Standard")}, {"V", num(2)}, {"R", num(3)}, {"Length", num(length)},
               {"O", str(hex("1d1ff7011663408661b4e24dcc3db7f376f0fb37e02315869a2bc769442d356a"))},
               {"U", str(hex("b1b69d3ca429a6fa7a6f27d64de7cd5391f1dd59d88e5b6e5e0a7954217a8f78"))}, {"P", num(-3104)}});
}
const Bytes kR3Id = hex("66d36a30a97e0f16f39955c6221e0c2a");

// Both passwords give the one key, also when /Length is outside 1 to 16
// bytes and is clamped (to 5 bytes when too small, 16 when too large).
TEST(FileKeyR2R4, ClampedLengths) {
  const struct {
    int64_t length;
    size_t want;
  } lengths[] = {{-64, 5}, {8, 1}, {40, 5}, {136, 16}, {1LL << 40, 16}};
  const Bytes key = Decryptor::from_encrypt(valid_r3(), kR3Id, bytes("view"))->key();
  ASSERT_EQ(key.size(), 16u);
  for (const auto& l : lengths) {
    crypt::Params params;
    params.length = l.length;
    EXPECT_EQ(params.key_len(), l.want) << l.length;
    if (l.want != 16) continue;
    for (const char* pw : {"view", "master"}) {
      auto dec = Decryptor::from_encrypt(valid_r3(l.length), kR3Id, bytes(pw));
      ASSERT_TRUE(dec);
      EXPECT_EQ(dec->key(), key) << l.length << " " << pw;
    }
  }
}

// ---------------------------------------------------------------- from_encrypt checks and methods


TEST(FromEncrypt, RejectsUnusableDictionaries) {
  struct Case {
    const char* name;
    const char* key;
    std::optional<Object> value;  // nullopt removes the entry
  } cases[] = {
      {"no filter", "Filter", std::nullopt},
      {"other handler", "Filter", Object::name("Adobe.PubSec")},
      {"real R", "R", Object::real(3.0)},
      {"O a name", "O", Object::name("x")},
      {"no U", "U", std::nullopt},
      {"real P", "P", Object::real(-4.0)},
  };
  ASSERT_TRUE(Decryptor::from_encrypt(valid_r3(), kR3Id, {}));
  EXPECT_FALSE(Decryptor::from_encrypt(Dictionary{}, {}, {}));
  for (const Case& c : cases) {
    Dictionary d;
    for (const auto& [k, v] : valid_r3())
      if (k != c.key) d.insert(k, v);
    if (c.value) d.insert(c.key, *c.value);
    EXPECT_FALSE(Decryptor::from_encrypt(d, kR3Id, {})) << c.name;
  }
}

TEST(FromEncrypt, MethodFromVAndCryptFilter) {
  using testing::dobj;
  auto cf_with = [](Object std_cf) { return dobj({{"StdCF", std::move(std_cf)}}); };
  auto std_cf_with_cfm = [](Object cfm) { return dobj({{"CFM", std::move(cfm)}}); };
  const Dictionary stream_cf_dict = dict({{"StdCF", std_cf_with_cfm(nm("AESV2"))}});
  struct Case {
    const char* name;
    std::optional<Object> v, cf;
    CryptMethod want;
  } cases[] = {
      {"V5 ignores CF", Object::integer(5), cf_with(std_cf_with_cfm(nm("V2"))), CryptMethod::Aes256},
      {"V4 AESV3", Object::integer(4), cf_with(std_cf_with_cfm(nm("AESV3"))), CryptMethod::Aes256},
      {"V4 AESV2", Object::integer(4), cf_with(std_cf_with_cfm(nm("AESV2"))), CryptMethod::Aes128},
      {"V4 V2", Object::integer(4), cf_with(std_cf_with_cfm(nm("V2"))), CryptMethod::Rc4},
      {"V4 StdCF array", Object::integer(4), cf_with(Object::array({})), CryptMethod::Rc4},
      {"V4 CF stream", Object::integer(4), Object::stream(Stream(stream_cf_dict, ByteSpan{})), CryptMethod::Aes128},
      {"V2 with AESV2 CF", Object::integer(2), cf_with(std_cf_with_cfm(nm("AESV2"))), CryptMethod::Rc4},
      {"no V", std::nullopt, std::nullopt, CryptMethod::Rc4},
  };
  for (const Case& c : cases) {
    Dictionary d;
    for (const auto& [k, val] : valid_r3())
      if (k != "V") d.insert(k, val);
    if (c.v) d.insert("V", *c.v);
    if (c.cf) d.insert("CF", *c.cf);
    auto dec = Decryptor::from_encrypt(d, kR3Id, {});
    ASSERT_TRUE(dec) << c.name;
    EXPECT_EQ(dec->method(), c.want) << c.name;
  }
}

TEST(FromEncrypt, IdentityCryptFilters) {
  struct Case {
    int64_t v;
    const char *strf, *stmf;
    bool strings_clear, streams_clear;
  } cases[] = {
      {4, "Identity", "StdCF", true, false}, {4, "StdCF", "Identity", false, true},
      {2, "Identity", "Identity", false, false},  // crypt filters exist only from /V 4 on
  };
  for (const Case& c : cases) {
    Dictionary d = valid_r3();
    d.insert("V", Object::integer(c.v));
    d.insert("StrF", Object::name(c.strf));
    d.insert("StmF", Object::name(c.stmf));
    auto dec = Decryptor::from_encrypt(d, kR3Id, {});
    ASSERT_TRUE(dec);
    // A revision 3 key cannot drive AES-256; RC4 makes the routing visible.
    dec->method_ = CryptMethod::Rc4;
    Dictionary sd;
    sd.insert("Title", Object::string("secret"));
    Object in = Object::stream(Stream(sd, Bytes{'d', 'a', 't', 'a'}));
    Object out = dec->decrypt_object(7, 0, in);
    const bool title_clear = out.as_stream().dict.get("Title")->as_string() == "secret";
    const ByteSpan data = out.as_stream().data();
    const bool data_clear = std::string(data.begin(), data.end()) == "data";
    EXPECT_EQ(title_clear, c.strings_clear) << c.v << c.strf << c.stmf;
    EXPECT_EQ(data_clear, c.streams_clear) << c.v << c.strf << c.stmf;
  }
}

// ---------------------------------------------------------------- per-object keys and decryption

// Algorithm 1 end to end: tests/test_encryption.py. Here the edges: the
// object number is taken mod 2^24, and AES keys differ by the "sAlT" suffix.
TEST(ObjectKey, Edges) {
  const Bytes key(16, 1);
  EXPECT_EQ(Decryptor::object_key(key, 16777217, 0, false), Decryptor::object_key(key, 1, 0, false));
  EXPECT_NE(Decryptor::object_key(key, 1, 0, true), Decryptor::object_key(key, 1, 0, false));
  EXPECT_EQ(Decryptor::object_key(Bytes(5, 1), 1, 0, false).size(), 10u);
  EXPECT_EQ(Decryptor::object_key(Bytes(32, 1), 1, 0, true).size(), 16u);
}

Decryptor make_decryptor(CryptMethod method, Bytes key) {
  Decryptor d;
  d.method_ = method;
  d.key_ = std::move(key);
  return d;
}

TEST(DecryptBytes, AesRoundTripAndPassThroughCases) {
  std::mt19937 rng(16);
  const Bytes iv = random_bytes(rng, 16);
  for (CryptMethod method : {CryptMethod::Aes128, CryptMethod::Aes256}) {
    const bool is256 = method == CryptMethod::Aes256;
    const Decryptor dec = make_decryptor(method, random_bytes(rng, is256 ? 32 : 16));
    const Bytes k = is256 ? dec.key() : Decryptor::object_key(dec.key(), 9, 2, true);
    const EVP_CIPHER* cipher = is256 ? EVP_aes_256_cbc() : EVP_aes_128_cbc();
    auto seal = [&](ByteSpan plain, bool pad) { return cat({iv, aes_cbc_encrypt_ref(cipher, k, iv, plain, pad)}); };

    for (size_t len = 0; len <= 40; ++len) {
      const Bytes plain = random_bytes(rng, len);
      EXPECT_EQ(dec.decrypt_bytes(9, 2, seal(plain, true)), plain) << len;
    }
    // 32 bytes whose last decrypted byte is 16: an empty string.
    EXPECT_TRUE(dec.decrypt_bytes(9, 2, seal(Bytes(16, 16), false)).empty());
    // Bad padding returns the enciphered input unchanged.
    Bytes disagree(16, 4);
    disagree[13] = 3;
    for (const Bytes& block : {Bytes(16, 0), Bytes(16, 17), disagree}) {
      const Bytes sealed = seal(block, false);
      EXPECT_EQ(dec.decrypt_bytes(9, 2, sealed), sealed);
    }
    // Lengths that cannot hold an IV and whole blocks pass through.
    for (size_t len : {15u, 16u, 33u}) {
      const Bytes raw = random_bytes(rng, len);
      EXPECT_EQ(dec.decrypt_bytes(9, 2, raw), raw) << len;
    }
  }
  // A key of the wrong size passes everything through: AES-128 with a
  // 5-byte file key (10-byte object key), AES-256 with a 16-byte file key.
  for (auto [method, key_len] : {std::pair{CryptMethod::Aes128, 5}, std::pair{CryptMethod::Aes256, 16}}) {
    const Decryptor dec = make_decryptor(method, Bytes(key_len, 3));
    const Bytes data = random_bytes(rng, 64);
    EXPECT_EQ(dec.decrypt_bytes(1, 0, data), data);
  }
}

TEST(DecryptObject, WalksEveryStringWithTheEnclosingNumber) {
  const Decryptor dec = make_decryptor(CryptMethod::Rc4, hex("00112233445566778899aabbccddeeff"));
  const Bytes k = Decryptor::object_key(dec.key(), 12, 0, false);
  auto sealed = [&](std::string_view s) {
    const Bytes b = rc4(k, as_bytes(s));
    return Object::string(std::string(b.begin(), b.end()));
  };
  Dictionary inner;
  inner.insert("S", sealed("deep"));
  Dictionary outer;
  outer.insert("A", Object::array({sealed("one"), Object::array({sealed("two"), Object::integer(5)}),
                                    Object::dictionary(inner)}));
  outer.insert("R", Object::reference({3, 0}));

  const Object out = dec.decrypt_object(12, 0, Object::dictionary(outer));
  const auto& a = out.as_dict().get("A")->as_array();
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0].as_string(), "one");
  EXPECT_EQ(a[1].as_array()[0].as_string(), "two");
  EXPECT_EQ(a[2].as_dict().get("S")->as_string(), "deep");
  EXPECT_EQ(out.as_dict().get("R")->as_ref(), (Ref{3, 0}));

  // A stream: dictionary strings and data, the data owned by the result.
  Dictionary sd;
  sd.insert("T", sealed("title"));
  const Bytes data = rc4(k, as_bytes("stream body"));
  Object stream = dec.decrypt_object(12, 0, Object::stream(Stream(sd, ByteSpan(data))));
  EXPECT_EQ(stream.as_stream().dict.get("T")->as_string(), "title");
  EXPECT_EQ(as_chars(stream.as_stream().data()), "stream body");
}

}  // namespace
}  // namespace vellum
