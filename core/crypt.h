// The standard security handler: file keys from passwords (revisions 2 to 6)
// and decryption of the strings and streams of one document.
#pragma once

#include <optional>

#include "object.h"

namespace vellum {

enum class CryptMethod : uint8_t { Rc4, Aes128, Aes256 };

class Decryptor {
 public:
  // Never fails: an unusable dictionary or a revision 5/6 password that
  // validates as neither user nor owner password gives no decryptor.
  static std::optional<Decryptor> from_encrypt(const Dictionary& encrypt, ByteSpan id, ByteSpan password);

  // Decrypts every string inside the object and, for a stream, its data.
  Object decrypt_object(uint32_t num, uint16_t gen, Object obj) const;
  Dictionary decrypt_dict(uint32_t num, uint16_t gen, Dictionary dict) const;
  // String bytes (strings=true) or stream data (strings=false).
  Bytes decrypt_bytes(uint32_t num, uint16_t gen, ByteSpan data, bool strings = true) const;

  const Bytes& key() const { return key_; }
  CryptMethod method() const { return method_; }

  // Internal state, public for the tests.
  Bytes key_;
  CryptMethod method_ = CryptMethod::Rc4;
  bool strings_identity_ = false;  // /StrF names Identity
  bool streams_identity_ = false;  // /StmF names Identity
};

Bytes rc4(ByteSpan key, ByteSpan data);

}  // namespace vellum
