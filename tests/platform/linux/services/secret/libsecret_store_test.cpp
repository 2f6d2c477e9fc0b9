#include "platform/linux/services/secret/libsecret_store.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

#include "support/private_session_bus.h"
#include "protocol/wire.h"
#include "store/device_store.h"
#include "testing/manual_loop.h"
#include "store/store_test_support.h"

namespace tamborix::testing {
namespace {

constexpr const char* secretsName = "org.freedesktop.secrets";

// One private bus for the whole program: GLib keeps one session connection per process.
class SecretServiceEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        root_ = std::make_unique<TempFolder>();
        for (const char* sub : {"home", "data", "config", "cache", "runtime"})
            std::filesystem::create_directories(root_->path() / sub);
        std::filesystem::permissions(root_->path() / "runtime", std::filesystem::perms::owner_all);
        ::setenv("HOME", (root_->path() / "home").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root_->path() / "data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_->path() / "config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (root_->path() / "cache").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (root_->path() / "runtime").c_str(), 1);
        // Never the real session bus, whatever happens below.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tamborix-test-bus", 1);
        ::unsetenv("DISPLAY");

        if (auto why = bus_.start(root_->path()); !why.empty()) {
            skipReason = why;
            return;
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().c_str(), 1);
        GError* error = nullptr;
        connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (!connection_) {
            skipReason = std::string("cannot connect to the private bus: ") + error->message;
            g_error_free(error);
            return;
        }
        // The bus goes away before the process does; that must not end the test program.
        g_dbus_connection_set_exit_on_close(connection_, FALSE);
    }

    void TearDown() override {
        bus_.stop();
        if (connection_) g_object_unref(connection_);
        connection_ = nullptr;
        root_.reset();
    }

    static inline std::string skipReason;
    static inline std::string busAddress() { return std::getenv("DBUS_SESSION_BUS_ADDRESS"); }

private:
    std::unique_ptr<TempFolder> root_;
    PrivateSessionBus bus_;
    GDBusConnection* connection_ = nullptr;
};

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new SecretServiceEnvironment);

#define SKIP_WITHOUT_BUS()                                                           \
    if (!SecretServiceEnvironment::skipReason.empty())                               \
    GTEST_SKIP() << "no private D-Bus session bus: " << SecretServiceEnvironment::skipReason

Bytes sampleSecret() {
    Bytes secret(32);
    for (std::size_t i = 0; i < secret.size(); ++i) secret[i] = static_cast<std::uint8_t>(255 - i * 5);
    secret[3] = 0;  // a zero byte inside must survive
    return secret;
}

class KeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_BUS();
        ASSERT_TRUE(waitForBusName(secretsName, false)) << "a keyring from another test is still up";
        if (auto why = keyring.start(folder.path(), SecretServiceEnvironment::busAddress());
            !why.empty()) {
            GTEST_SKIP() << "no private gnome-keyring: " << why;
        }
    }

    TempFolder folder;
    PrivateKeyring keyring;
};

TEST(LibsecretStoreWithoutService, FindLookupAdd_NothingOwnsTheName_FailWithoutNotFound) {
    SKIP_WITHOUT_BUS();
    ASSERT_TRUE(waitForBusName(secretsName, false));
    LibsecretStore store;
    const auto found = store.find("server-key-v2");
    EXPECT_EQ(found.status, SecretLookup::Status::failed);
    EXPECT_FALSE(found.error.empty());
    EXPECT_EQ(store.lookup("server-key-v2").status, SecretLookup::Status::failed);
    EXPECT_FALSE(store.add("server-key-v2", "label", sampleSecret()).ok);
}

