#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A D-Bus session of the tests' own, in a temporary folder, with a GNOME Keyring daemon on it
// whose login keyring is unlocked. Nothing is started on demand on that bus, so no unlock
// prompt can show. While the object lives it is this process's session bus
// (DBUS_SESSION_BUS_ADDRESS); the user's own session and keyring are never touched. Both
// daemons are stopped by their process id when it goes. Throws std::runtime_error when either
// does not come up.
namespace zor::test {

class TestKeyring {
public:
    enum class Offer {
        Keyring,  // a session bus with a keyring on it
        BusOnly,  // a session bus with no Secret Service on it
        NoBus,    // no session bus: its address leads nowhere
    };
    explicit TestKeyring(Offer offer = Offer::Keyring);
    ~TestKeyring();
    TestKeyring(const TestKeyring&) = delete;
    TestKeyring& operator=(const TestKeyring&) = delete;

    // What `secret-tool search` finds under the program's schema (and `attributes`): each entry's
    // "[path]", "label = …", "secret = …" and "attribute.<name> = …" lines.
    QString entries(const QStringList& attributes = {}) const;
    // Locks the login keyring: the next use asks to unlock it, which no prompt can answer here.
    void lock() const;
    // Stops and continues the keyring daemon: meanwhile the keyring is there and never answers.
    void freeze();
    void thaw();

private:
    QByteArray run(const QString& program, const QStringList& arguments) const;

    QTemporaryDir dir_;
    QProcess bus_, keyring_;
    QByteArray formerAddress_;
    bool hadAddress_;
    bool frozen_ = false;
};

}  // namespace zor::test
