// Tests of the standard security handler. Every algorithm is checked against
// published vectors, against values taken from real encrypted files (their
// /U, /O, /UE, /OE and /Perms entries with the passwords the files were made
// with), or against a second, deliberately plain implementation written here
// from the PDF standard's text with libcrypto's one-shot calls.
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

// ---------------------------------------------------------------- reference implementations

Bytes digest_ref(const EVP_MD* md, ByteSpan data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned len = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr);
  out.resize(len);
  return out;
}
Bytes md5_ref(ByteSpan data) { return digest_ref(EVP_md5(), data); }

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

// The revision 6 hash as the PDF standard words it: rounds counted from 1,
// at least 64 of them, ending once the last byte of E is at most the round
// number minus 32; E's first 16 bytes read as a big-endian number mod 3.
Bytes hash_r6_ref(ByteSpan password, ByteSpan salt, ByteSpan extra) {
  Bytes k = digest_ref(EVP_sha256(), cat({password, salt, extra}));
  for (int round = 1;; ++round) {
    Bytes unit = cat({password, k, extra});
    Bytes k1;
    for (int i = 0; i < 64; ++i) k1.insert(k1.end(), unit.begin(), unit.end());
    Bytes e = aes_cbc_encrypt_ref(EVP_aes_128_cbc(), ByteSpan(k).first(16), ByteSpan(k).subspan(16, 16), k1, false);
    unsigned mod = 0;
    for (int i = 0; i < 16; ++i) mod = (mod * 256 + e[i]) % 3;
    const EVP_MD* md = mod == 0 ? EVP_sha256() : mod == 1 ? EVP_sha384() : EVP_sha512();
    k = digest_ref(md, e);
    if (round >= 64 && e.back() <= round - 32) break;
  }
  k.resize(32);
  return k;
}

// Revision 2-4 dictionary entries as a writer makes them (Algorithms 3, 4, 5).
struct R4File {
  Dictionary dict;
  Bytes key;  // the file key the user password gives
};

R4File make_r4(int r, int64_t length_bits, ByteSpan owner, ByteSpan user, ByteSpan id, int64_t p, bool encrypt_metadata) {
  auto pad = [](ByteSpan pw) {
    Bytes out(pw.begin(), pw.begin() + std::min<size_t>(pw.size(), 32));
    out.insert(out.end(), crypt::kPasswordPadding.begin(), crypt::kPasswordPadding.begin() + (32 - out.size()));
    return out;
  };
  const size_t n = static_cast<size_t>(length_bits / 8);
  Bytes d = md5_ref(pad(owner));
  if (r >= 3)
    for (int i = 0; i < 50; ++i) d = md5_ref(d);
  Bytes okey = sub(d, 0, n);
  Bytes o = rc4(okey, pad(user));
  if (r >= 3)
    for (uint8_t i = 1; i <= 19; ++i) {
      Bytes k = okey;
      for (auto& b : k) b ^= i;
      o = rc4(k, o);
    }
  const uint32_t p32 = static_cast<uint32_t>(p);
  Bytes pb = {uint8_t(p32), uint8_t(p32 >> 8), uint8_t(p32 >> 16), uint8_t(p32 >> 24)};
  Bytes h = md5_ref(cat({pad(user), o, pb, id, (r >= 4 && !encrypt_metadata) ? hex("ffffffff") : Bytes{}}));
  if (r >= 3)
    for (int i = 0; i < 50; ++i) h = md5_ref(sub(h, 0, n));
  Bytes key = sub(h, 0, n);
  Bytes u;
  if (r < 3) {
    u = rc4(key, crypt::kPasswordPadding);
  } else {
    u = rc4(key, md5_ref(cat({crypt::kPasswordPadding, id})));
    for (uint8_t i = 1; i <= 19; ++i) {
      Bytes k = key;
      for (auto& b : k) b ^= i;
      u = rc4(k, u);
    }
    u.resize(32, 0xAB);  // the second half is arbitrary
  }
  R4File f{dict({{"Filter", nm("Standard")}, {"V", num(r == 2 ? 1 : 2)}, {"R", num(r)}, {"Length", num(length_bits)},
                 {"O", str(o)}, {"U", str(u)}, {"P", num(p)}}),
           key};
  if (!encrypt_metadata) f.dict.insert("EncryptMetadata", Object::boolean(false));
  return f;
}

