#include "platform/linux/services/secret/libsecret_store.h"

#include "platform/linux/services/secret/unlock_watch.h"
#include "protocol/wire.h"

#include "base/owned.h"

#include <libsecret/secret.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <functional>
#include <utility>

namespace tamborix {
namespace {

// Secrets travel as standard base64 text: every Secret Service implementation keeps text
// intact, while some turn arbitrary bytes into (lossy) UTF-8.
constexpr std::size_t secretTextLimit = 1 << 16;
// After cancelling, how long a call may take to wind down before it is abandoned.
constexpr gint64 graceMicros = 1'000'000;

const SecretSchema* schema() {
    // Matched by attributes only, so an item created by another tool with the same service and
    // account is found too.
    static const SecretSchema s = {
        "io.tamborix.Helper.Secret",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &s;
}

void destroySource(GSource* s) {
    g_source_destroy(s);
    g_source_unref(s);
}

using ContextPtr = Owned<GMainContext, g_main_context_unref>;
using TablePtr = Owned<GHashTable, g_hash_table_unref>;
using ErrorPtr = Owned<GError, g_error_free>;
using SourcePtr = Owned<GSource, destroySource>;
using ResultPtr = Owned<GAsyncResult, g_object_unref>;
using CancellablePtr = Owned<GCancellable, g_object_unref>;
using SecretText = Owned<gchar, secret_password_free>;

// The session bus as GLib finds it, or empty when there is none (GLib would otherwise try to
// autolaunch one, spawning dbus-launch).
std::string sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return {};
    struct stat st {};
    const std::string socket = std::string(runtime) + "/bus";
    if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return {};
    return "unix:path=" + socket;
}

bool sessionBusConfigured() { return !sessionBusAddress().empty(); }

// One asynchronous call's outcome; outlives an abandoned wait so a late callback stays harmless.
struct Pending {
    GAsyncResult* result = nullptr;
    bool abandoned = false;

    static void done(GObject*, GAsyncResult* result, gpointer data) {
        auto* self = static_cast<Pending*>(data);
        if (self->abandoned) {
            delete self;
            return;
        }
        self->result = G_ASYNC_RESULT(g_object_ref(result));
    }
};

struct Completed {
    ResultPtr result;  // null when the call was abandoned
};

SecretLookup failed(std::string error) {
    SecretLookup r;
    r.status = SecretLookup::Status::failed;
    r.error = std::move(error);
    return r;
}

}  // namespace

struct LibsecretStore::Impl {
    std::string service;
    Duration timeout;
    ContextPtr context{g_main_context_new()};

    TablePtr attributes(std::string_view account) const {
        TablePtr table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
        g_hash_table_insert(table.get(), g_strdup("service"), g_strdup(service.c_str()));
        g_hash_table_insert(table.get(), g_strdup("account"),
                            g_strndup(account.data(), account.size()));
        return table;
    }

    // Starts one asynchronous libsecret call on the private context and runs that context until
    // the call completes or the time limit is over (then the call is cancelled, and abandoned if
    // it does not wind down promptly).
    void run(const std::function<void(GCancellable*, GAsyncReadyCallback, gpointer)>& start,
             Completed& out) {
        g_main_context_push_thread_default(context.get());
        const CancellablePtr cancellable(g_cancellable_new());
        auto* pending = new Pending;
        start(cancellable.get(), &Pending::done, pending);

        const auto limitMs = static_cast<guint>(
            std::max<std::int64_t>(1, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          timeout).count()));
        SourcePtr cancelTimer(g_timeout_source_new(limitMs));
        g_source_set_callback(
            cancelTimer.get(),
            [](gpointer c) -> gboolean {
                g_cancellable_cancel(static_cast<GCancellable*>(c));
                return G_SOURCE_REMOVE;
            },
            cancellable.get(), nullptr);
        g_source_attach(cancelTimer.get(), context.get());
        bool givenUp = false;
        SourcePtr giveUpTimer(g_timeout_source_new(limitMs + graceMicros / 1000));
        g_source_set_callback(
            giveUpTimer.get(),
            [](gpointer flag) -> gboolean {
                *static_cast<bool*>(flag) = true;
                return G_SOURCE_REMOVE;
            },
            &givenUp, nullptr);
        g_source_attach(giveUpTimer.get(), context.get());

        while (!pending->result && !givenUp) g_main_context_iteration(context.get(), TRUE);

        if (pending->result) {
            out.result.reset(std::exchange(pending->result, nullptr));
            delete pending;
        } else {
            pending->abandoned = true;
        }
        giveUpTimer.reset();
        cancelTimer.reset();
        g_main_context_pop_thread_default(context.get());
    }

    static std::string describe(const GError* error, const Completed& done) {
        if (!done.result) return "the Secret Service did not answer in time";
        if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
            return "the Secret Service did not answer in time";
        return error ? error->message : "unknown Secret Service failure";
    }

    void release();

