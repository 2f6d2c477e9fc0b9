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
                      ? prefixCharacters(name->get<std::string>(), DeviceStore::maxNameCharacters)
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

void importOlderGeneration(const std::filesystem::path& folder,
                           const std::filesystem::path& legacyFolder, SecretStore& secrets) {
    const auto marker = folder / ".migrated";
    std::error_code ec;
    if (std::filesystem::exists(marker, ec) || ec) return;
    touchFile(marker);

    // Anything but a clear "no identity yet" (an identity, a locked or absent service) means
    // there is nothing we may import over.
    if (!secrets.find(identity::account).notFound()) return;

    auto legacyKey = identity::readKeyFile(legacyFolder / identity::fileName);
    if (!legacyKey) return;
    const auto& raw = legacyKey->rawPrivate();
    if (!secrets.add(identity::account, identity::label, ByteView(raw.data(), raw.size())).ok)
        return;

    auto legacyDevices =
        readWholeFile(legacyFolder / deviceFile::fileName, legacyFileLimit);
    if (legacyDevices.status != FileRead::Status::ok) return;
    ordered_json root;
    try {
        root = ordered_json::parse(legacyDevices.contents);
    } catch (const std::exception&) {
        return;
    }
    if (!root.is_object()) return;
    for (const auto& [id, object] : root.items()) {
        if (!object.is_object()) return;
    }
    std::vector<PairedDevice> devices;
    for (const auto& [id, object] : root.items()) {
        if (auto device = importRecord(id, object)) devices.push_back(std::move(*device));
    }
    writePrivate(deviceFile::encode(devices, false), folder / deviceFile::fileName);
}

}  // namespace tamborix