Bytes random_bytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Revision 5/6 entries (Algorithms 8 and 9) for a given file key. Without
// `with_owner` /O and /OE are random bytes (saving two hashes).
Dictionary make_r6(int r, ByteSpan user, ByteSpan owner, ByteSpan file_key, std::mt19937& rng,
                   Bytes (*hash)(ByteSpan, ByteSpan, ByteSpan), bool with_owner = true) {
  const Bytes zero_iv(16, 0);
  const Bytes uvs = random_bytes(rng, 8), uks = random_bytes(rng, 8), ovs = random_bytes(rng, 8),
              oks = random_bytes(rng, 8);
  Bytes u = cat({hash(user, uvs, {}), uvs, uks});
  Bytes ue = aes_cbc_encrypt_ref(EVP_aes_256_cbc(), hash(user, uks, {}), zero_iv, file_key, false);
  Bytes o = with_owner ? cat({hash(owner, ovs, u), ovs, oks}) : random_bytes(rng, 48);
  Bytes oe = with_owner ? aes_cbc_encrypt_ref(EVP_aes_256_cbc(), hash(owner, oks, u), zero_iv, file_key, false)
                        : random_bytes(rng, 32);
  return dict({{"Filter", nm("Standard")}, {"V", num(5)}, {"R", num(r)}, {"Length", num(256)}, {"O", str(o)},
               {"U", str(u)}, {"OE", str(oe)}, {"UE", str(ue)}, {"P", num(-4)}});
}

Bytes hash_r5_ref(ByteSpan pw, ByteSpan salt, ByteSpan extra) { return digest_ref(EVP_sha256(), cat({pw, salt, extra})); }

// Random UTF-8 password of at most `max_len` bytes, ASCII or not.
Bytes random_password(std::mt19937& rng, size_t max_len, bool ascii) {
  std::uniform_int_distribution<size_t> len_dist(0, max_len);
  const size_t target = len_dist(rng);
  std::string out;
  while (true) {
    std::string ch;
    uint32_t cp = ascii ? 0x20 + rng() % 95 : 0x80 + rng() % 0x2FF80;
    if (cp >= 0xD800 && cp < 0xE000) cp = 0xE9;
    if (cp < 0x80) {
      ch = char(cp);
    } else if (cp < 0x800) {
      ch = {char(0xC0 | cp >> 6), char(0x80 | (cp & 0x3F))};
    } else if (cp < 0x10000) {
      ch = {char(0xE0 | cp >> 12), char(0x80 | ((cp >> 6) & 0x3F)), char(0x80 | (cp & 0x3F))};
    } else {
      ch = {char(0xF0 | cp >> 18), char(0x80 | ((cp >> 12) & 0x3F)), char(0x80 | ((cp >> 6) & 0x3F)), char(0x80 | (cp & 0x3F))};
    }
    if (out.size() + ch.size() > target) break;
    out += ch;
  }
  return bytes(out);
}

// ---------------------------------------------------------------- primitives

TEST(Rc4, PublishedVectors) {
  struct Case {
    std::string key, plain, cipher_hex;
  } cases[] = {
      {"Key", "Plaintext", "bbf316e8d940af0ad3"},
      {"Wiki", "pedia", "1021bf0420"},
      {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rc4(bytes(c.key), bytes(c.plain)), hex(c.cipher_hex)) << c.key;
    EXPECT_EQ(rc4(bytes(c.key), hex(c.cipher_hex)), bytes(c.plain)) << c.key;
  }
  // RFC 6229, 40-bit key 0102030405: keystream bytes 0..15.
  EXPECT_EQ(rc4(hex("0102030405"), Bytes(16, 0)), hex("b2396305f03dc027ccc3524a0a1118a8"));
  EXPECT_EQ(rc4({}, bytes("abc")), bytes("abc"));
  EXPECT_TRUE(rc4(bytes("k"), {}).empty());
}

