#include "store/identity_key.h"

#include <gtest/gtest.h>

#include "store/device_store.h"
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

}  // namespace
}  // namespace tamborix::testing
