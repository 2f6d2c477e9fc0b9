#include "store/identity_key.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/wire.h"
#include "store/device_file.h"
#include "store/device_store.h"
#include "store/private_file.h"
#include "store_test_support.h"
#include "testing/fake_secret_store.h"
#include "testing/manual_loop.h"

namespace tamborix::testing {
namespace {

using identity::loadOrCreateKey;

Bytes publicOf(const KeyPair& key) { return Bytes(key.publicKey().begin(), key.publicKey().end()); }
Bytes privateOf(const KeyPair& key) {
    return Bytes(key.rawPrivate().begin(), key.rawPrivate().end());
}

TEST(IdentityFile, FirstAndSecondStart_CreateOwnerOnlyKeyThenReuseIt) {
    TempFolder folder;
    const auto first = loadOrCreateKey(folder.path(), nullptr);
    const auto file = folder / "server.key";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(std::filesystem::file_size(file), 32u);
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(toBytes(readText(file)), privateOf(first));
    EXPECT_EQ(publicOf(loadOrCreateKey(folder.path(), nullptr)), publicOf(first));
}

TEST(IdentityFile, FileOfWrongLength_ReplacedByNewKey) {
    for (const std::size_t size : {0u, 31u, 33u}) {
        SCOPED_TRACE(size);
        TempFolder folder;
        const auto file = folder / "server.key";
        writeText(file, std::string(size, '\x07'));
        const auto key = loadOrCreateKey(folder.path(), nullptr);
        EXPECT_EQ(std::filesystem::file_size(file), 32u);
        EXPECT_EQ(toBytes(readText(file)), privateOf(key));
        EXPECT_EQ(modeOf(file), 0600u);
    }
}

TEST(IdentityFile, UnwritableFolder_StillGivesAKeyForThisRun) {
    TempFolder folder;
    writeText(folder / "file", "");
    const auto key = loadOrCreateKey(folder / "file" / "sub", nullptr);
    EXPECT_EQ(key.publicKey().size(), 32u);
}

TEST(IdentitySecretStore, EmptyStore_NewKeyAddedThereAndFoundNextTime) {
    TempFolder folder;
    FakeSecretStore secrets;
    const auto first = loadOrCreateKey(folder.path(), &secrets);
    ASSERT_EQ(secrets.items.size(), 1u);
    const auto& item = secrets.items.at("server-key-v2");
    EXPECT_EQ(item.label, "Velmorand Helper identity key");
    EXPECT_EQ(item.secret, privateOf(first));
    EXPECT_FALSE(std::filesystem::exists(folder / "server.key"));
    EXPECT_EQ(publicOf(loadOrCreateKey(folder.path(), &secrets)), publicOf(first));
}

TEST(IdentitySecretStore, UnreadableItem_KeptAndFileServesStably) {
    TempFolder folder;
    FakeSecretStore secrets;
    secrets.items["server-key-v2"] = {"Velmorand Helper identity key", Bytes(31, 1)};
    const auto first = loadOrCreateKey(folder.path(), &secrets);
    EXPECT_EQ(secrets.items.at("server-key-v2").secret, Bytes(31, 1)) << "never overwritten";
    EXPECT_EQ(toBytes(readText(folder / "server.key")), privateOf(first));
    EXPECT_EQ(publicOf(loadOrCreateKey(folder.path(), &secrets)), publicOf(first));
}

TEST(IdentitySecretStore, NoService_FileFallbackServesStably) {
    TempFolder folder;
    FakeSecretStore secrets;
    secrets.unavailable = true;
    const auto first = loadOrCreateKey(folder.path(), &secrets);
    EXPECT_TRUE(secrets.items.empty());
    EXPECT_EQ(toBytes(readText(folder / "server.key")), privateOf(first));
    EXPECT_EQ(publicOf(loadOrCreateKey(folder.path(), &secrets)), publicOf(first));
}

TEST(IdentitySecretStore, AddRefused_FileFallbackUsed) {
    TempFolder folder;
    FakeSecretStore secrets;
    secrets.failAdds = true;
    const auto key = loadOrCreateKey(folder.path(), &secrets);
    EXPECT_EQ(toBytes(readText(folder / "server.key")), privateOf(key));
}

TEST(IdentityStore, ExplicitFolder_NeverTouchesSecretStoreAndKeepsKey) {
    ManualLoop loop;
    TempFolder folder;
    const auto first = publicOf(DeviceStore(loop, folder.path()).key());
    EXPECT_EQ(publicOf(DeviceStore(loop, folder.path()).key()), first);
    EXPECT_EQ(std::filesystem::file_size(folder / "server.key"), 32u);
}

TEST(IdentityStore, StandardFolder_UsesSecretStoreAndNoKeyFile) {
    ManualLoop loop;
    TempFolder home;
    FakeSecretStore secrets;
    DeviceStore::Locations where{home / "data" / "Velmorand", home / ".velmorand"};
    const auto first = publicOf(DeviceStore(loop, secrets, where).key());
    EXPECT_EQ(publicOf(DeviceStore(loop, secrets, where).key()), first);
    EXPECT_EQ(secrets.items.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(where.folder / "server.key"));
    EXPECT_EQ(modeOf(where.folder), 0700u);
}

// The conditions a start may meet the keyring in.
enum class Keyring { open, locked, noService };

class IdentitySequence : public ::testing::Test {
protected:
    // One start of the helper; the identity it runs with, if any.
    std::optional<Bytes> start(Keyring keyring) {
        secrets.locked = keyring == Keyring::locked;
        secrets.unavailable = keyring == Keyring::noService;
        DeviceStore store(loop, secrets, where);
        if (!store.hasIdentity()) {
            EXPECT_FALSE(store.identityProblem().empty());
            return std::nullopt;
        }
        return publicOf(store.key());
    }
    // Every start gives the same identity or none.
    void expectOneIdentity(const std::vector<Keyring>& starts) {
        std::optional<Bytes> seen;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const auto got = start(starts[i]);
            if (!got) continue;
            if (!seen) seen = got;
            EXPECT_EQ(*got, *seen) << "start " << i;
        }
        EXPECT_TRUE(seen.has_value());
    }

