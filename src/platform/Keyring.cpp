// GLib's headers name struct members "signals", which Qt's keywords would take for a macro.
#include <libsecret/secret.h>

#include "platform/Keyring.h"

#include <QCryptographicHash>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace zor {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a waiting call runs the pump.
constexpr milliseconds PumpInterval{30};
// How long a finished call may take to hand back the bus (below).
constexpr milliseconds DrainLimit{250};

const char* const ServiceName = "org.freedesktop.secrets";

// Owns what GLib hands over.
template <typename T>
struct GObjectRef {
    T* p = nullptr;
    GObjectRef() = default;
    explicit GObjectRef(T* object) : p(object) {}
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
    ~GObjectRef() {
        if (p) {
            g_object_unref(p);
        }
    }
};

struct ErrorSlot {
    GError* e = nullptr;
    ErrorSlot() = default;
    ErrorSlot(const ErrorSlot&) = delete;
    ErrorSlot& operator=(const ErrorSlot&) = delete;
    ~ErrorSlot() {
        if (e) {
            g_error_free(e);
        }
    }
};

struct ItemList {
    GList* items = nullptr;
    ItemList() = default;
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;
    ~ItemList() { g_list_free_full(items, g_object_unref); }
};

struct AttributeTable {
    GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
    AttributeTable() = default;
    AttributeTable(const AttributeTable&) = delete;
    AttributeTable& operator=(const AttributeTable&) = delete;
    ~AttributeTable() { g_hash_table_unref(table); }
};

// The attributes as the worker thread uses them: plain bytes, copied on the caller's thread.
using Attributes = std::vector<std::pair<QByteArray, QByteArray>>;

Attributes attributeBytes(const KeyringAttributes& attributes) {
    Attributes bytes{{"xdg:schema", KeyringSchema}};
    for (auto it = attributes.begin(); it != attributes.end(); ++it) {
        bytes.emplace_back(it.key().toUtf8(), it.value().toUtf8());
    }
    return bytes;
}

QByteArray digest(const Attributes& attributes, const QByteArray& secret) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const auto& [name, value] : attributes) {
        hash.addData(name + '\0' + value + '\0');
    }
    hash.addData(secret);
    return hash.result();
}

void fill(AttributeTable& t, const Attributes& attributes) {
    for (const auto& [name, value] : attributes) {
        g_hash_table_insert(t.table, g_strdup(name.constData()), g_strdup(value.constData()));
    }
}

