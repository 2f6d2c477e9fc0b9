#include "store/legacy_import.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <vector>

#include "protocol/wire.h"
#include "store/device_file.h"
#include "store/device_store.h"
#include "store/display_name.h"
#include "store/identity_key.h"
#include "store/private_file.h"

namespace tamborix {
namespace {

using nlohmann::ordered_json;

constexpr std::size_t legacyFileLimit = 16 * 1024 * 1024;
constexpr std::size_t legacyKeyTextLimit = 200;

double optionalSeconds(const ordered_json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_number() ? it->get<double>() : 0.0;
}

std::optional<PairedDevice> importRecord(const std::string& id, const ordered_json& object) {
    auto pubText = object.find("pub");
    if (pubText == object.end() || !pubText->is_string()) return std::nullopt;
    PairedDevice device;
    try {
        device.pub = Wire::b64d(pubText->get<std::string>(), legacyKeyTextLimit);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (device.pub.size() != Wire::keyLength || Wire::deviceID(device.pub) != id)
        return std::nullopt;
    device.id = id;
    auto name = object.find("name");
    device.name = name != object.end() && name->is_string()
                      ? prefixCharacters(cleanDisplayName(name->get<std::string>()),
                                         DeviceStore::maxNameCharacters)
                      : std::string("Device");
    auto scope = object.find("scope");
    device.scope = scope != object.end() && scope->is_string() && *scope == "presenter"
                       ? PairedDevice::Scope::presenter
                       : PairedDevice::Scope::full;
    device.added = deviceFile::fromUnixSeconds(optionalSeconds(object, "added"));
    device.lastSeen = deviceFile::fromUnixSeconds(optionalSeconds(object, "last_seen"));
    return device;
}

}  // namespace

namespace {

enum class Existing { none, same, other, unknown };

// What identity this folder already has, compared with the older generation's key.
Existing existingIdentity(const std::filesystem::path& folder, SecretStore& secrets,
                          const KeyPair& legacy) {
    const auto same = [&](const KeyPair& key) {
        return key.publicKey() == legacy.publicKey() ? Existing::same : Existing::other;
    };
    auto item = secrets.lookup(identity::account);
    const bool present = item.found();
    if (auto key = identity::fromSecret(item)) return same(*key);
    if (present) return Existing::other;
    if (auto key = identity::readKeyFile(folder / identity::fileName)) return same(*key);
    std::error_code ec;
    if (std::filesystem::exists(folder / identity::fileName, ec)) return Existing::other;
    if (std::filesystem::exists(folder / identity::keyringMarker, ec)) return Existing::unknown;
    if (item.status == SecretLookup::Status::failed) {
        // Locked: an identity is there, but whose cannot be told yet.
        return secrets.find(identity::account).found() ? Existing::unknown : Existing::none;
    }
    return Existing::none;
}

}  // namespace

bool importOlderGeneration(const std::filesystem::path& folder,
                           const std::filesystem::path& legacyFolder, SecretStore& secrets) {
    const auto marker = folder / ".migrated";
    std::error_code ec;
    if (std::filesystem::exists(marker, ec) || ec) return false;

    auto legacyKey = identity::readKeyFile(legacyFolder / identity::fileName);
    if (!legacyKey) {
        touchFile(marker);  // nothing to import, now or later
        return false;
    }
    switch (existingIdentity(folder, secrets, *legacyKey)) {
        case Existing::other:
            // This helper has an identity of its own already; its phones must keep it.
            touchFile(marker);
            return false;
        case Existing::unknown:
            return false;  // decided at a start that can read the keyring
        case Existing::same:
            break;  // stored by an earlier start that could not finish
        case Existing::none: {
            // Stored as a new identity would be: the secret store (and the marker), else the file.
            const auto& raw = legacyKey->rawPrivate();
            if (secrets.add(identity::account, identity::label, ByteView(raw.data(), raw.size())).ok) {
                touchFile(folder / identity::keyringMarker);
            } else if (!writePrivate(ByteView(raw.data(), raw.size()), folder / identity::fileName)) {
                return false;  // tried again at the next start
            }
            break;
        }
    }

    auto legacyDevices = readWholeFile(legacyFolder / deviceFile::fileName, legacyFileLimit);
    if (legacyDevices.status == FileRead::Status::failed) return false;
    std::vector<PairedDevice> devices;
    if (legacyDevices.status == FileRead::Status::ok) {
        ordered_json root;
        try {
            root = ordered_json::parse(legacyDevices.contents);
        } catch (const std::exception&) {
            root = nullptr;
        }
        bool usable = root.is_object();
        for (const auto& [id, object] : root.items()) usable = usable && object.is_object();
        if (usable) {
            for (const auto& [id, object] : root.items()) {
                if (auto device = importRecord(id, object)) devices.push_back(std::move(*device));
            }
            if (!writePrivate(deviceFile::encode(devices, false), folder / deviceFile::fileName))
                return false;
        }
    }
    touchFile(marker);
    return true;
}

}  // namespace tamborix
