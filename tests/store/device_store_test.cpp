#include "store/device_store.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/wire.h"
#include "store/device_file.h"
#include "store/file_writer.h"
#include "store/private_file.h"
#include "store_test_support.h"
#include "testing/fake_secret_store.h"
#include "testing/manual_loop.h"
#include "testing/small_disk.h"

namespace tamborix::testing {
namespace {

using Scope = PairedDevice::Scope;

// 2026-01-01 00:00:00 UTC.
const WallTime newYear = WallTime{} + std::chrono::seconds(1'767'225'600);

nlohmann::json record(const Bytes& pub, const std::string& name, const std::string& scope) {
    return {{"id", Wire::deviceID(pub)}, {"name", name},  {"pub", Wire::b64std(pub)},
            {"scope", scope},            {"added", 1.5}, {"lastSeen", 2.25}};
}

class DeviceStoreTest : public ::testing::Test {
protected:
    DeviceStoreTest() { loop.setWallTime(newYear); }

    DeviceStore open() { return DeviceStore(loop, folder.path()); }
    std::filesystem::path file() const { return folder / "devices.json"; }

    ManualLoop loop;
    TempFolder folder;
};

TEST_F(DeviceStoreTest, Load_RecordWithForeignId_IsDroppedAndOthersKept) {
    auto forged = record(keyOf(2), "Forged", "full");
    forged["id"] = Wire::deviceID(keyOf(3));
    auto shortKey = record(keyOf(4), "Short", "full");
    shortKey["pub"] = Wire::b64std(Bytes(31, 4));
    writeText(file(), nlohmann::json::array({record(keyOf(1), "Phone", "presenter"), forged,
                                             shortKey})
                          .dump());
    auto store = open();
    ASSERT_EQ(store.devices().size(), 1u);
    const auto& d = store.devices()[0];
    EXPECT_EQ(d.name, "Phone");
    EXPECT_EQ(d.scope, Scope::presenter);
    EXPECT_EQ(d.pub, keyOf(1));
    EXPECT_DOUBLE_EQ(deviceFile::toStoredSeconds(d.added), 1.5);
    EXPECT_DOUBLE_EQ(deviceFile::toStoredSeconds(d.lastSeen), 2.25);
    EXPECT_FALSE(d.screen.has_value());
}

TEST_F(DeviceStoreTest, Load_UndecodableFiles_GiveEmptyListAndKeepFileAsideOnFirstSave) {
    const auto valid = record(keyOf(1), "Phone", "full");
    auto noLastSeen = valid;
    noLastSeen.erase("lastSeen");
    auto textDate = valid;
    textDate["added"] = "yesterday";
    auto badScreen = valid;
    badScreen["screen"] = "yes";
    auto badBase64 = valid;
    badBase64["pub"] = "***";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"unknown scope", nlohmann::json::array({valid, record(keyOf(2), "X", "admin")}).dump()},
        {"missing key", nlohmann::json::array({noLastSeen}).dump()},
        {"date as text", nlohmann::json::array({textDate}).dump()},
        {"screen not a boolean", nlohmann::json::array({badScreen}).dump()},
        {"key not base64", nlohmann::json::array({valid, badBase64}).dump()},
        {"record not an object", nlohmann::json::array({valid, "text"}).dump()},
        {"object instead of array", valid.dump()},
        {"truncated", nlohmann::json::array({valid}).dump().substr(0, 40)},
        {"empty file", ""},
    };
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        TempFolder own;
        writeText(own / "devices.json", text);
        DeviceStore store(loop, own.path());
        EXPECT_TRUE(store.devices().empty());
        EXPECT_EQ(readText(own / "devices.json"), text) << "loading alone must not touch it";

        EXPECT_TRUE(store.add(keyOf(9), "New"));
        EXPECT_EQ(readJson(own / "devices.json").size(), 1u);
        const auto kept = own / "devices.json.bad-20260101T000000Z";
        ASSERT_TRUE(std::filesystem::exists(kept));
        EXPECT_EQ(readText(kept), text);
        EXPECT_EQ(modeOf(kept), 0600u);

        store.touch(store.devices()[0].id);
        EXPECT_EQ(filesIn(own.path()).size(), 3u) << "kept aside once, not on every save";
    }
}

