// The standard security handler: file keys from passwords (revisions 2 to 6)
// and decryption of the strings and streams of one document.
//
// Key derivation follows the PDF standard's algorithms: MD5 and RC4 for
// revisions 2 to 4 (Algorithms 2, 3, 4/5 and the owner-password route of
// Algorithm 7), SHA-2 and AES for revisions 5 and 6 (Algorithms 2.A, 2.B).
// The crypt method (RC4, AES-128, AES-256) comes from /V and /CF and is chosen
// independently of the key algorithm, which /R selects.
//
// The one failure is a password that the dictionary rejects (Decryptor::open);
// otherwise a dictionary that cannot be used yields no decryptor, and data
// that cannot be deciphered passes through unchanged.
// MD5, SHA-2 and AES come from libcrypto; RC4 is our own.
#pragma once

#include <array>
#include <optional>

#include "syntax/object.h"

namespace vellum {

enum class CryptMethod : uint8_t { Rc4, Aes128, Aes256 };

namespace crypt {

using Md5Digest = std::array<uint8_t, 16>;

// The 32-byte password padding string (Algorithm 2, step a).
inline constexpr std::array<uint8_t, 32> kPasswordPadding = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

// Revision 5 and 6 passwords are limited to 127 bytes; longer ones are cut.
inline constexpr size_t kMaxPasswordR6 = 127;

// What the encryption dictionary says.
struct Params {
  Bytes o;
  Bytes u;
  Bytes oe;  // empty when absent or not a string
  Bytes ue;
  int64_t p = 0;
  int64_t r = 0;
  int64_t length = 40;  // bits
  // /EncryptMetadata false: revision 4 and later then hash FF FF FF FF into
  // the key (Algorithm 2, step f); without it such files cannot be opened.
  bool encrypt_metadata = true;

  // Key length in bytes for revisions up to 4: /Length / 8, with lengths
  // below one byte taken as the 40-bit default and longer than 16 bytes cut
  // to 16 (an MD5 digest has no more).
  size_t key_len() const;
  // Algorithm A: the file key for a user password (revisions up to 4).
  Bytes key_from_user_pw(ByteSpan id, ByteSpan password) const;
  // Algorithm B: does the key reproduce /U?
  bool user_validates(ByteSpan key, ByteSpan id) const;
  // Algorithm C: the password as user, then as owner password; falls back to
  // the unvalidated user key.
  Bytes file_key_r2_to_r4(ByteSpan id, ByteSpan password) const;
  // Algorithm E (revisions 5 and 6): the file key, or nothing when the
  // password is neither user nor owner password or /U is too short.
  std::optional<Bytes> file_key_r5_r6(ByteSpan password) const;
  // The file key when the password validates as the user or the owner
  // password (Algorithms 6 and 7, or the revision 5/6 checks); nothing
  // otherwise.
  std::optional<Bytes> validated_key(ByteSpan id, ByteSpan password) const;
};

// MD5 of a byte string.
Md5Digest md5_of(ByteSpan data);
// Algorithm A step 4: for R >= 3, 50 times digest = MD5(first n bytes).
Md5Digest md5_iterations(const Md5Digest& digest, size_t n, int64_t r);
// Algorithm D, the revision 6 hash (2.B): 32 bytes. The password is used as
// given; callers cut it to kMaxPasswordR6.
Bytes hash_r6(ByteSpan password, ByteSpan salt, ByteSpan extra);
// The revision 5 hash: SHA-256(password, salt, extra).
Bytes hash_r5(ByteSpan password, ByteSpan salt, ByteSpan extra);
Bytes sha256_of(ByteSpan data);
// AES-256-CBC decryption, zero IV, no padding removal. Empty when the key is
// not 32 bytes or the data is not a whole number of blocks.
Bytes aes256_cbc_nopad(ByteSpan key, ByteSpan data);

}  // namespace crypt

class Decryptor {
 public:
  // Never fails: an unusable dictionary or a revision 5/6 password that
  // validates as neither user nor owner password gives no decryptor.
  static std::optional<Decryptor> from_encrypt(const Dictionary& encrypt, ByteSpan id, ByteSpan password);
  // Opening a document: as from_encrypt, but where the dictionary can tell
  // (revisions 2 to 6, a known /V, a /U long enough to check), a password
  // that is neither the user nor the owner password fails with
  // InvalidPassword, unless the empty user password validates, in which
  // case the document opens as if no password had been given. Dictionaries
  // that cannot tell keep from_encrypt's lenient reading.
  static Result<std::optional<Decryptor>> open(const Dictionary& encrypt, ByteSpan id, ByteSpan password);

  // The per-object key (Algorithm 1): MD5 of the file key, the low 3 bytes
  // of the number, the low 2 bytes of the generation and, for AES, "sAlT";
  // its first min(key length + 5, 16) bytes.
  static Bytes object_key(ByteSpan file_key, uint32_t num, uint16_t gen, bool aes);

  // Decrypts every string inside the object and, for a stream, its data.
  Object decrypt_object(uint32_t num, uint16_t gen, Object obj) const;
  Dictionary decrypt_dict(uint32_t num, uint16_t gen, Dictionary dict) const;
  // String bytes (strings=true) or stream data (strings=false).
  Bytes decrypt_bytes(uint32_t num, uint16_t gen, ByteSpan data, bool strings = true) const;

  // True when data of this kind (strings, or stream data) is left as stored.
  bool passes_through(bool strings) const;

  const Bytes& key() const { return key_; }
  CryptMethod method() const { return method_; }

  // Internal state, public for the tests.
  Bytes key_;
  CryptMethod method_ = CryptMethod::Rc4;
  bool strings_identity_ = false;  // /StrF names Identity
  bool streams_identity_ = false;  // /StmF names Identity
};

// RC4 as published; encryption and decryption are the same operation. An
// empty key leaves the data unchanged.
Bytes rc4(ByteSpan key, ByteSpan data);

}  // namespace vellum
