#pragma once
// Finding or creating the helper's long-term identity key. The identity never changes by itself:
// a key that is known to live in the secret store but cannot be read now (a locked keyring, a
// session without a Secret Service) is waited for, never replaced by a new one.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/main_loop.h"
#include "ports/secret_store.h"
#include "protocol/key_pair.h"
#include "protocol/random_source.h"

namespace tamborix::identity {

inline constexpr std::string_view account = "server-key-v2";
inline constexpr std::string_view label = "Velmorand Helper identity key";
inline constexpr std::string_view fileName = "server.key";
// Written beside the devices once the key was added to the secret store, so that a later start
// that cannot reach the store knows not to make a new one.
inline constexpr std::string_view keyringMarker = ".identity-in-keyring";

struct Outcome {
    enum class State {
        ready,    // `key` is the identity, stored where the next start finds it
        runOnly,  // `key` could not be stored anywhere: it lives for this run only
        waiting,  // the identity is in the secret store but cannot be read now; no `key`
    };
    State state = State::waiting;
    std::optional<KeyPair> key;
    // For the status lines when not ready ("locked in the keyring", ...).
    std::string problem;
    // Things the user should hear about once (a damaged file kept aside, ...).
    std::vector<std::string> warnings;
};

// With `secrets` (the application's standard folder): the secret store's item, else
// `folder`/server.key, else, when the key is known to be in the secret store (the item exists
// but is locked, the marker is there, or phones were paired while there was no server.key, as
// older versions kept it), nothing; else a new key, added to the secret store (and the marker
// written) or else written to server.key. Without `secrets` only server.key counts. A server.key
// that exists but holds no key is kept aside as server.key.bad-<UTC>.
[[nodiscard]] Outcome resolve(const std::filesystem::path& folder, SecretStore* secrets,
                              RandomSource& rng, WallTime now, bool phonesPaired = false);

// The same, for callers that must have a key: a waiting outcome is an error.
KeyPair loadOrCreateKey(const std::filesystem::path& folder, SecretStore* secrets,
                        RandomSource& rng = systemRandom());

// The key held by a found secret-store item, if its bytes are one.
[[nodiscard]] std::optional<KeyPair> fromSecret(SecretLookup& found);

// Reads a file holding exactly one raw 32-byte private key.
[[nodiscard]] std::optional<KeyPair> readKeyFile(const std::filesystem::path& path);

// "20261208T014200Z": the suffix of a file kept aside.
[[nodiscard]] std::string utcStamp(WallTime t);

// Moves a damaged file out of the way as `<path>.bad-<UTC>` (a number added when that exists);
// the name it got, or nothing when it could not be moved.
[[nodiscard]] std::optional<std::filesystem::path> keepAsideAsBad(const std::filesystem::path& path,
                                                                  WallTime now);

}  // namespace tamborix::identity