TEST_F(DeviceStoreTest, Save_UnknownScopeFile_ReplacedByEmptyArrayOnRevoke) {
    writeText(file(), nlohmann::json::array({record(keyOf(1), "P", "owner")}).dump());
    auto store = open();
    store.revoke("0000000000000000");
    EXPECT_EQ(readJson(file()), nlohmann::json::array());
}

TEST_F(DeviceStoreTest, Load_BadFileKeptAsideTwiceInOneSecond_KeepsBoth) {
    writeText(file(), "first");
    EXPECT_TRUE(open().add(keyOf(1), "A"));
    writeText(file(), "second");
    EXPECT_TRUE(open().add(keyOf(2), "B"));
    EXPECT_EQ(readText(folder / "devices.json.bad-20260101T000000Z"), "first");
    EXPECT_EQ(readText(folder / "devices.json.bad-20260101T000000Z-2"), "second");
}

TEST_F(DeviceStoreTest, Save_Format_PrettyArrayWith2001DatesAndPaddedStandardBase64) {
    auto store = open();
    const Bytes pub(32, 0xFF);  // encodes with "/" and "=", which the url alphabet would change
    loop.setWallTime(newYear + std::chrono::milliseconds(250));
    EXPECT_TRUE(store.add(pub, "Phone"));
    const auto text = readText(file());
    EXPECT_NE(text.find('\n'), std::string::npos) << "written pretty printed";
    const auto json = nlohmann::json::parse(text);
    ASSERT_TRUE(json.is_array());
    ASSERT_EQ(json.size(), 1u);
    const auto& d = json[0];
    EXPECT_EQ(d["id"], Wire::deviceID(pub));
    EXPECT_EQ(d["name"], "Phone");
    EXPECT_EQ(d["pub"], "//////////////////////////////////////////8=");
    EXPECT_EQ(d["scope"], "full");
    EXPECT_DOUBLE_EQ(d["added"].get<double>(), 1'767'225'600.25 - 978'307'200);
    EXPECT_DOUBLE_EQ(d["lastSeen"].get<double>(), 1'767'225'600.25 - 978'307'200);
    EXPECT_FALSE(d.contains("screen"));
    EXPECT_EQ(modeOf(file()), 0600u);
}

TEST_F(DeviceStoreTest, SetScreen_FalseTrueAndCleared_WritesKeyOnlyWhenSet) {
    auto store = open();
    const auto id = store.add(keyOf(1), "Phone")->id;
    store.setScreen(id, false);
    EXPECT_EQ(readJson(file())[0]["screen"], false);
    store.setScreen(id, true);
    EXPECT_EQ(readJson(file())[0]["screen"], true);
    store.setScreen(id, std::nullopt);
    EXPECT_FALSE(readJson(file())[0].contains("screen"));
    EXPECT_FALSE(store.devices()[0].screen.has_value());
}

TEST_F(DeviceStoreTest, Reopen_AfterMutations_LoadsEqualDevices) {
    {
        auto store = open();
        EXPECT_TRUE(store.add(keyOf(1), "One"));
        const auto two = store.add(keyOf(2), "Two")->id;
        store.setScope(two, Scope::presenter);
        store.setScreen(two, true);
        loop.advance(90.0);
        store.touch(two);
    }
    auto first = open();
    auto second = open();
    ASSERT_EQ(first.devices().size(), 2u);
    EXPECT_EQ(first.devices(), second.devices());
    const auto& two = first.devices()[1];
    EXPECT_EQ(two.name, "Two");
    EXPECT_EQ(two.scope, Scope::presenter);
    EXPECT_EQ(two.screen, std::optional<bool>(true));
    EXPECT_EQ(two.added, newYear);
    EXPECT_EQ(two.lastSeen, newYear + std::chrono::seconds(90));
}

TEST_F(DeviceStoreTest, Touch_LastSeen_InMemoryAtOnceOnDiskAfterDelayOrWithNextDurableChange) {
    const double stored = 1'767'225'600.0 - 978'307'200;
    auto store = open();
    const auto one = store.add(keyOf(1), "One")->id;
    const auto two = store.add(keyOf(2), "Two")->id;
    int changes = 0;
    auto sub = store.subscribe([&](DeviceStore::Change) { ++changes; });

    loop.advance(10.0);
    store.touch(one);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(store.devices()[0].lastSeen, newYear + std::chrono::seconds(10));
    EXPECT_DOUBLE_EQ(readJson(file())[0]["lastSeen"].get<double>(), stored)
        << "the handshake does not wait for the disk";
    loop.advance(1.0);
    store.touch(two);  // coalesced into the same write
    loop.advance(DeviceStore::lastSeenSaveDelay - std::chrono::seconds(1) -
                 std::chrono::milliseconds(1));
    store.waitForBackgroundWrites();
    EXPECT_DOUBLE_EQ(readJson(file())[1]["lastSeen"].get<double>(), stored);
    loop.advance(std::chrono::milliseconds(1));
    store.waitForBackgroundWrites();
    EXPECT_FALSE(store.lastSeenPending());
    EXPECT_DOUBLE_EQ(readJson(file())[0]["lastSeen"].get<double>(), stored + 10);
    EXPECT_DOUBLE_EQ(readJson(file())[1]["lastSeen"].get<double>(), stored + 11);

    // A durable change writes the waiting time with it, at once, and nothing is left waiting.
    loop.advance(1.0);
    store.touch(one);
    store.setScope(two, Scope::presenter);
    EXPECT_FALSE(store.lastSeenPending());
    const auto json = readJson(file());
    EXPECT_DOUBLE_EQ(json[0]["lastSeen"].get<double>(), stored + 16);
    EXPECT_EQ(json[1]["scope"], "presenter");
}

TEST_F(DeviceStoreTest, Destroy_WithLastSeenWaiting_WritesItBeforeReturning) {
    {
        auto store = open();
        const auto id = store.add(keyOf(1), "Phone")->id;
        loop.advance(42.0);
        store.touch(id);
        ASSERT_TRUE(store.lastSeenPending());
    }
    EXPECT_EQ(open().devices()[0].lastSeen, newYear + std::chrono::seconds(42));
}

TEST(FileWriterTest, WriteNow_AfterQueuedOlderSnapshot_NewestAlwaysWins) {
    TempFolder folder;
    const auto path = folder / "file";
    FileWriter writer(path);
    // Whichever way the worker and the immediate write interleave, the later state must stay.
    for (int i = 0; i < 20; ++i) {
        writer.writeLater("old " + std::to_string(i));
        ASSERT_TRUE(writer.writeNow("new " + std::to_string(i)));
        writer.waitIdle();
        ASSERT_EQ(readText(path), "new " + std::to_string(i));
    }
    writer.writeLater("queued last");
    writer.waitIdle();
    EXPECT_EQ(readText(path), "queued last");
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST_F(DeviceStoreTest, Add_KnownKey_ReplacesRecordMovesItLastAndResetsIt) {
    auto store = open();
    const auto first = store.add(keyOf(1), "Old name")->id;
    EXPECT_TRUE(store.add(keyOf(2), "Other"));
    store.setScope(first, Scope::presenter);
    store.setScreen(first, false);
    loop.advance(60.0);
    const auto again = store.add(keyOf(1), "New name").value();
    EXPECT_EQ(again.id, first);
    ASSERT_EQ(store.devices().size(), 2u);
    EXPECT_EQ(store.devices()[0].name, "Other");
    EXPECT_EQ(store.devices()[1], again);
    EXPECT_EQ(again.scope, Scope::full);
    EXPECT_FALSE(again.screen.has_value());
    EXPECT_EQ(again.added, newYear + std::chrono::seconds(60));
    const auto json = readJson(file());
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[1]["name"], "New name");
    EXPECT_FALSE(json[1].contains("screen"));
}

TEST_F(DeviceStoreTest, Add_LongName_CutToSixtyFourCharactersNotBytes) {
    auto store = open();
    std::string accented;  // "e" + combining acute: one character, three bytes
    for (int i = 0; i < 70; ++i) accented += "e\xCC\x81";
    EXPECT_EQ(store.add(keyOf(1), accented)->name, accented.substr(0, 64 * 3));
    std::string flags;  // a regional-indicator pair: one character, eight bytes
    for (int i = 0; i < 65; ++i) flags += "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";
    EXPECT_EQ(store.add(keyOf(2), flags)->name, flags.substr(0, 64 * 8));
    EXPECT_EQ(store.add(keyOf(3), "short")->name, "short");
}

TEST_F(DeviceStoreTest, Add_SaveFails_NotPairedOneWarningWithReasonAndFileKept) {
    auto store = open();
    EXPECT_TRUE(store.add(keyOf(1), "Kept"));
    // Something that cannot be replaced stands where the temporary file goes (as a full or
    // read-only disk would make the write fail).
    std::filesystem::create_directories(folder / "devices.json.tmp" / "x");
    EXPECT_FALSE(store.add(keyOf(2), "Lost"));
    EXPECT_FALSE(store.add(keyOf(3), "Lost too"));
    ASSERT_EQ(store.devices().size(), 1u);
    EXPECT_EQ(store.devices()[0].name, "Kept");
    ASSERT_EQ(store.warnings().size(), 1u);  // one line, not one per attempt
    EXPECT_NE(store.warnings()[0].find("Could not save the paired devices"), std::string::npos);
    EXPECT_NE(store.warnings()[0].find("(cannot create the temporary file: File exists)"),
              std::string::npos)
        << store.warnings()[0];
    ASSERT_TRUE(store.saveError().has_value());
    EXPECT_EQ(readJson(file()).size(), 1u);

    std::filesystem::remove_all(folder / "devices.json.tmp");
    EXPECT_TRUE(store.add(keyOf(2), "Back"));
    EXPECT_FALSE(store.saveError().has_value());
    EXPECT_EQ(readJson(file()).size(), 2u);
}

TEST_F(DeviceStoreTest, Touch_BackgroundWriteFails_OneWarningWithReason) {
    auto store = open();
    const auto id = store.add(keyOf(1), "Phone")->id;
    std::filesystem::create_directories(folder / "devices.json.tmp" / "x");
    store.touch(id);
    loop.advance(DeviceStore::lastSeenSaveDelay);
    store.waitForBackgroundWrites();
    loop.runPosted();
    ASSERT_EQ(store.warnings().size(), 1u);
    EXPECT_NE(store.warnings()[0].find("Could not save the paired devices"), std::string::npos);
    EXPECT_NE(store.warnings()[0].find("cannot create the temporary file"), std::string::npos);
    ASSERT_TRUE(store.saveError().has_value());
}

TEST(DeviceStoreDiskTest, RevokeAndScope_DiskFull_HoldAtOnceRetriedUntilWrittenAndKeptAfterRestart) {
    SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    ManualLoop loop;
    const auto folder = disk.path() / "store";
    std::string revoked;
    std::string limited;
    {
        DeviceStore store(loop, folder);
        revoked = store.add(keyOf(1), "Lost phone")->id;
        limited = store.add(keyOf(2), "Kid's tablet")->id;
        std::vector<DeviceStore::Change> changes;
        auto sub = store.subscribe([&](DeviceStore::Change c) { changes.push_back(c); });
        ASSERT_TRUE(disk.fill());

        EXPECT_FALSE(store.revoke(revoked));
        EXPECT_FALSE(store.setScope(limited, Scope::presenter));
        EXPECT_FALSE(store.deviceById(revoked));
        EXPECT_FALSE(store.device(keyOf(1)));
        EXPECT_EQ(store.deviceById(limited)->scope, Scope::presenter);
        ASSERT_TRUE(store.saveError());
        EXPECT_NE(store.saveError()->find("No space left on device"), std::string::npos)
            << *store.saveError();

        // Still full: tried again and again, the warning stays, the old file is untouched.
        loop.advance(DeviceStore::longestSaveRetry * 3);
        EXPECT_TRUE(store.saveError());
        EXPECT_TRUE(store.saveRetryPending());
        EXPECT_EQ(readJson(folder / "devices.json").size(), 2u);
        EXPECT_EQ(std::count(changes.begin(), changes.end(), DeviceStore::Change::saved), 0);

        disk.drain();
        loop.advance(DeviceStore::longestSaveRetry);
        EXPECT_FALSE(store.saveError());
        EXPECT_FALSE(store.saveRetryPending());
        EXPECT_EQ(std::count(changes.begin(), changes.end(), DeviceStore::Change::saved), 1);
    }
    DeviceStore again(loop, folder);
    EXPECT_FALSE(again.deviceById(revoked));
    ASSERT_TRUE(again.deviceById(limited));
    EXPECT_EQ(again.deviceById(limited)->scope, Scope::presenter);
}

TEST(DeviceStoreDiskTest, Revoke_UnsavedWhenTheHelperStops_WrittenOnTheWayOut) {
    SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    ManualLoop loop;
    const auto folder = disk.path() / "store";
    std::string id;
    {
        DeviceStore store(loop, folder);
        id = store.add(keyOf(1), "Lost phone")->id;
        ASSERT_TRUE(disk.setReadOnly(true));
        EXPECT_FALSE(store.revoke(id));
        EXPECT_NE(store.saveError()->find("Read-only file system"), std::string::npos)
            << *store.saveError();
        ASSERT_TRUE(disk.setReadOnly(false));
    }
    EXPECT_FALSE(DeviceStore(loop, folder).deviceById(id));
}

TEST(DeviceStorePlantedFiles, LinksAndFifos_NeverFollowedWaitedOnOrCreated) {
    TempFolder home;
    ManualLoop loop;
    FakeSecretStore secrets;
    secrets.unavailable = true;
    const DeviceStore::Locations where{home / "Velmorand", home / ".velmorand"};
    createPrivateFolder(where.folder);
    // A file of somebody else's that a link points to, and a link to where nothing is yet.
    writeText(home / "victim", "[]");
    ::chmod((home / "victim").c_str(), 0644);
    std::filesystem::create_symlink(home / "victim", where.folder / "devices.json");
    std::filesystem::create_symlink(home / "created-through-link", where.folder / ".migrated");
    ASSERT_EQ(::mkfifo((where.folder / "server.key").c_str(), 0600), 0);

    // Neither the FIFO nor the link holds the start-up (a FIFO would block in open()).
    DeviceStore store(loop, secrets, where);
    ASSERT_TRUE(store.hasIdentity()) << store.identityProblem();
    ASSERT_FALSE(store.warnings().empty());
    EXPECT_NE(store.warnings()[0].find("symbolic link"), std::string::npos) << store.warnings()[0];
    ASSERT_TRUE(store.add(keyOf(1), "Phone"));
    EXPECT_EQ(modeOf(home / "victim"), 0644u);
    EXPECT_EQ(readText(home / "victim"), "[]");
    EXPECT_FALSE(std::filesystem::exists(home / "created-through-link"));
    EXPECT_EQ(std::filesystem::symlink_status(where.folder / "devices.json").type(),
              std::filesystem::file_type::regular);
}

TEST_F(DeviceStoreTest, Add_InvisibleCharacters_RemovedEmojiJoinersKeptBlankNameGetsFallback) {
    auto store = open();
    // Zero-width space, word joiner, BOM, soft hyphen, a tag, a Hangul filler, private use and a
    // noncharacter hidden in "Ada".
    const std::string hidden = "A\u200B\u2060d\uFEFF\u00ADa\U000E0041\u3164\uE000\uFFFF";
    EXPECT_EQ(store.add(keyOf(1), hidden)->name, "Ada");
    // Family emoji (joined by ZWJ) and the flag of England (black flag + tags) stay whole.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    const std::string england = "\U0001F3F4\U000E0067\U000E0062\U000E0065\U000E006E\U000E0067\U000E007F";
    EXPECT_EQ(store.add(keyOf(2), family + " " + england)->name, family + " " + england);
    EXPECT_EQ(store.add(keyOf(3), "x\u200Dy")->name, "xy");
    EXPECT_EQ(store.add(keyOf(4), "\u200B \u3164\u115F")->name, "Device");
    EXPECT_EQ(store.add(keyOf(5), "")->name, "Device");
}

TEST_F(DeviceStoreTest, Add_KeyOfWrongLength_RefusedWithoutChange) {
    auto store = open();
    EXPECT_THROW((void)store.add(Bytes(31, 1), "Bad"), std::invalid_argument);
    EXPECT_TRUE(store.devices().empty());
    EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(DeviceStoreTest, UnknownId_TouchScopeScreenWriteNothingButRevokeRewrites) {
    auto store = open();
    EXPECT_TRUE(store.add(keyOf(1), "Phone"));
    writeText(file(), "sentinel");
    int changes = 0;
    auto sub = store.subscribe([&](DeviceStore::Change) { ++changes; });
    store.touch("ffffffffffffffff");
    store.setScope("ffffffffffffffff", Scope::presenter);
    store.setScreen("ffffffffffffffff", true);
    EXPECT_EQ(readText(file()), "sentinel");
    EXPECT_EQ(changes, 0);
    store.revoke("ffffffffffffffff");
    EXPECT_EQ(readJson(file()).size(), 1u) << "revoke saves even when nothing was removed";
    EXPECT_EQ(changes, 0);
}

TEST_F(DeviceStoreTest, Revoke_StoredId_RemovesItAndKeepsOrderOfOthers) {
    auto store = open();
    EXPECT_TRUE(store.add(keyOf(1), "One"));
    const auto two = store.add(keyOf(2), "Two")->id;
    EXPECT_TRUE(store.add(keyOf(3), "Three"));
    store.revoke(two);
    ASSERT_EQ(store.devices().size(), 2u);
    EXPECT_EQ(store.devices()[0].name, "One");
    EXPECT_EQ(store.devices()[1].name, "Three");
    EXPECT_FALSE(store.deviceById(two));
    EXPECT_EQ(readJson(file()).size(), 2u);
}

TEST_F(DeviceStoreTest, Device_ByKeyAndById_FindOnlyStoredRecords) {
    auto store = open();
    const auto stored = store.add(keyOf(1), "Phone").value();
    EXPECT_EQ(store.device(keyOf(1)), stored);
    EXPECT_EQ(store.deviceById(stored.id), stored);
    EXPECT_FALSE(store.device(keyOf(2)));
    EXPECT_FALSE(store.device(Bytes{}));
    EXPECT_FALSE(store.deviceById(""));
}

TEST_F(DeviceStoreTest, Subscribe_Mutations_NotifyAfterChangeUntilDropped) {
    auto store = open();
    std::vector<DeviceStore::Change> seen;
    std::size_t countAtNotice = 0;
    auto sub = store.subscribe([&](DeviceStore::Change c) {
        seen.push_back(c);
        countAtNotice = store.devices().size();
    });
    const auto id = store.add(keyOf(1), "Phone")->id;
    EXPECT_EQ(countAtNotice, 1u) << "observers see the new state";
    store.touch(id);
    store.openPairing();
    EXPECT_EQ(seen, (std::vector<DeviceStore::Change>{DeviceStore::Change::devices,
                                                      DeviceStore::Change::devices,
                                                      DeviceStore::Change::pairing}));
    sub.reset();
    store.revoke(id);
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(DeviceStoreTest, Subscribe_ObserverDroppingItselfDuringNotice_IsSafe) {
    auto store = open();
    int first = 0;
    int second = 0;
    Subscription a;
    Subscription b;
    a = store.subscribe([&](DeviceStore::Change) {
        ++first;
        a.reset();
        b.reset();
    });
    b = store.subscribe([&](DeviceStore::Change) { ++second; });
    EXPECT_TRUE(store.add(keyOf(1), "Phone"));
    EXPECT_TRUE(store.add(keyOf(2), "Tablet"));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0) << "an observer dropped during a notice is not called";
}

TEST_F(DeviceStoreTest, Construct_MissingNestedFolder_CreatedOwnerOnly) {
    const auto nested = folder / "a" / "b" / "Velmorand";
    DeviceStore store(loop, nested);
    EXPECT_TRUE(std::filesystem::is_directory(nested));
    EXPECT_EQ(modeOf(nested), 0700u);
    EXPECT_EQ(modeOf(folder / "a"), 0700u);
    EXPECT_EQ(store.filePath(), nested / "devices.json");
    EXPECT_TRUE(store.add(keyOf(1), "Phone"));
    EXPECT_EQ(readJson(nested / "devices.json").size(), 1u);
}

TEST(DeviceStoreLocations, Standard_FollowsXdgDataHomeElseHome) {
    const auto saveEnv = [](const char* name) {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto home = saveEnv("HOME");
    const auto data = saveEnv("XDG_DATA_HOME");
    ::setenv("HOME", "/h/user", 1);
    ::setenv("XDG_DATA_HOME", "/d/data", 1);
    auto withXdg = DeviceStore::Locations::standard();
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    auto relative = DeviceStore::Locations::standard();
    ::unsetenv("XDG_DATA_HOME");
    auto without = DeviceStore::Locations::standard();
    home ? ::setenv("HOME", home->c_str(), 1) : ::unsetenv("HOME");
    data ? ::setenv("XDG_DATA_HOME", data->c_str(), 1) : ::unsetenv("XDG_DATA_HOME");

    EXPECT_EQ(withXdg.folder, "/d/data/Velmorand");
    EXPECT_EQ(withXdg.legacyFolder, "/h/user/.velmorand");
    EXPECT_EQ(relative.folder, "/h/user/.local/share/Velmorand");
    EXPECT_EQ(without.folder, "/h/user/.local/share/Velmorand");
}

}  // namespace
}  // namespace tamborix::testing
