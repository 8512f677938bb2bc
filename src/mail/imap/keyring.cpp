// SPDX-License-Identifier: MIT
#include "mail/imap/keyring.h"

#include "mail/imap/account.h"

#include <QDir>
#include <QFileInfo>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <libsecret/secret.h>

namespace quillbox::mail::imap {

namespace {

// An account's password is found by its user, server and port.
const SecretSchema* accountSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s {};
        s.name = "org.quillbox.ImapAccount";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0] = { "user", SECRET_SCHEMA_ATTRIBUTE_STRING };
        s.attributes[1] = { "server", SECRET_SCHEMA_ATTRIBUTE_STRING };
        s.attributes[2] = { "port", SECRET_SCHEMA_ATTRIBUTE_INTEGER };
        return s;
    }();
    return &schema;
}

// Whether this session has a D-Bus to find a Secret Service on (else GLib would try to start one).
bool sessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(QDir(runtime).filePath(QStringLiteral("bus")));
}

// Runs `call` with a GCancellable that is cancelled when it has not returned within `seconds` (a keyring
// that waits for a person to unlock it, a service that does not answer).
template <class Call> auto withinSeconds(int seconds, Call call)
{
    GCancellable* cancellable = g_cancellable_new();
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!finished.wait_for(lock, std::chrono::seconds(seconds), [&] { return done; }))
            g_cancellable_cancel(cancellable);
    });
    auto result = call(cancellable);
    {
        const std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_one();
    watchdog.join();
    g_object_unref(cancellable);
    return result;
}

class SecretService : public Keyring {
public:
    QByteArray password(const Account& account) override
    {
        if (!sessionBus())
            return {};
        const QByteArray user = account.user.toUtf8(), server = account.host.toUtf8();
        gchar* found = withinSeconds(account.timeoutSeconds, [&](GCancellable* cancellable) {
            GError* error = nullptr;
            gchar* password = secret_password_lookup_sync(accountSchema(), cancellable, &error, "user",
                user.constData(), "server", server.constData(), "port", int(account.port), nullptr);
            g_clear_error(&error);
            return password;
        });
        if (!found)
            return {};
        QByteArray password(found);
        secret_password_free(found);
        return password;
    }

    bool keep(const Account& account, const QByteArray& password) override
    {
        if (!sessionBus())
            return false;
        const QByteArray user = account.user.toUtf8(), server = account.host.toUtf8();
        const QByteArray label = QStringLiteral("Quillbox: %1@%2").arg(account.user, account.host).toUtf8();
        return withinSeconds(account.timeoutSeconds, [&](GCancellable* cancellable) {
            GError* error = nullptr;
            const bool kept = secret_password_store_sync(accountSchema(), SECRET_COLLECTION_DEFAULT, label.constData(),
                password.constData(), cancellable, &error, "user", user.constData(), "server", server.constData(),
                "port", int(account.port), nullptr);
            g_clear_error(&error);
            return kept;
        });
    }
};

} // namespace

std::unique_ptr<Keyring> secretServiceKeyring()
{
    return std::make_unique<SecretService>();
}

} // namespace quillbox::mail::imap