TEST(LibsecretStoreWithoutService, Lookup_NoSessionBusConfigured_FailsWithoutAutolaunch) {
    const std::string address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
    std::optional<SecretLookup> result;
    {
        LibsecretStore store;
        result = store.lookup("server-key-v2");
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    EXPECT_EQ(result->status, SecretLookup::Status::failed);
    EXPECT_EQ(result->error, "no D-Bus session bus");
}

// Owns the Secret Service's name on the bus and never answers a call.
class SilentService {
public:
    SilentService() {
        GError* error = nullptr;
        connection_ = g_dbus_connection_new_for_address_sync(
            SecretServiceEnvironment::busAddress().c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (!connection_) {
            g_error_free(error);
            return;
        }
        g_dbus_connection_set_exit_on_close(connection_, FALSE);
        g_dbus_connection_add_filter(
            connection_,
            [](GDBusConnection*, GDBusMessage* message, gboolean incoming,
               gpointer) -> GDBusMessage* {
                if (incoming &&
                    g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
                    g_object_unref(message);
                    return nullptr;
                }
                return message;
            },
            nullptr, nullptr);
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", secretsName, 4u /* do not queue */),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        if (reply) {
            guint32 code = 0;
            g_variant_get(reply, "(u)", &code);
            owned_ = code == 1;
            g_variant_unref(reply);
        } else {
            g_error_free(error);
        }
    }
    ~SilentService() {
        if (!connection_) return;
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
        waitForBusName(secretsName, false);
    }
    [[nodiscard]] bool owned() const { return owned_; }

private:
    GDBusConnection* connection_ = nullptr;
    bool owned_ = false;
};

TEST(LibsecretStoreWithoutService, Lookup_ServiceNeverAnswers_GivesUpAsFailure) {
    SKIP_WITHOUT_BUS();
    ASSERT_TRUE(waitForBusName(secretsName, false));
    SilentService silent;
    ASSERT_TRUE(silent.owned());
    LibsecretStore store(std::string(LibsecretStore::defaultService), std::chrono::milliseconds(300));
    const auto result = store.lookup("server-key-v2");
    EXPECT_EQ(result.status, SecretLookup::Status::failed);
    EXPECT_EQ(store.find("server-key-v2").status, SecretLookup::Status::failed);
}

TEST_F(KeyringTest, AddLookupFind_RealService_StoresExactBytesPerAccount) {
    LibsecretStore store;
    EXPECT_EQ(store.find("server-key-v2").status, SecretLookup::Status::notFound);
    EXPECT_EQ(store.lookup("server-key-v2").status, SecretLookup::Status::notFound);

    const auto secret = sampleSecret();
    const auto added = store.add("server-key-v2", "Velmorand Helper identity key", secret);
    ASSERT_TRUE(added.ok) << added.error;

    const auto read = store.lookup("server-key-v2");
    ASSERT_EQ(read.status, SecretLookup::Status::found) << read.error;
    EXPECT_EQ(read.secret, secret);
    EXPECT_EQ(store.find("server-key-v2").status, SecretLookup::Status::found);
    EXPECT_EQ(store.lookup("another-account").status, SecretLookup::Status::notFound);

    LibsecretStore otherApp("org.example.Other");
    EXPECT_EQ(otherApp.lookup("server-key-v2").status, SecretLookup::Status::notFound)
        << "items are scoped by the service attribute";
}

TEST_F(KeyringTest, Add_ExistingItem_RefusedAndValueKept) {
    LibsecretStore store;
    ASSERT_TRUE(store.add("server-key-v2", "first", sampleSecret()).ok);
    const auto again = store.add("server-key-v2", "second", Bytes(32, 1));
    EXPECT_FALSE(again.ok);
    EXPECT_FALSE(again.error.empty());
    EXPECT_EQ(store.lookup("server-key-v2").secret, sampleSecret());
}

TEST_F(KeyringTest, Add_StoredItem_HasLabelAndBase64Text) {
    {
        LibsecretStore store;
        ASSERT_TRUE(store.add("server-key-v2", "Velmorand Helper identity key", sampleSecret()).ok);
    }
    // Read back over the plain Secret Service interface, as any other client would.
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    ASSERT_NE(bus, nullptr);
    GVariantBuilder attrs;
    g_variant_builder_init(&attrs, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&attrs, "{ss}", "service", "io.tamborix.Helper");
    g_variant_builder_add(&attrs, "{ss}", "account", "server-key-v2");
    GVariant* found = g_dbus_connection_call_sync(
        bus, secretsName, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
        "SearchItems", g_variant_new("(a{ss})", &attrs), G_VARIANT_TYPE("(aoao)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    ASSERT_NE(found, nullptr) << error->message;
    GVariant* unlocked = g_variant_get_child_value(found, 0);
    ASSERT_EQ(g_variant_n_children(unlocked), 1u);
    const gchar* path = nullptr;
    g_variant_get_child(unlocked, 0, "&o", &path);
    GVariant* label = g_dbus_connection_call_sync(
        bus, secretsName, path, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.freedesktop.Secret.Item", "Label"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    ASSERT_NE(label, nullptr) << error->message;
    GVariant* value = nullptr;
    g_variant_get(label, "(v)", &value);
    EXPECT_STREQ(g_variant_get_string(value, nullptr), "Velmorand Helper identity key");
    g_variant_unref(value);
    g_variant_unref(label);

    GVariant* session = g_dbus_connection_call_sync(
        bus, secretsName, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
        "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")),
        G_VARIANT_TYPE("(vo)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    ASSERT_NE(session, nullptr) << error->message;
    const gchar* sessionPath = nullptr;
    g_variant_get_child(session, 1, "&o", &sessionPath);
    GVariant* secret = g_dbus_connection_call_sync(
        bus, secretsName, path, "org.freedesktop.Secret.Item", "GetSecret",
        g_variant_new("(o)", sessionPath), G_VARIANT_TYPE("((oayays))"), G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr, &error);
    ASSERT_NE(secret, nullptr) << error->message;
    GVariant* bytes = nullptr;
    g_variant_get(secret, "((o@ay@ays))", nullptr, nullptr, &bytes, nullptr);
    gsize length = 0;
    const auto* data = static_cast<const char*>(g_variant_get_fixed_array(bytes, &length, 1));
    EXPECT_EQ(std::string(data, length), Wire::b64std(sampleSecret()));
    g_variant_unref(bytes);
    g_variant_unref(secret);
    g_variant_unref(session);
    g_variant_unref(unlocked);
    g_variant_unref(found);
    g_object_unref(bus);
}

TEST_F(KeyringTest, DeviceStore_StandardFolder_KeepsImportedIdentityInKeyring) {
    ManualLoop loop;
    DeviceStore::Locations where{folder / "app" / "Velmorand", folder / "app" / ".velmorand"};
    const auto legacy = KeyPair::generate();
    writeText(where.legacyFolder / "server.key",
              toString(Bytes(legacy.rawPrivate().begin(), legacy.rawPrivate().end())));
    writeText(where.legacyFolder / "devices.json", "{}");

    LibsecretStore secrets;
    const auto first = DeviceStore(loop, secrets, where).key().publicKey();
    EXPECT_EQ(first, legacy.publicKey());
    EXPECT_FALSE(std::filesystem::exists(where.folder / "server.key"));
    std::filesystem::remove(where.legacyFolder / "server.key");
    EXPECT_EQ(DeviceStore(loop, secrets, where).key().publicKey(), first);
}

// Locks the default collection as the desktop does at screen lock or login without password.
void lockDefaultCollection() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    ASSERT_NE(bus, nullptr);
    const char* all[] = {"/org/freedesktop/secrets/aliases/default"};
    GVariant* reply = g_dbus_connection_call_sync(
        bus, secretsName, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "Lock",
        g_variant_new("(@ao)", g_variant_new_objv(all, 1)), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, &error);
    g_object_unref(bus);
    ASSERT_NE(reply, nullptr) << error->message;
    g_variant_unref(reply);
}

// Unlocks it as the user typing the password into the keyring's own prompt would.
void unlockDefaultCollection(const std::string& password = "test-password") {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    ASSERT_NE(bus, nullptr);
    GVariant* alias = g_dbus_connection_call_sync(
        bus, secretsName, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
        "ReadAlias", g_variant_new("(s)", "default"), G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    ASSERT_NE(alias, nullptr) << error->message;
    GVariant* session = g_dbus_connection_call_sync(
        bus, secretsName, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
        "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")),
        G_VARIANT_TYPE("(vo)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    ASSERT_NE(session, nullptr) << error->message;
    const gchar* collection = nullptr;
    g_variant_get(alias, "(&o)", &collection);
    const gchar* sessionPath = nullptr;
    g_variant_get_child(session, 1, "&o", &sessionPath);
    GVariant* secret = g_variant_new(
        "(o@ay@ays)", sessionPath,
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password.data(), password.size(), 1),
        "text/plain");
    GVariant* reply = g_dbus_connection_call_sync(
        bus, secretsName, "/org/freedesktop/secrets",
        "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
        g_variant_new("(o@(oayays))", collection, secret), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, &error);
    g_variant_unref(session);
    g_variant_unref(alias);
    g_object_unref(bus);
    ASSERT_NE(reply, nullptr) << error->message;
    g_variant_unref(reply);
}

// Runs the loop's posted jobs until `done` or the deadline.
bool runUntil(ManualLoop& loop, const std::function<bool()>& done,
              std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        loop.runPosted();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST_F(KeyringTest, RequestUnlock_UserUnlocksLaterAfterThePrompt_ReadyOnceOnTheLoop) {
    ManualLoop loop;
    LibsecretStore store(loop, std::string(LibsecretStore::defaultService),
                         std::chrono::seconds(3));
    ASSERT_TRUE(store.add("server-key-v2", "label", sampleSecret()).ok);
    lockDefaultCollection();
    ASSERT_EQ(store.lookup("server-key-v2").status, SecretLookup::Status::failed);

    int ready = 0;
    store.requestUnlock("server-key-v2", [&] { ++ready; });
    // The keyring's own prompt cannot be shown here (no prompter on this bus), as when the user
    // dismisses it: nothing is ready while the keyring stays locked (long enough for the prompt
    // to fail and the item to be looked at again) ...
    EXPECT_FALSE(runUntil(loop, [&] { return ready > 0; }, std::chrono::milliseconds(1500)));
    // ... and unlocking it some other way afterwards is still noticed.
    unlockDefaultCollection();
    ASSERT_TRUE(runUntil(loop, [&] { return ready > 0; }));
    EXPECT_EQ(store.lookup("server-key-v2").secret, sampleSecret());
    loop.runPosted();
    EXPECT_EQ(ready, 1);
}

TEST(LibsecretStoreWithoutService, RequestUnlock_ServiceAppearsLater_ReadyRuns) {
    SKIP_WITHOUT_BUS();
    ASSERT_TRUE(waitForBusName(secretsName, false));
    ManualLoop loop;
    LibsecretStore store(loop);
    int ready = 0;
    store.requestUnlock("server-key-v2", [&] { ++ready; });
    TempFolder folder;
    PrivateKeyring keyring;
    if (auto why = keyring.start(folder.path(), SecretServiceEnvironment::busAddress());
        !why.empty())
        GTEST_SKIP() << "no private gnome-keyring: " << why;
    EXPECT_TRUE(runUntil(loop, [&] { return ready > 0; }));
    keyring.stop();
    ASSERT_TRUE(waitForBusName(secretsName, false));
}

TEST_F(KeyringTest, Lookup_LockedKeyring_NeverReportsNotFound) {
    LibsecretStore store(std::string(LibsecretStore::defaultService), std::chrono::seconds(3));
    ASSERT_TRUE(store.add("server-key-v2", "label", sampleSecret()).ok);
    lockDefaultCollection();

    const auto locked = store.lookup("server-key-v2");
    EXPECT_EQ(locked.status, SecretLookup::Status::failed) << "status " << int(locked.status);
    EXPECT_EQ(store.find("server-key-v2").status, SecretLookup::Status::found);
    EXPECT_FALSE(store.add("server-key-v2", "label", Bytes(32, 1)).ok);
}

}  // namespace
}  // namespace tamborix::testing
