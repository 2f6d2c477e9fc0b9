#include "store/device_store.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <system_error>

#include "protocol/wire.h"
#include "store/device_file.h"
#include "store/display_name.h"
#include "store/identity_key.h"
#include "store/legacy_import.h"
#include "store/private_file.h"

namespace tamborix {
namespace {

constexpr std::size_t deviceFileLimit = 64 * 1024 * 1024;

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return {};
}

std::string utcStamp(WallTime t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(t));
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    const auto n = std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return std::string(text, n);
}

// Every byte is examined whatever the contents, so timing tells nothing about the expected proof.
bool equalInConstantTime(ByteView a, ByteView b) {
    if (a.size() != b.size()) return false;
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

KeyPair prepareIdentity(const std::filesystem::path& folder,
                        const std::filesystem::path& legacyFolder, SecretStore* secrets,
                        RandomSource& rng) {
    createPrivateFolder(folder);
    // The import runs first, so an identity it brings into the secret store is the one found.
    if (secrets) importOlderGeneration(folder, legacyFolder, *secrets);
    return identity::loadOrCreateKey(folder, secrets, rng);
}

}  // namespace

DeviceStore::Locations DeviceStore::Locations::standard() {
    const auto home = homeFolder();
    std::filesystem::path data;
    // XDG base directories must be absolute; a relative value is ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        data = xdg;
    } else {
        data = home / ".local" / "share";
    }
    return Locations{data / "Velmorand", home / ".velmorand"};
}

DeviceStore::DeviceStore(MainLoop& loop, SecretStore& secrets, RandomSource& rng)
    : DeviceStore(loop, &secrets, Locations::standard(), true, rng) {}

DeviceStore::DeviceStore(MainLoop& loop, SecretStore& secrets, Locations locations,
                         RandomSource& rng)
    : DeviceStore(loop, &secrets, std::move(locations), true, rng) {}

DeviceStore::DeviceStore(MainLoop& loop, std::filesystem::path directory, RandomSource& rng)
    : DeviceStore(loop, nullptr, Locations{std::move(directory), {}}, false, rng) {}

DeviceStore::DeviceStore(MainLoop& loop, SecretStore* secrets, Locations locations,
                         bool standardFolder, RandomSource& rng)
    : loop_(loop),
      rng_(rng),
      folder_(std::move(locations.folder)),
      filePath_(folder_ / deviceFile::fileName),
      key_(prepareIdentity(folder_, locations.legacyFolder, standardFolder ? secrets : nullptr,
                           rng)),
      writer_(filePath_) {
    auto read = readWholeFile(filePath_, deviceFileLimit);
    switch (read.status) {
        case FileRead::Status::missing: break;
        case FileRead::Status::failed: keepBadFileAside_ = true; break;
        case FileRead::Status::ok:
            if (auto devices = deviceFile::decode(read.contents)) {
                devices_ = std::move(*devices);
            } else {
                keepBadFileAside_ = true;
            }
            break;
    }
}

DeviceStore::~DeviceStore() { flushLastSeen(); }

std::optional<PairedDevice> DeviceStore::device(ByteView pub) const {
    const auto id = Wire::deviceID(pub);
    for (const auto& d : devices_) {
        if (d.id == id && std::equal(d.pub.begin(), d.pub.end(), pub.begin(), pub.end())) return d;
    }
    return std::nullopt;
}

std::optional<PairedDevice> DeviceStore::deviceById(std::string_view id) const {
    for (const auto& d : devices_) {
        if (d.id == id) return d;
    }
    return std::nullopt;
}

PairedDevice* DeviceStore::findById(std::string_view id) {
    for (auto& d : devices_) {
        if (d.id == id) return &d;
    }
    return nullptr;
}