    SecretLookup find(std::string_view account) {
        if (!sessionBusConfigured()) return failed("no D-Bus session bus");
        auto attrs = attributes(account);
        Completed done;
        run(
            [&](GCancellable* c, GAsyncReadyCallback cb, gpointer data) {
                // No unlocking: locked items count as existing.
                secret_password_searchv(schema(), attrs.get(), SECRET_SEARCH_NONE, c, cb, data);
            },
            done);
        if (!done.result) return failed(describe(nullptr, done));
        GError* raw = nullptr;
        GList* items = secret_password_search_finish(done.result.get(), &raw);
        ErrorPtr error(raw);
        if (error) return failed(describe(error.get(), done));
        SecretLookup r;
        r.status = items ? SecretLookup::Status::found : SecretLookup::Status::notFound;
        g_list_free_full(items, g_object_unref);
        return r;
    }

    SecretLookup lookup(std::string_view account) {
        if (!sessionBusConfigured()) return failed("no D-Bus session bus");
        auto attrs = attributes(account);
        Completed done;
        run(
            [&](GCancellable* c, GAsyncReadyCallback cb, gpointer data) {
                secret_password_lookupv(schema(), attrs.get(), c, cb, data);
            },
            done);
        if (!done.result) return failed(describe(nullptr, done));
        GError* raw = nullptr;
        const SecretText text(secret_password_lookup_finish(done.result.get(), &raw));
        ErrorPtr error(raw);
        if (error) return failed(describe(error.get(), done));
        if (!text) {
            // A dismissed unlock prompt also ends in "nothing"; only a search can tell apart a
            // locked item from a missing one.
            auto present = find(account);
            if (present.found()) return failed("the keyring holding the item is locked");
            return present;
        }
        SecretLookup r;
        try {
            r.secret = Wire::b64d(std::string_view(text.get()), secretTextLimit);
            r.status = SecretLookup::Status::found;
        } catch (const std::exception&) {
            r = failed("the stored secret is not base64 text");
        }
        return r;
    }

    SecretWrite add(std::string_view account, std::string_view label, ByteView secret) {
        // The Secret Service replaces an item with the same attributes; creating must not.
        auto existing = find(account);
        if (existing.found()) return {false, "an item for this account already exists"};
        if (!existing.notFound()) return {false, existing.error};

        auto attrs = attributes(account);
        const std::string labelText(label);
        std::string text = Wire::b64std(secret);
        Completed done;
        run(
            [&](GCancellable* c, GAsyncReadyCallback cb, gpointer data) {
                secret_password_storev(schema(), attrs.get(), SECRET_COLLECTION_DEFAULT,
                                       labelText.c_str(), text.c_str(), c, cb, data);
            },
            done);
        std::fill(text.begin(), text.end(), '\0');
        if (!done.result) return {false, describe(nullptr, done)};
        GError* raw = nullptr;
        const bool ok = secret_password_store_finish(done.result.get(), &raw);
        ErrorPtr error(raw);
        if (!ok || error) return {false, describe(error.get(), done)};
        return {true, {}};
    }
};

LibsecretStore::LibsecretStore(std::string service, Duration timeout)
    : impl_(std::make_unique<Impl>()) {
    impl_->service = std::move(service);
    impl_->timeout = timeout;
}

LibsecretStore::LibsecretStore(MainLoop& loop, std::string service, Duration timeout)
    : LibsecretStore(std::move(service), timeout) {
    loop_ = &loop;
}

LibsecretStore::~LibsecretStore() = default;

void LibsecretStore::requestUnlock(std::string_view account, std::function<void()> ready) {
    unlock_.reset();  // the earlier request, replaced
    if (!loop_) return;
    auto answer = [loop = loop_, alive = life_.watch(), ready = std::move(ready)]() mutable {
        loop->post([alive, ready = std::move(ready)] {
            if (alive) ready();
        });
    };
    unlock_ = std::make_unique<SecretUnlockWatch>(sessionBusAddress(), impl_->service,
                                                  std::string(account), std::move(answer));
}

// The library keeps one connection to the service per process, whose D-Bus signals would queue up
// on our private context between calls (nothing runs it then); letting go after every call keeps
// that queue empty. The store is asked only a few times, at start-up.
void LibsecretStore::Impl::release() {
    secret_service_disconnect();
    while (g_main_context_pending(context.get())) g_main_context_iteration(context.get(), FALSE);
}

SecretLookup LibsecretStore::find(std::string_view account) {
    auto result = impl_->find(account);
    impl_->release();
    return result;
}

SecretLookup LibsecretStore::lookup(std::string_view account) {
    auto result = impl_->lookup(account);
    impl_->release();
    return result;
}

SecretWrite LibsecretStore::add(std::string_view account, std::string_view label,
                                ByteView secret) {
    auto result = impl_->add(account, label, secret);
    impl_->release();
    return result;
}

}  // namespace tamborix