TEST(Digests, PublishedVectors) {
  const auto empty = crypt::md5_of({});
  EXPECT_EQ(Bytes(empty.begin(), empty.end()), hex("d41d8cd98f00b204e9800998ecf8427e"));
  const auto abc = crypt::md5_of(bytes("abc"));
  EXPECT_EQ(Bytes(abc.begin(), abc.end()), hex("900150983cd24fb0d6963f7d28e17f72"));
  EXPECT_EQ(crypt::sha256_of(bytes("abc")), hex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

TEST(Aes256CbcNoPad, NistVectorWithZeroIvAndRejects) {
  // SP 800-38A F.2.6 (CBC-AES256), IV 000102..0f. With a zero IV the first
  // plaintext block comes out XORed with that IV; the second is unaffected.
  const Bytes key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const Bytes ct = hex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d");
  EXPECT_EQ(crypt::aes256_cbc_nopad(key, ct), hex("6bc0bce12a459991e134741a7f9e1925ae2d8a571e03ac9c9eb76fac45af8e51"));
  EXPECT_TRUE(crypt::aes256_cbc_nopad(sub(key, 0, 31), ct).empty());
  EXPECT_TRUE(crypt::aes256_cbc_nopad(cat({key, hex("00")}), ct).empty());
  EXPECT_TRUE(crypt::aes256_cbc_nopad(key, sub(ct, 0, 17)).empty());
  EXPECT_TRUE(crypt::aes256_cbc_nopad(key, {}).empty());
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
    {"r5-utf8-password", 5, "p\xc3\xa4ssw\xc3\xb6rt", nullptr,
     "11a87c9828ff85b48313afc624b0058f2dd5deab7f8f22b7195d7c70d54dc902e69b607db9189e5e3ccf2727c92ad78d",
     "1a535ba22f2dd1cf9f37cf7540fb3a2d0f82d9ea49db2f1e1cfd5118952d3dcc34c814ad2cc29313002d79de31df86a0",
     "8258b70fd814a1d61fbb226f93e39f1f2dbf60b91a30449a1dfa5db1e7b91db7",
     "ee4139e2e22728c58b69a73cb2aea4f0a8f759f895c5d1295751820432a238b6", "cb21fa8dceedecea128e0f81d834b379", -1084},
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

TEST(FileKeyR5R6, RandomPasswordsAgainstReferenceWriter) {
  std::mt19937 rng(2024);
  int checked = 0;
  for (int i = 0; i < 520; ++i) {
    const bool ascii = i % 2 == 0;
    const Bytes user = random_password(rng, 127, ascii);
    const Bytes owner = random_password(rng, 127, !ascii);
    const Bytes file_key = random_bytes(rng, 32);
    const bool with_owner = i % 8 == 0 && owner != user;
    const Dictionary d = make_r6(6, user, owner, file_key, rng, hash_r6_ref, with_owner);
    auto dec = Decryptor::from_encrypt(d, {}, user);
    ASSERT_TRUE(dec) << i;
    ASSERT_EQ(dec->key(), file_key) << i;
    if (with_owner) {
      auto by_owner = Decryptor::from_encrypt(d, {}, owner);
      ASSERT_TRUE(by_owner) << i;
      EXPECT_EQ(by_owner->key(), file_key) << i;
    }
    ++checked;
  }
  EXPECT_GE(checked, 500);
}

TEST(FileKeyR5R6, LongPasswordsAreCutTo127Bytes) {
  std::mt19937 rng(127);
  for (int r : {5, 6}) {
    for (size_t len : {128u, 200u, 1000u}) {
      Bytes pw = random_bytes(rng, len);
      const Bytes key = random_bytes(rng, 32);
      const Dictionary d = make_r6(r, sub(pw, 0, 127), bytes("owner"), key, rng, r == 5 ? hash_r5_ref : hash_r6_ref);
      auto dec = Decryptor::from_encrypt(d, {}, pw);
      ASSERT_TRUE(dec) << r << " " << len;
      EXPECT_EQ(dec->key(), key);
      pw[126] ^= 1;  // the cut keeps byte 126
      EXPECT_FALSE(Decryptor::from_encrypt(d, {}, pw));
    }
  }
}

TEST(FileKeyR5R6, ShortOrMalformedEntries) {
  std::mt19937 rng(5);
  const Bytes key = random_bytes(rng, 32);
  Dictionary good = make_r6(6, bytes("u"), bytes("o"), key, rng, hash_r6_ref);
  const Bytes u = bytes(good.get("U")->as_string());

  Dictionary short_u = good;
  short_u.insert("U", str(sub(u, 0, 40)));
  EXPECT_FALSE(Decryptor::from_encrypt(short_u, {}, bytes("u")));
  EXPECT_FALSE(Decryptor::from_encrypt(short_u, {}, bytes("o")));

  // An unusable /UE gives a decryptor with an empty key, which leaves data
  // unchanged; the owner route still works through /OE.
  for (Object bad_ue : {str(sub(u, 0, 31)), Object::integer(3), str({})}) {
    Dictionary d = good;
    d.insert("UE", bad_ue);
    auto dec = Decryptor::from_encrypt(d, {}, bytes("u"));
    ASSERT_TRUE(dec);
    EXPECT_TRUE(dec->key().empty());
    const Bytes data = random_bytes(rng, 48);
    EXPECT_EQ(dec->decrypt_bytes(1, 0, data), data);
    auto by_owner = Decryptor::from_encrypt(d, {}, bytes("o"));
    ASSERT_TRUE(by_owner);
    EXPECT_EQ(by_owner->key(), key);
  }
  // An /O shorter than 48 bytes disables only the owner route.
  Dictionary short_o = good;
  short_o.insert("O", str(random_bytes(rng, 32)));
  EXPECT_TRUE(Decryptor::from_encrypt(short_o, {}, bytes("u")));
  EXPECT_FALSE(Decryptor::from_encrypt(short_o, {}, bytes("o")));
}

// ---------------------------------------------------------------- revisions 2 to 4

TEST(FileKeyR2R4, RealFiles) {
  struct Case {
    const char* name;
    int r;
    int64_t length;
    const char *user, *owner, *o, *u, *id;
    int64_t p;
    bool encrypt_metadata;
  } cases[] = {
      {"r2-owner-only", 2, 40, "", "asdfzxcv", "278569a267d4a5f79078261ff3ed970e58beecaeac1f042cd15f1f2b65036ebe",
       "3fa4913c476b3c8602b977b168964753f7ebfdfe9aeb9d4c05f0682b24f3f7b3", "fce2fe96b7e142b4a0576f61e2e9c441", -4, true},
      {"r3-view-master", 3, 128, "view", "master", "1d1ff7011663408661b4e24dcc3db7f376f0fb37e02315869a2bc769442d356a",
       "b1b69d3ca429a6fa7a6f27d64de7cd5391f1dd59d88e5b6e5e0a7954217a8f78", "66d36a30a97e0f16f39955c6221e0c2a", -3104,
       true},
      {"r4-clear-metadata", 4, 128, "baz", nullptr, "d048d1529e535d1884cd3856367b184b4a90df01e637d16eca065baf4e64900b",
       "958c4913c05b2024060165ea145d888d00000000000000000000000000000000", "651a94feeb7868d312a97b377270860e", -4, false},
  };
  for (const Case& c : cases) {
    crypt::Params params;
    params.r = c.r;
    params.length = c.length;
    params.o = hex(c.o);
    params.u = hex(c.u);
    params.p = c.p;
    params.encrypt_metadata = c.encrypt_metadata;
    const Bytes id = hex(c.id);
    const Bytes key = params.key_from_user_pw(id, bytes(c.user));
    EXPECT_EQ(key.size(), static_cast<size_t>(c.length / 8));
    EXPECT_TRUE(params.user_validates(key, id)) << c.name;
    if (c.owner) {
      EXPECT_EQ(params.file_key_r2_to_r4(id, bytes(c.owner)), key) << c.name;
    }
  }
}

TEST(FileKeyR2R4, UserOwnerAndWrongPasswords) {
  struct Case {
    int r;
    int64_t length;
    bool encrypt_metadata;
  } cases[] = {{2, 40, true}, {3, 40, true}, {3, 128, true}, {4, 128, true}, {4, 128, false}, {3, 72, true}};
  const Bytes id = hex("00112233445566778899aabbccddeeff");
  for (const Case& c : cases) {
    for (const char* user : {"", "user pw", "a password longer than thirty-two bytes!"}) {
      const R4File f = make_r4(c.r, c.length, bytes("the owner"), bytes(user), id, -4, c.encrypt_metadata);
      auto by_user = Decryptor::from_encrypt(f.dict, id, bytes(user));
      auto by_owner = Decryptor::from_encrypt(f.dict, id, bytes("the owner"));
      auto wrong = Decryptor::from_encrypt(f.dict, id, bytes("nope"));
      ASSERT_TRUE(by_user && by_owner && wrong) << c.r;
      EXPECT_EQ(by_user->key(), f.key) << c.r << " " << c.length << " '" << user << "'";
      EXPECT_EQ(by_owner->key(), f.key) << c.r << " " << c.length << " '" << user << "'";
      // A wrong password still gives a decryptor, with a key that deciphers garbage.
      EXPECT_EQ(wrong->key().size(), f.key.size());
      EXPECT_NE(wrong->key(), f.key);
    }
  }
}

TEST(FileKeyR2R4, KeyFromUserPasswordHashesTheDocumentedBytes) {
  // /P -4 is hashed as FC FF FF FF; a long password is cut to 32 bytes.
  crypt::Params params;
  params.r = 2;
  params.length = 40;
  params.o = Bytes(32, 0x11);
  params.u = Bytes(32, 0x22);
  params.p = -4;
  const Bytes id = bytes("ID");
  const Bytes pw(40, 'x');
  const Bytes want = sub(md5_ref(cat({sub(pw, 0, 32), params.o, hex("fcffffff"), id})), 0, 5);
  EXPECT_EQ(params.key_from_user_pw(id, pw), want);
  // Only the first 16 bytes of /U are compared (revision 2 included).
  Bytes u = rc4(want, crypt::kPasswordPadding);
  u[20] ^= 0xFF;
  params.u = u;
  EXPECT_TRUE(params.user_validates(want, id));
  params.u.resize(15);
  EXPECT_FALSE(params.user_validates(want, id));
}

TEST(FileKeyR2R4, KeyLengthOutsideOneToSixteenBytesIsClamped) {
  struct Case {
    int64_t length;
    size_t want;
  } cases[] = {{-64, 5}, {0, 5}, {7, 5}, {8, 1}, {40, 5}, {135, 16}, {136, 16}, {256, 16}, {1LL << 40, 16}};
  const Bytes id = bytes("id");
  for (const Case& c : cases) {
    crypt::Params params;
    params.length = c.length;
    EXPECT_EQ(params.key_len(), c.want) << c.length;
    // The whole handler works with the clamped length, in both directions.
    for (int r : {2, 3}) {
      R4File f = make_r4(r, static_cast<int64_t>(c.want) * 8, bytes("o"), bytes("u"), id, -1, true);
      f.dict.insert("Length", Object::integer(c.length));
      auto dec = Decryptor::from_encrypt(f.dict, id, bytes("u"));
      ASSERT_TRUE(dec);
      EXPECT_EQ(dec->key(), f.key) << c.length;
      auto by_owner = Decryptor::from_encrypt(f.dict, id, bytes("o"));
      ASSERT_TRUE(by_owner);
      EXPECT_EQ(by_owner->key(), f.key) << c.length;
      const Bytes plain = bytes("some stream data");
      EXPECT_EQ(rc4(Decryptor::object_key(dec->key(), 3, 0, false), dec->decrypt_bytes(3, 0, plain)), plain);
    }
  }
}

// ---------------------------------------------------------------- from_encrypt checks and methods

Dictionary valid_r3() { return make_r4(3, 128, bytes("o"), bytes(""), bytes("id"), -4, true).dict; }

TEST(FromEncrypt, RejectsUnusableDictionaries) {
  struct Case {
    const char* name;
    const char* key;
    std::optional<Object> value;  // nullopt removes the entry
  } cases[] = {
      {"no filter", "Filter", std::nullopt},
      {"other handler", "Filter", Object::name("Adobe.PubSec")},
      {"filter as string", "Filter", Object::string("Standard")},
      {"no R", "R", std::nullopt},
      {"real R", "R", Object::real(3.0)},
      {"no O", "O", std::nullopt},
      {"O a name", "O", Object::name("x")},
      {"no U", "U", std::nullopt},
      {"no P", "P", std::nullopt},
      {"real P", "P", Object::real(-4.0)},
  };
  ASSERT_TRUE(Decryptor::from_encrypt(valid_r3(), bytes("id"), {}));
  EXPECT_FALSE(Decryptor::from_encrypt(Dictionary{}, {}, {}));
  for (const Case& c : cases) {
    Dictionary d;
    for (const auto& [k, v] : valid_r3())
      if (k != c.key) d.insert(k, v);
    if (c.value) d.insert(c.key, *c.value);
    EXPECT_FALSE(Decryptor::from_encrypt(d, bytes("id"), {})) << c.name;
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
      {"V5 without CF", Object::integer(5), std::nullopt, CryptMethod::Aes256},
      {"V4 AESV3", Object::integer(4), cf_with(std_cf_with_cfm(nm("AESV3"))), CryptMethod::Aes256},
      {"V4 AESV2", Object::integer(4), cf_with(std_cf_with_cfm(nm("AESV2"))), CryptMethod::Aes128},
      {"V4 V2", Object::integer(4), cf_with(std_cf_with_cfm(nm("V2"))), CryptMethod::Rc4},
      {"V4 None", Object::integer(4), cf_with(std_cf_with_cfm(nm("None"))), CryptMethod::Rc4},
      {"V4 CFM string", Object::integer(4), cf_with(std_cf_with_cfm(Object::string("AESV2"))), CryptMethod::Rc4},
      {"V4 no CF", Object::integer(4), std::nullopt, CryptMethod::Rc4},
      {"V4 StdCF array", Object::integer(4), cf_with(Object::array({})), CryptMethod::Rc4},
      {"V4 CF stream", Object::integer(4), Object::stream(Stream(stream_cf_dict, ByteSpan{})), CryptMethod::Aes128},
      {"V2 with AESV2 CF", Object::integer(2), cf_with(std_cf_with_cfm(nm("AESV2"))), CryptMethod::Rc4},
      {"V real 4.0", Object::real(4.0), cf_with(std_cf_with_cfm(nm("AESV2"))), CryptMethod::Rc4},
      {"no V", std::nullopt, std::nullopt, CryptMethod::Rc4},
  };
  for (const Case& c : cases) {
    Dictionary d;
    for (const auto& [k, val] : valid_r3())
      if (k != "V") d.insert(k, val);
    if (c.v) d.insert("V", *c.v);
    if (c.cf) d.insert("CF", *c.cf);
    auto dec = Decryptor::from_encrypt(d, bytes("id"), {});
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
      {5, "Identity", "Identity", true, true}, {4, "StdCF", "StdCF", false, false},
      {2, "Identity", "Identity", false, false},  // crypt filters exist only from /V 4 on
  };
  for (const Case& c : cases) {
    Dictionary d = valid_r3();
    d.insert("V", Object::integer(c.v));
    d.insert("StrF", Object::name(c.strf));
    d.insert("StmF", Object::name(c.stmf));
    auto dec = Decryptor::from_encrypt(d, bytes("id"), {});
    ASSERT_TRUE(dec);
    // A revision 3 key cannot drive AES-256; RC4 makes the routing visible.
    dec->method_ = CryptMethod::Rc4;
    EXPECT_EQ(dec->strings_identity_, c.strings_clear);
    EXPECT_EQ(dec->streams_identity_, c.streams_clear);

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

TEST(ObjectKey, MatchesAlgorithmOne) {
  struct Case {
    size_t key_len;
    uint32_t num;
    uint16_t gen;
    bool aes;
    size_t want_len;
  } cases[] = {{5, 1, 0, false, 10}, {16, 12, 3, false, 16}, {16, 12, 3, true, 16}, {32, 7, 0, true, 16},
               {11, 0xFFFFFF, 0xFFFF, false, 16}, {0, 2, 0, false, 5}};
  for (const Case& c : cases) {
    const Bytes key(c.key_len, 0x5A);
    const Bytes num_gen = {uint8_t(c.num), uint8_t(c.num >> 8), uint8_t(c.num >> 16), uint8_t(c.gen),
                           uint8_t(c.gen >> 8)};
    const Bytes want = sub(md5_ref(cat({key, num_gen, c.aes ? bytes("sAlT") : Bytes{}})), 0, c.want_len);
    EXPECT_EQ(Decryptor::object_key(key, c.num, c.gen, c.aes), want) << c.key_len << " " << c.num;
  }
  const Bytes key(16, 1);
  EXPECT_EQ(Decryptor::object_key(key, 16777217, 0, false), Decryptor::object_key(key, 1, 0, false));
  EXPECT_NE(Decryptor::object_key(key, 1, 0, true), Decryptor::object_key(key, 1, 0, false));
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
    for (size_t len : {1u, 15u, 16u, 20u, 33u}) {
      const Bytes raw = random_bytes(rng, len);
      EXPECT_EQ(dec.decrypt_bytes(9, 2, raw), raw) << len;
    }
    EXPECT_TRUE(dec.decrypt_bytes(9, 2, {}).empty());
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
  inner.insert("N", Object::name("Name"));
  Dictionary outer;
  outer.insert("A", Object::array({sealed("one"), Object::array({sealed("two"), Object::integer(5)}),
                                    Object::dictionary(inner)}));
  outer.insert("R", Object::reference({3, 0}));
  outer.insert("B", Object::boolean(true));
  outer.insert("X", Object::real(1.5));

  const Object out = dec.decrypt_object(12, 0, Object::dictionary(outer));
  const auto& a = out.as_dict().get("A")->as_array();
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0].as_string(), "one");
  EXPECT_EQ(a[1].as_array()[0].as_string(), "two");
  EXPECT_EQ(a[1].as_array()[1].as_int(), 5);
  EXPECT_EQ(a[2].as_dict().get("S")->as_string(), "deep");
  EXPECT_EQ(a[2].as_dict().get("N")->as_name(), "Name");
  EXPECT_EQ(out.as_dict().get("R")->as_ref(), (Ref{3, 0}));
  EXPECT_TRUE(out.as_dict().get("B")->as_bool());
  std::vector<std::string> keys;
  for (const auto& e : out.as_dict()) keys.push_back(e.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"A", "R", "B", "X"}));

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
