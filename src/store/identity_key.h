#pragma once
// Finding or creating the helper's long-term identity key.

#include <filesystem>
#include <string_view>

#include "ports/secret_store.h"
#include "protocol/key_pair.h"
#include "protocol/random_source.h"

namespace tamborix::identity {

inline constexpr std::string_view account = "server-key-v2";
inline constexpr std::string_view label = "Velmorand Helper identity key";
inline constexpr std::string_view fileName = "server.key";

// The identity from the secret store when `secrets` is given (a new one is added there when none
// can be read), else, or when adding fails, from `folder`/server.key (a new one is written there
// when the file is missing or not a key). Never fails: at worst the key lives for this run only.
KeyPair loadOrCreateKey(const std::filesystem::path& folder, SecretStore* secrets,
                        RandomSource& rng = systemRandom());

// Reads a file holding exactly one raw 32-byte private key.
[[nodiscard]] std::optional<KeyPair> readKeyFile(const std::filesystem::path& path);

}  // namespace tamborix::identity
