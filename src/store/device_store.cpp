#include "store/device_store.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <system_error>

#include "base/user_text.h"
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

// Every byte is examined whatever the contents, so timing tells nothing about the expected proof.
bool equalInConstantTime(ByteView a, ByteView b) {
    if (a.size() != b.size()) return false;
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    return diff == 0;
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
      secrets_(standardFolder ? secrets : nullptr),
      writer_(filePath_) {
    // A last-seen write runs on the writer's thread; its failure is reported on the main loop.
    writer_.onLaterFailure([&loop = loop_, this, alive = life_.watch()](std::string error) {
        loop.post([this, alive, error = std::move(error)] {
            if (alive) reportSaveFailure(error);
        });
    });
    if (!createPrivateFolder(folder_))
        warn(userText("Store", "Could not create the folder %1 for the paired devices").with({folder_.string()}));
    // The import runs first, so an identity it brings in is the one found.
    if (secrets_) importOlderGeneration(folder_, locations.legacyFolder, *secrets_);
    auto read = readWholeFile(filePath_, deviceFileLimit);
    std::string why;
    switch (read.status) {
        case FileRead::Status::missing: break;
        case FileRead::Status::failed:
            keepBadFileAside_ = true;
            why = read.error;
            break;
        case FileRead::Status::ok:
            if (auto devices = deviceFile::decode(read.contents)) {
                devices_ = std::move(*devices);
            } else {
                keepBadFileAside_ = true;
            }
            break;
    }
    if (keepBadFileAside_)
        warn(why.empty() ? userText("Store", "%1 could not be read; it is kept aside before the next save")
                               .with({filePath_.string()})
                         : userText("Store", "%1 could not be read (%2); it is kept aside before the next save")
                               .with({filePath_.string(), why}));
    // Phones paired with a key that is in no file know an identity that lives in the keyring.
    takeIdentity(identity::resolve(folder_, secrets_, rng_, loop_.wallNow(),
                                   !devices_.empty() || keepBadFileAside_));
}


void DeviceStore::warn(std::string text) {
    constexpr std::size_t keep = 32;
    if (warnings_.size() >= keep) warnings_.erase(warnings_.begin());
    warnings_.push_back(std::move(text));
    changed_.notify(Change::warning);
}

void DeviceStore::takeIdentity(identity::Outcome outcome) {
    for (auto& w : outcome.warnings) warn(std::move(w));
    const bool had = key_.has_value();
    const auto problem = identityProblem_;
    key_ = std::move(outcome.key);
    runOnly_ = outcome.state == identity::Outcome::State::runOnly;
    identityProblem_ = std::move(outcome.problem);
    if (had != key_.has_value() || problem != identityProblem_) changed_.notify(Change::identity);
    if (outcome.state == identity::Outcome::State::waiting) waitForKeyring();
}

void DeviceStore::waitForKeyring() {
    if (!secrets_) return;
    secrets_->requestUnlock(identity::account, [this, alive = life_.watch()] {
        if (!alive || key_) return;
        takeIdentity(identity::resolve(folder_, secrets_, rng_, loop_.wallNow(), true));
    });
}

DeviceStore::~DeviceStore() {
    life_.end();
    flushLastSeen();
}

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

std::optional<PairedDevice> DeviceStore::add(ByteView pub, std::string_view name) {
    if (pub.size() != Wire::keyLength)
        throw std::invalid_argument("a device key must be 32 bytes");
    PairedDevice device;
    device.id = Wire::deviceID(pub);
    device.name = prefixCharacters(cleanDisplayName(name), maxNameCharacters);
    device.pub.assign(pub.begin(), pub.end());
    device.scope = PairedDevice::Scope::full;
    device.added = device.lastSeen = loop_.wallNow();
    auto before = devices_;
    std::erase_if(devices_, [&](const PairedDevice& d) { return d.id == device.id; });
    devices_.push_back(device);
    if (!save()) {
        devices_ = std::move(before);
        return std::nullopt;
    }
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

bool DeviceStore::setScope(std::string_view id, PairedDevice::Scope scope) {
    auto* d = findById(id);
    if (!d) return false;
    d->scope = scope;
    const bool saved = save();
    changed_.notify(Change::devices);
    return saved;
}

bool DeviceStore::setScreen(std::string_view id, std::optional<bool> screen) {
    auto* d = findById(id);
    if (!d) return false;
    d->screen = screen;
    const bool saved = save();
    changed_.notify(Change::devices);
    return saved;
}

bool DeviceStore::revoke(std::string_view id) {
    const auto removed = std::erase_if(devices_, [&](const PairedDevice& d) { return d.id == id; });
    const bool saved = save();
    if (removed > 0) changed_.notify(Change::devices);
    return saved;
}

void DeviceStore::flushLastSeen() {
    // A decision still waiting for the disk gets one more chance before the process ends.
    if (lastSeenTimer_ || saveRetry_) save();
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

bool DeviceStore::save() {
    // Whatever last-seen times wait are part of this write.
    lastSeenTimer_.reset();
    std::string error;
    bool ok = true;
    if (keepBadFileAside_) {
        // The unreadable file may be the user's only record of their phones; never overwrite it.
        std::error_code ec;
        if (const auto aside = identity::keepAsideAsBad(filePath_, loop_.wallNow())) {
            keepBadFileAside_ = false;
            warn(userText("Store", "%1 could not be read; kept aside as %2")
                     .with({filePath_.string(), aside->filename().string()}));
        } else if (std::filesystem::exists(filePath_, ec)) {
            ok = false;
            error = userText("Store", "the unreadable file could not be moved aside");
        } else {
            keepBadFileAside_ = false;
        }
    }
    if (ok && !writer_.writeNow(deviceFile::encode(devices_, true), &error)) ok = false;
    if (ok) {
        saveRetry_.reset();
        nextRetryDelay_ = firstSaveRetry;
        if (saveError_) {
            saveError_.reset();
            changed_.notify(Change::saved);
        }
        return true;
    }
    reportSaveFailure(error);
    return false;
}

void DeviceStore::scheduleSaveRetry() {
    if (saveRetry_) return;
    const auto delay = nextRetryDelay_;
    nextRetryDelay_ = std::min<Duration>(nextRetryDelay_ * 2, longestSaveRetry);
    saveRetry_ = loop_.singleShot(delay, [this] {
        saveRetry_.reset();
        save();
    });
}

void DeviceStore::reportSaveFailure(const std::string& error) {
    // What is in memory is newer than the file until a save works, whichever write failed.
    scheduleSaveRetry();
    auto text = userText("Store", "Could not save the paired devices to %1 (%2)").with({filePath_.string(), error});
    // One line per failure, not one per attempt while the disk stays full.
    if (saveError_ != text) {
        saveError_ = text;
        warn(std::move(text));
    }
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
