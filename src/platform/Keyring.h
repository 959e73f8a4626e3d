#pragma once

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

// The desktop's keyring (a Secret Service: GNOME Keyring, KWallet): secrets kept under the
// program's own schema, told apart by their attributes, each with a label the keyring's own
// program shows.
namespace zor {

// Attribute names and values; the program's schema is added to them.
using KeyringAttributes = QMap<QString, QString>;

// The schema every secret of the program is kept under.
inline constexpr const char* KeyringSchema = "ru.zorod.Password";

enum class KeyringStatus {
    Done,      // stored, removed, or looked up (found or not)
    Absent,    // no Secret Service here: no session bus, or nothing on it offers one
    Locked,    // the keyring stayed locked: its unlock prompt was refused or could not show
    TimedOut,  // the keyring did not answer in time
    Failed,    // the keyring answered with an error
};

struct KeyringResult {
    KeyringStatus status = KeyringStatus::Absent;
    std::optional<QString> secret;  // load: the secret found
    QString error;                  // Failed: the keyring's own words
    bool ok() const { return status == KeyringStatus::Done; }
};

class Keyring {
public:
    virtual ~Keyring() = default;
    // Whether a Secret Service answers here: asked once, then as the last call found it.
    virtual bool present() = 0;
    // Keeps `secret` under exactly these attributes, in place of one kept under them before.
    virtual KeyringResult store(const KeyringAttributes& attributes, const QString& label,
                                const QString& secret) = 0;
    // The secret kept under these attributes; Done without a secret when there is none.
    virtual KeyringResult load(const KeyringAttributes& attributes) = 0;
    // Removes every secret whose attributes include these.
    virtual KeyringResult remove(const KeyringAttributes& attributes) = 0;
};

// A machine without a keyring, as far as the program is concerned.
class NoKeyring : public Keyring {
public:
    bool present() override { return false; }
    KeyringResult store(const KeyringAttributes&, const QString&, const QString&) override {
        return {};
    }
    KeyringResult load(const KeyringAttributes&) override { return {}; }
    KeyringResult remove(const KeyringAttributes&) override { return {}; }
};

// The Secret Service on the session bus the environment names, through libsecret. Each call
// runs on a thread of its own while the caller's thread waits, running the pump, so a window
// stays alive; a call that gets no answer in time is cancelled and reported as TimedOut, never
// left to hang. While the keyring shows its own unlock prompt the wait is the user's, up to
// promptTimeout. A secret this object has seen the keyring keep under the same attributes is
// not sent again, so saving an unchanged account never brings up an unlock prompt.
class SecretServiceKeyring : public Keyring {
public:
    static constexpr std::chrono::milliseconds DefaultCallTimeout{5000};
    static constexpr std::chrono::milliseconds DefaultPromptTimeout{120000};

    // Run every few tens of milliseconds while a call waits; it may throw to give up waiting.
    std::function<void()> pump;
    std::chrono::milliseconds callTimeout = DefaultCallTimeout;
    std::chrono::milliseconds promptTimeout = DefaultPromptTimeout;

    bool present() override;
    KeyringResult store(const KeyringAttributes& attributes, const QString& label,
                        const QString& secret) override;
    KeyringResult load(const KeyringAttributes& attributes) override;
    KeyringResult remove(const KeyringAttributes& attributes) override;

    struct Call;

private:
    KeyringResult run(std::function<KeyringResult(Call&)> work);

    std::optional<bool> present_;
    QSet<QByteArray> kept_;  // digests of attributes and secret the keyring is known to keep
};

}  // namespace zor
