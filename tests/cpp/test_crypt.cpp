// Tests of the standard security handler: published vectors, values taken
// from real encrypted files (their /U, /O, /UE, /OE and /Perms entries with
// the passwords the files were made with), the encryption dictionary's
// entries, and decryption against libcrypto's one-shot calls. Whole files
// that pikepdf encrypted (every revision, RC4 and AES, user and owner
// passwords, random revision 6 passwords) are read in
// tests/test_encryption.py.
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <string>

#include "file/crypt.h"
#include "test_util.h"

namespace vellum {
namespace {

using testing::bytes;
using testing::dict;
using testing::dobj;
using testing::hex;
using testing::nm;
using testing::num;
Object str(ByteSpan b) { return Object::string(std::string(b.begin(), b.end())); }

// `d` with each entry set; a null value reads as an absent entry.
Dictionary edited(Dictionary d, const std::vector<std::pair<std::string, Object>>& edits) {
  for (const auto& [k, v] : edits) d.insert(k, v);
  return d;
}

// ---------------------------------------------------------------- primitives

// RC4 and AES in use: pikepdf's files, and the AES-256 zero-IV decryption of
// /UE and /OE through the real files below. An empty key (an unusable /UE)
// must not reach the key schedule.
TEST(Rc4, PublishedVectorAndEmptyKey) {
  // RFC 6229, 40-bit key 0102030405: keystream bytes 0..15.
  EXPECT_EQ(rc4(hex("0102030405"), Bytes(16, 0)), hex("b2396305f03dc027ccc3524a0a1118a8"));
  EXPECT_EQ(rc4({}, bytes("abc")), bytes("abc"));
}

// ---------------------------------------------------------------- revisions 5 and 6

// A revision 6 file written by another program (user "view", owner
// "master"; the corpus's enc-r6-acrobat11-view-master.pdf), its /O and /U
// padded with zeros to 127 bytes, of which only U[0..48] is hashed, and the
// file key the passwords give (confirmed when taken by decrypting /Perms).
// Both passwords of the corpus's revision 5 and 6 files: test_corpus.py.
const Bytes kR6Key = hex("99b8c28eaeebac3fb51195ea44e41c7b9705cc982344ada5851daf808eb7d42f");

Dictionary r6_dict(int64_t r = 6, int64_t v = 5) {
  Bytes o = hex("3dec4da2ebc9ce7f36a48ebb50c59692097cc73e60c02dd697ede933130337eb5d1eabe88863dd415f73175c9aa777be");
  Bytes u = hex("2fa09f7750947a91aa85899f3197fd0d88ff8ad743c962030fa4ae61662bcf632bd3a8dad2ea7bd18e696b705ee7bf5f");
  o.resize(127), u.resize(127);
  return dict({{"Filter", nm("Standard")}, {"V", num(v)}, {"R", num(r)}, {"Length", num(256)}, {"O", str(o)},
               {"U", str(u)}, {"OE", str(hex("dbe23f220ee17fc7079a80fc8df67c450bb5f69d488ca607315e7102a3235aec"))},
               {"UE", str(hex("03506811fe2544e3bbc945feaa9bba18fb4a96961e1056b20397cc3b6891d6cd"))}, {"P", num(-3076)}});
}

// The padded entries read, and the revision 6 hash under a revision 5 label
// is still found (tried after the single SHA-256), here with /V 2: RC4
// keyed with the 32-byte key.
TEST(FileKeyR5R6, PaddedEntriesAndRevisionLabel) {
  for (auto [r, v, method] : {std::tuple{6, 5, CryptMethod::Aes256}, std::tuple{5, 2, CryptMethod::Rc4}}) {
    auto dec = Decryptor::from_encrypt(r6_dict(r, v), {}, bytes("view"));
    ASSERT_TRUE(dec) << r;
    EXPECT_EQ(dec->method(), method);
    EXPECT_EQ(dec->key(), kR6Key) << r;
  }
}

// A /U shorter than 48 bytes disables both routes, an /O shorter than 48
// bytes only the owner route. An unusable /UE gives a decryptor with an
// empty key, which leaves data unchanged; the owner route still works
// through /OE.
TEST(FileKeyR5R6, ShortOrMalformedEntries) {
  const Dictionary good = r6_dict();
  const std::string& u = good.get("U")->as_string();
  const Dictionary short_u = edited(good, {{"U", Object::string(u.substr(0, 40))}});
  const Dictionary short_o = edited(good, {{"O", Object::string(u.substr(0, 32))}});
  EXPECT_FALSE(Decryptor::from_encrypt(short_u, {}, bytes("view")));
  EXPECT_FALSE(Decryptor::from_encrypt(short_u, {}, bytes("master")));
  EXPECT_TRUE(Decryptor::from_encrypt(short_o, {}, bytes("view")));
  EXPECT_FALSE(Decryptor::from_encrypt(short_o, {}, bytes("master")));
  for (Object bad_ue : {Object::string(u.substr(0, 31)), Object::integer(3)}) {
    const Dictionary d = edited(good, {{"UE", bad_ue}});
    auto dec = Decryptor::from_encrypt(d, {}, bytes("view"));
    ASSERT_TRUE(dec);
    EXPECT_TRUE(dec->key().empty());
    EXPECT_EQ(dec->decrypt_bytes(1, 0, bytes(u.substr(0, 48))), bytes(u.substr(0, 48)));
    auto by_owner = Decryptor::from_encrypt(d, {}, bytes("master"));
    ASSERT_TRUE(by_owner);
    EXPECT_EQ(by_owner->key(), kR6Key);
  }
}

// ---------------------------------------------------------------- the dictionary, revisions 2 to 4

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
  for (auto [length, want] : {std::pair<int64_t, size_t>{-64, 5}, {8, 1}, {40, 5}, {136, 16}, {1LL << 40, 16}}) {
    crypt::Params params;
    params.length = length;
    EXPECT_EQ(params.key_len(), want) << length;
  }
  const Bytes key = Decryptor::from_encrypt(valid_r3(), kR3Id, bytes("view"))->key();
  for (const char* pw : {"view", "master"}) {
    auto dec = Decryptor::from_encrypt(valid_r3(1LL << 40), kR3Id, bytes(pw));
    ASSERT_TRUE(dec) << pw;
    EXPECT_EQ(dec->key(), key) << pw;
  }
}

// Dictionaries that no password opens, and the method chosen from /V and
// the crypt filters (the plain /V 4 and /V 5 forms: pikepdf's files).
TEST(FromEncrypt, RejectsOrChoosesTheMethod) {
  auto cf = [](Object std_cf) { return dobj({{"StdCF", std::move(std_cf)}}); };
  auto cfm = [](const char* name) { return dobj({{"CFM", nm(name)}}); };
  const Object cf_stream = Object::stream(Stream(dict({{"StdCF", cfm("AESV2")}}), ByteSpan{}));
  const struct {
    const char* name;
    std::vector<std::pair<std::string, Object>> edits;
    std::optional<CryptMethod> want;  // nullopt: rejected
  } cases[] = {
      {"no filter", {{"Filter", Object::null()}}, std::nullopt},
      {"other handler", {{"Filter", nm("Adobe.PubSec")}}, std::nullopt},
      {"real R", {{"R", Object::real(3.0)}}, std::nullopt},
      {"O a name", {{"O", nm("x")}}, std::nullopt},
      {"V5 ignores CF", {{"V", num(5)}, {"CF", cf(cfm("V2"))}}, CryptMethod::Aes256},
      {"V4 AESV3", {{"V", num(4)}, {"CF", cf(cfm("AESV3"))}}, CryptMethod::Aes256},
      {"V4 StdCF array", {{"V", num(4)}, {"CF", cf(Object::array({}))}}, CryptMethod::Rc4},
      {"V4 CF stream", {{"V", num(4)}, {"CF", cf_stream}}, CryptMethod::Aes128},
      {"V2 with AESV2 CF", {{"CF", cf(cfm("AESV2"))}}, CryptMethod::Rc4},
      {"no V", {{"V", Object::null()}}, CryptMethod::Rc4},
  };
  for (const auto& c : cases) {
    auto dec = Decryptor::from_encrypt(edited(valid_r3(), c.edits), kR3Id, {});
    EXPECT_EQ(dec ? std::optional(dec->method()) : std::nullopt, c.want) << c.name;
  }
}

// ---------------------------------------------------------------- per-object keys and decryption

Decryptor make_decryptor(CryptMethod method, Bytes key) {
  Decryptor d;
  d.method_ = method;
  d.key_ = std::move(key);
  return d;
}

// `iv` and the AES-CBC encryption of `plain` by libcrypto's one-shot calls,
// with their padding block, or (pad false) without it.
Bytes aes_seal(const EVP_CIPHER* cipher, ByteSpan key, ByteSpan iv, ByteSpan plain, bool pad) {
  Bytes out(iv.begin(), iv.end());
  out.resize(plain.size() + 32);
  int n = 0, tail = 0;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.data());
  EVP_EncryptUpdate(ctx, out.data() + 16, &n, plain.data(), static_cast<int>(plain.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + 16 + n, &tail);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(16 + (pad ? n + tail : plain.size()));
  return out;
}

TEST(DecryptBytes, AesRoundTripAndPassThroughCases) {
  const Bytes iv = hex("000102030405060708090a0b0c0d0e0f");
  for (CryptMethod method : {CryptMethod::Aes128, CryptMethod::Aes256}) {
    const bool is256 = method == CryptMethod::Aes256;
    const Decryptor dec = make_decryptor(method, Bytes(is256 ? 32 : 16, 0xA5));
    const Bytes k = is256 ? dec.key() : Decryptor::object_key(dec.key(), 9, 2, true);
    auto seal = [&](ByteSpan plain, bool pad) {
      return aes_seal(is256 ? EVP_aes_256_cbc() : EVP_aes_128_cbc(), k, iv, plain, pad);
    };
    for (size_t len = 0; len <= 40; ++len) {
      const Bytes plain(len, static_cast<uint8_t>(len));
      EXPECT_EQ(dec.decrypt_bytes(9, 2, seal(plain, true)), plain) << len;
    }
    // 32 bytes whose last decrypted byte is 16: an empty string.
    EXPECT_TRUE(dec.decrypt_bytes(9, 2, seal(Bytes(16, 16), false)).empty());
    // Bad padding (a pad byte of 0, of 17, or pad bytes that disagree)
    // returns the enciphered input unchanged.
    for (const Bytes& block : {Bytes(16, 0), Bytes(16, 17), hex("04040404040404040404040404030404")}) {
      const Bytes sealed = seal(block, false);
      EXPECT_EQ(dec.decrypt_bytes(9, 2, sealed), sealed);
    }
    // Lengths that cannot hold an IV and whole blocks pass through.
    for (size_t len : {15u, 16u, 33u}) EXPECT_EQ(dec.decrypt_bytes(9, 2, Bytes(len, 7)), Bytes(len, 7)) << len;
  }
  // A key of the wrong size passes everything through: AES-128 with a
  // 5-byte file key (10-byte object key), AES-256 with a 16-byte file key.
  for (auto [method, key_len] : {std::pair{CryptMethod::Aes128, 5}, std::pair{CryptMethod::Aes256, 16}}) {
    const Bytes data(64, 7);
    EXPECT_EQ(make_decryptor(method, Bytes(key_len, 3)).decrypt_bytes(1, 0, data), data);
  }
}

// Strings at any depth take the enclosing object's number, a stream's
// dictionary strings and data too, each by its crypt filter: Identity leaves
// it as it is, and crypt filters exist only from /V 4 on.
TEST(DecryptObject, EveryStringByItsCryptFilter) {
  const struct {
    int64_t v;
    const char *strf, *stmf;
    bool strings, streams;  // deciphered
  } cases[] = {{4, "Identity", "StdCF", false, true}, {4, "StdCF", "Identity", true, false},
               {2, "Identity", "Identity", true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.v) + " " + c.strf + " " + c.stmf);
    const Dictionary d = edited(valid_r3(), {{"V", num(c.v)}, {"StrF", nm(c.strf)}, {"StmF", nm(c.stmf)}});
    auto dec = Decryptor::from_encrypt(d, kR3Id, {});
    ASSERT_TRUE(dec);
    dec->method_ = CryptMethod::Rc4;  // a revision 3 key cannot drive AES; RC4 makes the routing visible
    const Bytes k = Decryptor::object_key(dec->key(), 12, 0, false);
    // Algorithm 1 end to end: tests/test_encryption.py. Here the edge: the
    // object number is taken mod 2^24.
    EXPECT_EQ(Decryptor::object_key(dec->key(), 12 + (1 << 24), 0, false), k);
    auto sealed = [&](std::string_view s) { return str(rc4(k, as_bytes(s))); };
    auto want = [&](std::string_view s) { return c.strings ? std::string(s) : sealed(s).as_string(); };
    const Bytes data = rc4(k, as_bytes("stream body"));
    using testing::arr;
    const Dictionary in = dict({{"A", arr({sealed("one"), arr({sealed("two"), num(5)}), dobj({{"S", sealed("deep")}})})},
                                {"R", Object::reference({3, 0})}});
    const Object out = dec->decrypt_object(12, 0, Object::stream(Stream(in, ByteSpan(data))));
    const auto& a = out.as_stream().dict.get("A")->as_array();
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].as_string(), want("one"));
    EXPECT_EQ(a[1].as_array()[0].as_string(), want("two"));
    EXPECT_EQ(a[2].as_dict().get("S")->as_string(), want("deep"));
    EXPECT_EQ(out.as_stream().dict.get("R")->as_ref(), (Ref{3, 0}));
    EXPECT_EQ(as_chars(out.as_stream().data()) == "stream body", c.streams);
  }
}

}  // namespace
}  // namespace vellum
