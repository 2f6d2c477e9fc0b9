#include "store/legacy_import.h"

#include <gtest/gtest.h>

#include "protocol/key_pair.h"
#include "protocol/wire.h"
#include "store/device_file.h"
#include "store/device_store.h"
#include "store_test_support.h"
#include "testing/fake_secret_store.h"
#include "testing/manual_loop.h"

namespace tamborix::testing {
namespace {

using Scope = PairedDevice::Scope;

class LegacyImportTest : public ::testing::Test {
protected:
    LegacyImportTest() : where{home / ".local/share/Velmorand", home / ".velmorand"} {
        const auto key = KeyPair::generate();
        legacyKey.assign(key.rawPrivate().begin(), key.rawPrivate().end());
        legacyPublic.assign(key.publicKey().begin(), key.publicKey().end());
    }

    void writeLegacy(const nlohmann::ordered_json& devices) {
        writeText(where.legacyFolder / "server.key", toString(legacyKey));
        writeText(where.legacyFolder / "devices.json", devices.dump());
    }
    static nlohmann::ordered_json entry(const Bytes& pub) {
        return {{"pub", Wire::b64url(pub)}};
    }
    Bytes publicOf(const DeviceStore& store) const {
        return Bytes(store.key().publicKey().begin(), store.key().publicKey().end());
    }