KeyringResult failure(const GError* e) {
    KeyringResult r;
    r.status = KeyringStatus::Failed;
    if (!e) {
        return r;
    }
    r.error = QString::fromUtf8(e->message);
    if (g_error_matches(e, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        r.status = KeyringStatus::TimedOut;
    } else if (g_error_matches(e, G_IO_ERROR, G_IO_ERROR_CLOSED)) {
        r.status = KeyringStatus::Absent;  // the session bus has gone
    } else if (g_error_matches(e, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) {
        r.status = KeyringStatus::Locked;
    } else if (e->domain == G_DBUS_ERROR &&
               (e->code == G_DBUS_ERROR_SERVICE_UNKNOWN ||
                e->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER || e->code == G_DBUS_ERROR_NO_SERVER ||
                e->code == G_DBUS_ERROR_SPAWN_EXEC_FAILED ||
                e->code == G_DBUS_ERROR_SPAWN_CHILD_EXITED ||
                e->code == G_DBUS_ERROR_SPAWN_FAILED ||
                e->code == G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND)) {
        r.status = KeyringStatus::Absent;
    }
    return r;
}

KeyringResult absent() {
    return {};
}

KeyringResult done(std::optional<QString> secret = std::nullopt) {
    KeyringResult r;
    r.status = KeyringStatus::Done;
    r.secret = std::move(secret);
    return r;
}

guint references(GDBusConnection* connection) {
    return g_atomic_int_get(&reinterpret_cast<GObject*>(connection)->ref_count);
}

// Runs on the worker thread for the life of one call: the objects the call makes deliver their
// signals here, not to the caller's main loop.
struct PrivateContext {
    GMainContext* context = g_main_context_new();
    PrivateContext() { g_main_context_push_thread_default(context); }
    // Once the call's objects are gone, GDBus still owes this context a few callbacks (replies,
    // ended subscriptions), each holding the connection. They are run here, so the call hands
    // back every reference it took: the process's shared connection is then dropped when
    // nobody else holds it, and the next call connects to the bus the environment names then.
    void drain(GDBusConnection* connection, guint held) {
        const auto until = Clock::now() + DrainLimit;
        for (;;) {
            while (g_main_context_iteration(context, FALSE)) {
            }
            if (references(connection) <= held || Clock::now() >= until) {
                return;
            }
            g_usleep(1000);
        }
    }
    PrivateContext(const PrivateContext&) = delete;
    PrivateContext& operator=(const PrivateContext&) = delete;
    ~PrivateContext() {
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }
};

}  // namespace

// What the caller's thread and the worker share: the answer, and how long it may yet take.
struct SecretServiceKeyring::Call {
    Call(milliseconds call, milliseconds prompt)
        : callTimeout(call), promptTimeout(prompt), deadline(Clock::now() + call) {}
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    ~Call() { g_object_unref(cancellable); }

    // A step that waits on the keyring; `prompting`: on its user, who answers its prompt.
    void step(bool prompting) {
        const std::lock_guard lock(mutex);
        deadline = Clock::now() + (prompting ? promptTimeout : callTimeout);
    }

    const milliseconds callTimeout, promptTimeout;
    GCancellable* const cancellable = g_cancellable_new();
    std::mutex mutex;
    std::condition_variable finished;
    Clock::time_point deadline;
    bool done = false;
    KeyringResult result;
};

namespace {

using Call = SecretServiceKeyring::Call;

// The session bus, held for the length of one call. GLib shares one connection per process and
// drops it once nobody holds it, so the next call connects afresh to the bus the environment
// names then. Set not to end the process when the bus goes away, as it would by default.
struct Bus {
    GObjectRef<GDBusConnection> connection;
};

bool connect(Bus& bus, Call& call, ErrorSlot& error) {
    bus.connection.p = g_bus_get_sync(G_BUS_TYPE_SESSION, call.cancellable, &error.e);
    if (bus.connection.p) {
        g_dbus_connection_set_exit_on_close(bus.connection.p, FALSE);
    }
    return bus.connection.p != nullptr;
}

SecretService* openService(Call& call, ErrorSlot& error) {
    // Not libsecret's shared service object, which would keep the connection for good.
    return secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE,
                                    call.cancellable, &error.e);
}

// Unlocks the objects through the keyring's own prompt; Done when all of them are unlocked.
KeyringResult unlock(SecretService* service, GList* objects, Call& call) {
    call.step(true);
    ErrorSlot error;
    const gint unlocked =
        secret_service_unlock_sync(service, objects, call.cancellable, nullptr, &error.e);
    call.step(false);
    if (error.e) {
        return failure(error.e);
    }
    if (unlocked < static_cast<gint>(g_list_length(objects))) {
        KeyringResult r;
        r.status = KeyringStatus::Locked;
        return r;
    }
    return done();
}

KeyringResult search(SecretService* service, const Attributes& attributes, Call& call,
                     ItemList& found) {
    AttributeTable table;
    fill(table, attributes);
    ErrorSlot error;
    found.items = secret_service_search_sync(service, nullptr, table.table, SECRET_SEARCH_ALL,
                                             call.cancellable, &error.e);
    return error.e ? failure(error.e) : done();
}

QString secretText(SecretValue* value) {
    if (const gchar* text = secret_value_get_text(value)) {
        return QString::fromUtf8(text);
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    return QString::fromUtf8(bytes, static_cast<qsizetype>(length));
}

KeyringResult loadSecret(SecretService* service, const Attributes& attributes, Call& call) {
    ItemList found;
    if (KeyringResult r = search(service, attributes, call, found); !r.ok()) {
        return r;
    }
    if (!found.items) {
        return done();
    }
    // One that is open already, else the first, unlocked.
    auto* item = static_cast<SecretItem*>(found.items->data);
    for (GList* l = found.items; l; l = l->next) {
        if (!secret_item_get_locked(static_cast<SecretItem*>(l->data))) {
            item = static_cast<SecretItem*>(l->data);
            break;
        }
    }
    if (secret_item_get_locked(item)) {
        GList one{item, nullptr, nullptr};
        if (KeyringResult r = unlock(service, &one, call); !r.ok()) {
            return r;
        }
    }
    ErrorSlot error;
    if (!secret_item_load_secret_sync(item, call.cancellable, &error.e)) {
        return failure(error.e);
    }
    SecretValue* value = secret_item_get_secret(item);
    if (!value) {
        return failure(nullptr);
    }
    const QString text = secretText(value);
    secret_value_unref(value);
    return done(text);
}

KeyringResult storeSecret(SecretService* service, const Attributes& attributes,
                          const QByteArray& label, const QByteArray& secret, Call& call) {
    ErrorSlot error;
    GObjectRef<SecretCollection> collection(secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, call.cancellable, &error.e));
    if (error.e) {
        return failure(error.e);
    }
    if (!collection.p) {
        // No keyring yet: the keyring asks its user for the new one's password.
        call.step(true);
    } else if (secret_collection_get_locked(collection.p)) {
        GList one{collection.p, nullptr, nullptr};
        if (KeyringResult r = unlock(service, &one, call); !r.ok()) {
            return r;
        }
    }
    AttributeTable table;
    fill(table, attributes);
    SecretValue* value = secret_value_new(secret.constData(), -1, "text/plain");
    const gboolean stored =
        secret_service_store_sync(service, nullptr, table.table, SECRET_COLLECTION_DEFAULT,
                                  label.constData(), value, call.cancellable, &error.e);
    secret_value_unref(value);
    return stored ? done() : failure(error.e);
}

KeyringResult removeSecrets(SecretService* service, const Attributes& attributes, Call& call) {
    ItemList found;
    if (KeyringResult r = search(service, attributes, call, found); !r.ok()) {
        return r;
    }
    GList* locked = nullptr;
    for (GList* l = found.items; l; l = l->next) {
        if (secret_item_get_locked(static_cast<SecretItem*>(l->data))) {
            locked = g_list_prepend(locked, l->data);
        }
    }
    if (locked) {
        const KeyringResult r = unlock(service, locked, call);
        g_list_free(locked);
        if (!r.ok()) {
            return r;
        }
    }
    for (GList* l = found.items; l; l = l->next) {
        ErrorSlot error;
        if (!secret_item_delete_sync(static_cast<SecretItem*>(l->data), call.cancellable,
                                     &error.e)) {
            return failure(error.e);
        }
    }
    return done();
}

bool nameOnBus(GDBusConnection* connection, const char* method, Call& call, ErrorSlot& error) {
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
        std::strcmp(method, "NameHasOwner") == 0 ? g_variant_new("(s)", ServiceName) : nullptr,
        nullptr, G_DBUS_CALL_FLAGS_NONE, -1, call.cancellable, &error.e);
    if (!reply) {
        return false;
    }
    bool found = false;
    GVariant* answer = g_variant_get_child_value(reply, 0);
    if (g_variant_is_of_type(answer, G_VARIANT_TYPE_BOOLEAN)) {
        found = g_variant_get_boolean(answer);
    } else if (g_variant_is_of_type(answer, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize n = 0;
        const gchar** names = g_variant_get_strv(answer, &n);
        for (gsize i = 0; i < n && !found; ++i) {
            found = std::strcmp(names[i], ServiceName) == 0;
        }
        g_free(names);
    }
    g_variant_unref(answer);
    g_variant_unref(reply);
    return found;
}

// With a bus to talk to, whether a Secret Service runs on it or would be started on demand.
KeyringResult probe(Call& call) {
    PrivateContext context;
    Bus bus;
    ErrorSlot error;
    if (!connect(bus, call, error)) {
        return error.e && g_error_matches(error.e, G_IO_ERROR, G_IO_ERROR_CANCELLED)
                   ? failure(error.e)
                   : absent();
    }
    const guint held = references(bus.connection.p);
    const bool found =
        nameOnBus(bus.connection.p, "NameHasOwner", call, error) ||
        (!error.e && nameOnBus(bus.connection.p, "ListActivatableNames", call, error));
    context.drain(bus.connection.p, held);
    if (found) {
        return done();
    }
    return error.e ? failure(error.e) : absent();
}

// Connects and opens the service, then runs `work` with it.
template <typename Work>
KeyringResult withService(Call& call, Work work) {
    PrivateContext context;
    Bus bus;
    ErrorSlot error;
    if (!connect(bus, call, error)) {
        // No bus here at all is no keyring; a bus that does not answer in time is a slow one.
        return error.e && g_error_matches(error.e, G_IO_ERROR, G_IO_ERROR_CANCELLED)
                   ? failure(error.e)
                   : absent();
    }
    const guint held = references(bus.connection.p);
    KeyringResult r;
    {
        GObjectRef<SecretService> service(openService(call, error));
        r = service.p ? work(service.p) : failure(error.e);
    }
    context.drain(bus.connection.p, held);
    return r;
}

}  // namespace

