#include "store/identity_key.h"

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

std::optional<KeyPair> fromSecret(Bytes& secret) {
    std::optional<KeyPair> key;
    if (secret.size() == 32) key = KeyPair::fromRaw(secret);
    wipe(secret);
    return key;
}

}  // namespace

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

KeyPair loadOrCreateKey(const std::filesystem::path& folder, SecretStore* secrets,
                        RandomSource& rng) {
    if (secrets) {
        auto found = secrets->lookup(account);
        if (found.found()) {
            if (auto key = fromSecret(found.secret)) return *key;
        }
        auto fresh = KeyPair::generate(rng);
        const auto& raw = fresh.rawPrivate();
        if (secrets->add(account, label, ByteView(raw.data(), raw.size())).ok) return fresh;
    }
    const auto file = folder / fileName;
    if (auto key = readKeyFile(file)) return *key;
    auto fresh = KeyPair::generate(rng);
    const auto& raw = fresh.rawPrivate();
    writePrivate(ByteView(raw.data(), raw.size()), file);
    return fresh;
}

}  // namespace tamborix::identity
