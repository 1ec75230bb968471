#include "crypt.h"

namespace vellum {

// Placeholder until the security handler lands.
std::optional<Decryptor> Decryptor::from_encrypt(const Dictionary&, ByteSpan, ByteSpan) { return std::nullopt; }
Object Decryptor::decrypt_object(uint32_t, uint16_t, Object obj) const { return obj; }
Dictionary Decryptor::decrypt_dict(uint32_t, uint16_t, Dictionary dict) const { return dict; }
Bytes Decryptor::decrypt_bytes(uint32_t, uint16_t, ByteSpan data, bool) const { return Bytes(data.begin(), data.end()); }
Bytes rc4(ByteSpan, ByteSpan data) { return Bytes(data.begin(), data.end()); }

}  // namespace vellum