KeyringResult SecretServiceKeyring::run(std::function<KeyringResult(Call&)> work) {
    auto call = std::make_shared<Call>(callTimeout, promptTimeout);
    // Detached: a worker stuck in the keyring past its time-out must not hold up the caller.
    // It keeps the shared state alive and ends once the cancelled call returns.
    std::thread([call, work = std::move(work)] {
        KeyringResult r;
        try {
            r = work(*call);
        } catch (...) {
            r.status = KeyringStatus::Failed;
        }
        const std::lock_guard lock(call->mutex);
        call->result = std::move(r);
        call->done = true;
        call->finished.notify_all();
    }).detach();

    KeyringResult result;
    for (;;) {
        {
            std::unique_lock lock(call->mutex);
            const auto until = std::min(call->deadline, Clock::now() + PumpInterval);
            if (call->finished.wait_until(lock, until, [&] { return call->done; })) {
                result = call->result;
                break;
            }
            if (Clock::now() >= call->deadline) {
                result.status = KeyringStatus::TimedOut;
                break;
            }
        }
        if (pump) {
            try {
                pump();
            } catch (...) {
                g_cancellable_cancel(call->cancellable);
                throw;
            }
        }
    }
    if (result.status == KeyringStatus::TimedOut) {
        g_cancellable_cancel(call->cancellable);
    }
    present_ = result.status != KeyringStatus::Absent;
    return result;
}

