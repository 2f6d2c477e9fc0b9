#include "protocol/aead.h"

#include <sodium.h>

#include "protocol/sodium_ready.h"

namespace tamborix::Aead {

bool seal(std::uint8_t* cipherOut, std::uint8_t* tagOut, ByteView plaintext, ByteView aad,
          const Nonce& nonce, const Key& key) {
    detail::ensureSodium();
    return crypto_aead_chacha20poly1305_ietf_encrypt_detached(
               cipherOut, tagOut, nullptr, plaintext.data(), plaintext.size(), aad.data(),
               aad.size(), nullptr, nonce.data(), key.data()) == 0;
}

bool open(std::uint8_t* plainOut, ByteView cipher, const std::uint8_t* tag, ByteView aad,
          const Nonce& nonce, const Key& key) {
    detail::ensureSodium();
    return crypto_aead_chacha20poly1305_ietf_decrypt_detached(
               plainOut, nullptr, cipher.data(), cipher.size(), tag, aad.data(), aad.size(),
               nonce.data(), key.data()) == 0;
}

}  // namespace tamborix::Aead