    ManualLoop loop;
    TempFolder home;
    FakeSecretStore secrets;
    DeviceStore::Locations where;
    Bytes legacyKey;
    Bytes legacyPublic;
};

TEST_F(LegacyImportTest, NoIdentityYet_ImportsKeyAndConvertsDevices) {
    const Bytes a = keyOf(1), b = keyOf(2), c = keyOf(3), d = keyOf(4), e = keyOf(5);
    nlohmann::ordered_json legacy;
    auto full = entry(a);
    full["name"] = "Pixel";
    full["scope"] = "presenter";
    full["added"] = 1'600'000'000;
    full["last_seen"] = 1'700'000'000.5;
    legacy[Wire::deviceID(a)] = full;
    auto capital = entry(b);
    capital["scope"] = "Presenter";
    capital["name"] = std::string(70, 'n');
    legacy[Wire::deviceID(b)] = capital;
    auto wrongId = entry(c);
    legacy[Wire::deviceID(e)] = wrongId;
    legacy[Wire::deviceID(d)] = {{"pub", "not base64 at all!"}};
    auto padded = nlohmann::ordered_json{{"pub", Wire::b64std(e)}, {"name", 42}};
    legacy["0" + Wire::deviceID(e).substr(1)] = padded;  // key mismatch: skipped
    legacy[Wire::deviceID(e)] = padded;                  // replaces the wrongId entry
    writeLegacy(legacy);

    DeviceStore store(loop, secrets, where);

    EXPECT_EQ(publicOf(store), legacyPublic);
    EXPECT_EQ(secrets.items.at("server-key-v2").secret, legacyKey);
    EXPECT_EQ(secrets.items.at("server-key-v2").label, "Velmorand Helper identity key");
    EXPECT_TRUE(std::filesystem::exists(where.folder / ".migrated"));
    EXPECT_FALSE(std::filesystem::exists(where.folder / "server.key"));

    const auto text = readText(where.folder / "devices.json");
    EXPECT_EQ(text.find('\n'), std::string::npos) << "the imported list is written compact";
    const auto json = nlohmann::json::parse(text);
    ASSERT_EQ(json.size(), 3u);
    EXPECT_DOUBLE_EQ(json[0]["added"].get<double>(), 1'600'000'000.0 - 978'307'200);
    EXPECT_DOUBLE_EQ(json[0]["lastSeen"].get<double>(), 1'700'000'000.5 - 978'307'200);

    const auto& devices = store.devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].name, "Pixel");
    EXPECT_EQ(devices[0].scope, Scope::presenter);
    EXPECT_EQ(devices[0].added, WallTime{} + std::chrono::seconds(1'600'000'000));
    EXPECT_EQ(devices[1].scope, Scope::full) << "only the exact lower-case value is presenter";
    EXPECT_EQ(devices[1].name, std::string(64, 'n'));
    EXPECT_EQ(devices[1].added, WallTime{}) << "a missing date is the 1970 epoch";
    EXPECT_EQ(devices[2].id, Wire::deviceID(e));
    EXPECT_EQ(devices[2].name, "Device");
    EXPECT_EQ(devices[2].pub, e);
    for (const auto& dev : devices) EXPECT_FALSE(dev.screen.has_value());

    // The older files stay where they were.
    EXPECT_EQ(toBytes(readText(where.legacyFolder / "server.key")), legacyKey);
}

TEST_F(LegacyImportTest, IdentityAlreadyInSecretStore_OnlyWritesMarker) {
    writeLegacy({{Wire::deviceID(keyOf(1)), entry(keyOf(1))}});
    const auto existing = KeyPair::generate();
    secrets.items["server-key-v2"] = {
        "x", Bytes(existing.rawPrivate().begin(), existing.rawPrivate().end())};

    DeviceStore store(loop, secrets, where);

    EXPECT_TRUE(std::filesystem::exists(where.folder / ".migrated"));
    EXPECT_FALSE(std::filesystem::exists(where.folder / "devices.json"));
    EXPECT_TRUE(store.devices().empty());
    EXPECT_EQ(store.key().publicKey(), existing.publicKey());
}

TEST_F(LegacyImportTest, MarkerPresent_OlderFolderNotLookedAt) {
    writeLegacy({{Wire::deviceID(keyOf(1)), entry(keyOf(1))}});
    writeText(where.folder / ".migrated", "");

    DeviceStore store(loop, secrets, where);

    EXPECT_EQ(secrets.finds, 0);
    EXPECT_TRUE(store.devices().empty());
    EXPECT_NE(publicOf(store), legacyPublic);
}

TEST_F(LegacyImportTest, SecondStart_DoesNotImportAgainEvenIfOlderDataChanged) {
    writeLegacy({{Wire::deviceID(keyOf(1)), entry(keyOf(1))}});
    { DeviceStore first(loop, secrets, where); }
    secrets.items.clear();
    writeLegacy({{Wire::deviceID(keyOf(1)), entry(keyOf(1))},
                 {Wire::deviceID(keyOf(2)), entry(keyOf(2))}});
    const auto findsBefore = secrets.finds;

    DeviceStore second(loop, secrets, where);

    EXPECT_EQ(secrets.finds, findsBefore);
    EXPECT_EQ(second.devices().size(), 1u);
}

TEST_F(LegacyImportTest, NoSecretServiceAtFirstStart_ImportedIntoFileAndKeptWhenKeyringAppears) {
    writeLegacy({{Wire::deviceID(keyOf(1)), entry(keyOf(1))}});
    secrets.unavailable = true;
    {
        DeviceStore first(loop, secrets, where);
        EXPECT_TRUE(std::filesystem::exists(where.folder / ".migrated"));
        ASSERT_EQ(first.devices().size(), 1u);
        EXPECT_EQ(publicOf(first), legacyPublic);
        EXPECT_EQ(toBytes(readText(where.folder / "server.key")), legacyKey);
    }
    // The keyring is there at the next start: still the older identity and its phones.
    secrets.unavailable = false;
    DeviceStore second(loop, secrets, where);
    EXPECT_EQ(publicOf(second), legacyPublic);
    EXPECT_EQ(second.devices().size(), 1u);
    EXPECT_TRUE(secrets.items.empty());
}

TEST_F(LegacyImportTest, DevicesCannotBeWritten_NoMarkerAndFinishedAtNextStart) {
    writeLegacy({{Wire::deviceID(keyOf(1)), entry(keyOf(1))}});
    // A folder where devices.json should go makes the write fail.
    std::filesystem::create_directories(where.folder / "devices.json");
    {
        DeviceStore first(loop, secrets, where);
        EXPECT_FALSE(std::filesystem::exists(where.folder / ".migrated"));
        EXPECT_EQ(publicOf(first), legacyPublic);  // the key itself was stored
    }
    std::filesystem::remove(where.folder / "devices.json");
    DeviceStore second(loop, secrets, where);
    EXPECT_TRUE(std::filesystem::exists(where.folder / ".migrated"));
    EXPECT_EQ(publicOf(second), legacyPublic);
    EXPECT_EQ(second.devices().size(), 1u);
}

TEST_F(LegacyImportTest, KeyringLockedAtFirstStart_NothingDecidedUntilItOpens) {
    writeLegacy({{Wire::deviceID(keyOf(1)), entry(keyOf(1))}});
    const auto own = KeyPair::generate();
    secrets.items["server-key-v2"] = {"x", Bytes(own.rawPrivate().begin(), own.rawPrivate().end())};
    secrets.locked = true;
    {
        DeviceStore first(loop, secrets, where);
        EXPECT_FALSE(first.hasIdentity());
        EXPECT_FALSE(std::filesystem::exists(where.folder / ".migrated"));
    }
    secrets.locked = false;
    DeviceStore second(loop, secrets, where);
    EXPECT_EQ(second.key().publicKey(), own.publicKey());  // its own identity wins
    EXPECT_TRUE(second.devices().empty());
    EXPECT_TRUE(std::filesystem::exists(where.folder / ".migrated"));
}

TEST_F(LegacyImportTest, OlderKeyInvalid_NothingImported) {
    writeLegacy({{Wire::deviceID(keyOf(1)), entry(keyOf(1))}});
    writeText(where.legacyFolder / "server.key", std::string(31, 'k'));

    DeviceStore store(loop, secrets, where);

    EXPECT_TRUE(store.devices().empty());
    EXPECT_NE(secrets.items.at("server-key-v2").secret, Bytes(31, 'k'));
}

TEST_F(LegacyImportTest, OlderDevicesNotAllObjects_KeyImportedDevicesNot) {
    writeLegacy({{Wire::deviceID(keyOf(1)), entry(keyOf(1))}, {"other", "text"}});

    DeviceStore store(loop, secrets, where);

    EXPECT_EQ(publicOf(store), legacyPublic);
    EXPECT_FALSE(std::filesystem::exists(where.folder / "devices.json"));
    EXPECT_TRUE(store.devices().empty());
}

TEST_F(LegacyImportTest, AddRefused_ImportedIntoFile) {
    writeLegacy({{Wire::deviceID(keyOf(1)), entry(keyOf(1))}});
    secrets.failAdds = true;

    DeviceStore store(loop, secrets, where);

    EXPECT_EQ(publicOf(store), legacyPublic);
    EXPECT_EQ(toBytes(readText(where.folder / "server.key")), legacyKey);
    EXPECT_EQ(store.devices().size(), 1u);
}

}  // namespace
}  // namespace tamborix::testing