bool SecretServiceKeyring::present() {
    if (!present_) {
        run([](Call& call) { return probe(call); });
    }
    return *present_;
}

KeyringResult SecretServiceKeyring::store(const KeyringAttributes& attributes, const QString& label,
                                          const QString& secret) {
    const Attributes a = attributeBytes(attributes);
    const QByteArray known = digest(a, secret.toUtf8());
    if (kept_.contains(known)) {
        return done();
    }
    KeyringResult r = run([a, l = label.toUtf8(), s = secret.toUtf8()](Call& call) {
        return withService(
            call, [&](SecretService* service) { return storeSecret(service, a, l, s, call); });
    });
    if (r.ok()) {
        kept_.insert(known);
    }
    return r;
}

KeyringResult SecretServiceKeyring::load(const KeyringAttributes& attributes) {
    const Attributes a = attributeBytes(attributes);
    KeyringResult r = run([a](Call& call) {
        return withService(call,
                           [&](SecretService* service) { return loadSecret(service, a, call); });
    });
    if (r.ok() && r.secret) {
        kept_.insert(digest(a, r.secret->toUtf8()));
    }
    return r;
}

KeyringResult SecretServiceKeyring::remove(const KeyringAttributes& attributes) {
    // Which of the known ones went is not told: none is taken as known any more.
    kept_.clear();
    return run([a = attributeBytes(attributes)](Call& call) {
        return withService(call,
                           [&](SecretService* service) { return removeSecrets(service, a, call); });
    });
}

}  // namespace zor