PairedDevice DeviceStore::add(ByteView pub, std::string_view name) {
    if (pub.size() != Wire::keyLength)
        throw std::invalid_argument("a device key must be 32 bytes");
    PairedDevice device;
    device.id = Wire::deviceID(pub);
    device.name = prefixCharacters(name, maxNameCharacters);
    device.pub.assign(pub.begin(), pub.end());
    device.scope = PairedDevice::Scope::full;
    device.added = device.lastSeen = loop_.wallNow();
    std::erase_if(devices_, [&](const PairedDevice& d) { return d.id == device.id; });
    devices_.push_back(device);
    save();
    changed_.notify(Change::devices);
    return device;
}

void DeviceStore::touch(std::string_view id) {
    auto* d = findById(id);
    if (!d) return;
    d->lastSeen = loop_.wallNow();
    if (!lastSeenTimer_) {
        lastSeenTimer_ = loop_.singleShot(lastSeenSaveDelay, [this] { saveLastSeen(); });
    }
    changed_.notify(Change::devices);
}

void DeviceStore::setScope(std::string_view id, PairedDevice::Scope scope) {
    auto* d = findById(id);
    if (!d) return;
    d->scope = scope;
    save();
    changed_.notify(Change::devices);
}

void DeviceStore::setScreen(std::string_view id, std::optional<bool> screen) {
    auto* d = findById(id);
    if (!d) return;
    d->screen = screen;
    save();
    changed_.notify(Change::devices);
}

void DeviceStore::revoke(std::string_view id) {
    const auto removed = std::erase_if(devices_, [&](const PairedDevice& d) { return d.id == id; });
    save();
    if (removed > 0) changed_.notify(Change::devices);
}

void DeviceStore::flushLastSeen() {
    if (lastSeenTimer_) save();
    writer_.waitIdle();
}

void DeviceStore::saveLastSeen() {
    lastSeenTimer_.reset();
    if (keepBadFileAside_) {
        save();  // keeping the unreadable file aside comes first; rare enough to do at once
        return;
    }
    writer_.writeLater(deviceFile::encode(devices_, true));
}

void DeviceStore::save() {
    // Whatever last-seen times wait are part of this write.
    lastSeenTimer_.reset();
    if (keepBadFileAside_) {
        // The unreadable file may be the user's only record of their phones; never overwrite it.
        auto base = filePath_;
        base += ".bad-" + utcStamp(loop_.wallNow());
        auto target = base;
        std::error_code ec;
        for (int n = 2; std::filesystem::exists(target, ec) && n < 1000; ++n) {
            target = base;
            target += "-" + std::to_string(n);
        }
        if (!keepAside(filePath_, target) && std::filesystem::exists(filePath_, ec)) return;
        keepBadFileAside_ = false;
    }
    writer_.writeNow(deviceFile::encode(devices_, true));
}

std::string DeviceStore::openPairing() {
    std::string code;
    code.reserve(Wire::pairCodeLength);
    for (std::size_t i = 0; i < Wire::pairCodeLength; ++i) {
        code += Wire::pairAlphabet[rng_.uniform(
            static_cast<std::uint32_t>(Wire::pairAlphabet.size()))];
    }
    pairCode_ = code;
    pairExpires_ = loop_.now() + pairingValidity;
    pairAttempts_ = 0;
    changed_.notify(Change::pairing);
    return code;
}

void DeviceStore::closePairing() {
    pairCode_.reset();
    pairExpires_.reset();
    changed_.notify(Change::pairing);
}

bool DeviceStore::pairingOpen() {
    if (!pairCode_ || !pairExpires_) return false;
    if (*pairExpires_ < loop_.now()) {
        closePairing();
        return false;
    }
    return true;
}

bool DeviceStore::checkPairProof(ByteView proof, ByteView th) {
    if (!pairingOpen()) return false;
    const auto expected = Wire::pairProof(*pairCode_, th);
    if (equalInConstantTime(proof, expected)) {
        closePairing();
        return true;
    }
    if (++pairAttempts_ >= maxPairAttempts) closePairing();
    return false;
}

}  // namespace tamborix
