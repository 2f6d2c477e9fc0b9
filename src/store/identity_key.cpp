#include "store/identity_key.h"

#include <ctime>
#include <stdexcept>
#include <system_error>

#include "base/user_text.h"
#include "store/private_file.h"

namespace tamborix::identity {
namespace {

// Only a file that could hold a key is worth reading whole.
constexpr std::size_t keyFileLimit = 4096;

template <typename Container>
void wipe(Container& c) {
    volatile auto* p = c.data();
    for (std::size_t i = 0; i < c.size(); ++i) p[i] = 0;
}

bool present(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
}

}  // namespace

std::string utcStamp(WallTime t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(t));
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    const auto n = std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return std::string(text, n);
}

std::optional<std::filesystem::path> keepAsideAsBad(const std::filesystem::path& path,
                                                    WallTime now) {
    auto base = path;
    base += ".bad-" + utcStamp(now);
    auto target = base;
    for (int n = 2; present(target) && n < 1000; ++n) {
        target = base;
        target += "-" + std::to_string(n);
    }
    if (!keepAside(path, target)) return std::nullopt;
    return target;
}

std::optional<KeyPair> fromSecret(SecretLookup& found) {
    std::optional<KeyPair> key;
    if (found.found() && found.secret.size() == 32) key = KeyPair::fromRaw(found.secret);
    wipe(found.secret);
    return key;
}

std::optional<KeyPair> readKeyFile(const std::filesystem::path& path) {
    auto read = readWholeFile(path, keyFileLimit);
    std::optional<KeyPair> key;
    if (read.status == FileRead::Status::ok && read.contents.size() == 32) {
        auto raw = toBytes(read.contents);
        key = KeyPair::fromRaw(raw);
        wipe(raw);
    }
    wipe(read.contents);
    return key;
}

Outcome resolve(const std::filesystem::path& folder, SecretStore* secrets, RandomSource& rng,
                WallTime now, bool phonesPaired) {
    Outcome out;
    // The secret store's item first.
    SecretLookup item;
    if (secrets) {
        item = secrets->lookup(account);
        const bool present = item.found();
        if (auto key = fromSecret(item)) {
            // Versions before the marker kept their key there too; from now on it is known.
            touchFile(folder / keyringMarker);
            out.state = Outcome::State::ready;
            out.key = std::move(key);
            return out;
        }
        if (present) out.warnings.push_back(userText("IdentityKey", "The identity key in the keyring is not a key; it is left there"));
    }

    // Else the file beside the devices, whatever the secret store says.
    const auto file = folder / fileName;
    if (auto key = readKeyFile(file)) {
        out.state = Outcome::State::ready;
        out.key = std::move(key);
        return out;
    }
    // A key file, even a damaged one, says where the identity lived: not in the secret store.
    const bool keptInFile = present(file);
    if (keptInFile) {
        // Never overwritten: it may be somebody's only copy of an identity their phones know.
        if (const auto aside = keepAsideAsBad(file, now)) {
            out.warnings.push_back(userText("IdentityKey", "%1 could not be read as a key; kept aside as %2")
                                       .with({file.string(), aside->filename().string()}));
        } else {
            out.state = Outcome::State::waiting;
            out.problem = userText("IdentityKey", "%1 could not be read as a key, nor moved aside").with({file.string()});
            return out;
        }
    }

    // Else, where the key is known to be in the secret store: wait for it rather than become
    // someone else.
    if (secrets) {
        const bool marked = present(folder / keyringMarker) || (phonesPaired && !keptInFile);
        const bool locked = item.status == SecretLookup::Status::failed &&
                            secrets->find(account).found();
        if (locked) {
            out.state = Outcome::State::waiting;
            out.problem = userText("IdentityKey", "locked in the keyring");
            return out;
        }
        if (marked && item.status == SecretLookup::Status::failed) {
            out.state = Outcome::State::waiting;
            out.problem = userText("IdentityKey", "in the keyring, which cannot be reached (%1)").with({item.error});
            return out;
        }
        if (marked && item.notFound()) {
            out.state = Outcome::State::waiting;
            out.problem = userText("IdentityKey", "missing from the keyring; to start over with a new identity (every "
                                              "phone pairs again) remove %1")
                              .with({(folder / keyringMarker).string()});
            return out;
        }
    }

    // Else a new identity, stored where the next start looks first.
    if (phonesPaired)
        out.warnings.push_back(userText("IdentityKey", "A new identity key was made: every paired phone must pair again"));
    auto fresh = KeyPair::generate(rng);
    const auto& raw = fresh.rawPrivate();
    std::string why;
    if (secrets) {
        const auto added = secrets->add(account, label, ByteView(raw.data(), raw.size()));
        if (added.ok) {
            touchFile(folder / keyringMarker);
            out.state = Outcome::State::ready;
            out.key = std::move(fresh);
            return out;
        }
        why = added.error;
    }
    std::string error;
    if (writePrivate(ByteView(raw.data(), raw.size()), file, &error)) {
        out.state = Outcome::State::ready;
    } else {
        out.state = Outcome::State::runOnly;
        out.problem = why.empty() ? userText("IdentityKey", "kept for this run only, it could not be stored (%1: %2); pairing is off")
                                        .with({file.string(), error})
                                  : userText("IdentityKey", "kept for this run only, it could not be stored (keyring: %1; %2: %3); "
                                              "pairing is off")
                                        .with({why, file.string(), error});
    }
    out.key = std::move(fresh);
    return out;
}

KeyPair loadOrCreateKey(const std::filesystem::path& folder, SecretStore* secrets,
                        RandomSource& rng) {
    auto outcome = resolve(folder, secrets, rng, std::chrono::system_clock::now());
    if (!outcome.key) throw std::runtime_error("identity key: " + outcome.problem);
    return *outcome.key;
}

}  // namespace tamborix::identity