    ManualLoop loop;
    TempFolder home;
    FakeSecretStore secrets;
    DeviceStore::Locations where{home / "data" / "Velmorand", home / ".velmorand"};
};

TEST_F(IdentitySequence, AlternatingKeyringStates_OneIdentityOrNoneNeverASecond) {
    using enum Keyring;
    const std::vector<std::vector<Keyring>> sequences = {
        {open, locked, noService, open, locked, open},
        {locked, open, noService, locked, open},
        {noService, open, locked, noService, open},
        {open, noService, noService, open},
    };
    for (const auto& sequence : sequences) {
        SCOPED_TRACE(::testing::PrintToString(static_cast<int>(sequence[0])));
        std::filesystem::remove_all(where.folder);
        secrets.items.clear();
        expectOneIdentity(sequence);
    }
}

TEST_F(IdentitySequence, OlderInstallWithoutMarker_PairedPhonesKeepNoServiceFromMinting) {
    using enum Keyring;
    // An older version kept the key in the keyring, wrote no marker, and paired a phone.
    const auto own = KeyPair::generate();
    secrets.items["server-key-v2"] = {"x", privateOf(own)};
    createPrivateFolder(where.folder);
    writeText(where.folder / ".migrated", "");
    PairedDevice phone;
    phone.pub = keyOf(1);
    phone.id = Wire::deviceID(phone.pub);
    phone.name = "Phone";
    writeText(where.folder / "devices.json",
              deviceFile::encode(std::vector<PairedDevice>{phone}, true));

    EXPECT_FALSE(start(noService).has_value());
    EXPECT_FALSE(std::filesystem::exists(where.folder / "server.key"));
    EXPECT_EQ(start(open), publicOf(own));
    EXPECT_TRUE(std::filesystem::exists(where.folder / ".identity-in-keyring"));
    EXPECT_FALSE(start(noService).has_value());
    EXPECT_FALSE(start(locked).has_value());
    EXPECT_EQ(start(open), publicOf(own));
}

TEST_F(IdentitySequence, LockedAtStart_WaitsForUnlockThenAnnouncesTheStoredKey) {
    using enum Keyring;
    const auto first = start(open);
    ASSERT_TRUE(first);
    secrets.locked = true;
    DeviceStore store(loop, secrets, where);
    EXPECT_FALSE(store.hasIdentity());
    EXPECT_EQ(store.identityProblem(), "locked in the keyring");
    EXPECT_EQ(secrets.unlockRequests, 1);
    int identityChanges = 0;
    auto sub = store.subscribe([&](DeviceStore::Change c) {
        if (c == DeviceStore::Change::identity) ++identityChanges;
    });
    secrets.unlock();
    ASSERT_TRUE(store.hasIdentity());
    EXPECT_EQ(publicOf(store.key()), *first);
    EXPECT_TRUE(store.identityProblem().empty());
    EXPECT_EQ(identityChanges, 1);
}

TEST_F(IdentitySequence, NeitherKeyringNorFile_RunOnlyKeySaysSo) {
    secrets.unavailable = true;
    createPrivateFolder(where.folder);
    // A folder where the key file should go.
    std::filesystem::create_directories(where.folder / "server.key.tmp" / "x");
    DeviceStore store(loop, secrets, where);
    ASSERT_TRUE(store.hasIdentity());
    EXPECT_TRUE(store.identityRunOnly());
    EXPECT_NE(store.identityProblem().find("this run only"), std::string::npos);
}

TEST_F(IdentitySequence, DamagedKeyFile_KeptAsideWithWarningNotOverwritten) {
    createPrivateFolder(where.folder);
    writeText(where.folder / "server.key", std::string(31, 'k'));
    secrets.unavailable = true;
    loop.setWallTime(std::chrono::sys_days{std::chrono::year{2026} / 1 / 2});
    DeviceStore store(loop, secrets, where);
    EXPECT_EQ(readText(where.folder / "server.key.bad-20260102T000000Z"), std::string(31, 'k'));
    ASSERT_FALSE(store.warnings().empty());
    EXPECT_NE(store.warnings()[0].find("server.key.bad-20260102T000000Z"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(where.folder / "server.key"), 32u);
}

TEST_F(IdentitySequence, DamagedKeyFileWithPairedPhone_NewKeyUnlessTheMarkerSaysKeyring) {
    PairedDevice phone;
    phone.pub = keyOf(1);
    phone.id = Wire::deviceID(phone.pub);
    phone.name = "Phone";
    const auto plant = [&] {
        std::filesystem::remove_all(where.folder);
        createPrivateFolder(where.folder);
        writeText(where.folder / ".migrated", "");
        writeText(where.folder / "devices.json",
                  deviceFile::encode(std::vector<PairedDevice>{phone}, true));
        writeText(where.folder / "server.key", std::string(31, 'k'));
    };
    secrets.unavailable = true;

    // The key lived in the file: a new one, and the phones are told to pair again.
    plant();
    {
        DeviceStore store(loop, secrets, where);
        ASSERT_TRUE(store.hasIdentity()) << store.identityProblem();
        EXPECT_FALSE(store.identityRunOnly());
        EXPECT_TRUE(std::any_of(store.warnings().begin(), store.warnings().end(), [](const auto& w) {
            return w.find("must pair again") != std::string::npos;
        }));
    }
    EXPECT_EQ(std::filesystem::file_size(where.folder / "server.key"), 32u);

    // The marker says the identity is in the keyring: wait for it, whatever the file held.
    plant();
    writeText(where.folder / ".identity-in-keyring", "");
    DeviceStore store(loop, secrets, where);
    EXPECT_FALSE(store.hasIdentity());
    EXPECT_NE(store.identityProblem().find("in the keyring"), std::string::npos);
}

}  // namespace
}  // namespace tamborix::testing
