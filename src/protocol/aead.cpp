#include "protocol/aead.h"

#include <sodium.h>

#include "protocol/sodium_ready.h"

namespace tamborix::Aead {

bool seal(std::uint8_t* cipherOut, std::uint8_t* tagOut, ByteView plaintext, ByteView aad,
          const Nonce& nonce, const Key& key) {
    detail::ensureSodium();
    std::uint8_t nothing = 0;  // an empty plaintext may come with no output buffer
    return crypto_aead_chacha20poly1305_ietf_encrypt_detached(
               cipherOut != nullptr ? cipherOut : &nothing, tagOut, nullptr, detail::nonNull(plaintext), plaintext.size(),
               detail::nonNull(aad), aad.size(), nullptr, nonce.data(), key.data()) == 0;
}

bool open(std::uint8_t* plainOut, ByteView cipher, const std::uint8_t* tag, ByteView aad,
          const Nonce& nonce, const Key& key) {
    detail::ensureSodium();
    return crypto_aead_chacha20poly1305_ietf_decrypt_detached(
               plainOut, nullptr, detail::nonNull(cipher), cipher.size(), tag,
               detail::nonNull(aad), aad.size(), nonce.data(), key.data()) == 0;
}

}  // namespace tamborix::Aead
