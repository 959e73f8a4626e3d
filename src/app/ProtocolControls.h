#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "publish/FtpEncryption.h"
#include "publish/SftpClient.h"
#include "site/OpenSiteState.h"

class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

namespace zor {
class SettingsStore;
}

namespace zor::app {

class ScreenHost;

// The upload screen's choice of protocol and the questions a connection asks: "Протокол"
// ("FTP" or "SFTP (SSH)"), the site's "Ключ SSH…", and what is asked of the user about a
// certificate, a plain login, an SSH host key or a key's passphrase.
class ProtocolControls : public QObject {
public:
    ProtocolControls(ScreenHost& host, OpenSiteState& state, SettingsStore& settings,
                     publish::SftpClient& sftp, QObject* parent);

    QWidget* row;            // "Протокол", its box, "Ключ SSH…" and the key chosen
    QComboBox* ProtocolBox;  // in RemoteProtocol's order
    QPushButton* KeyButton;  // "Ключ SSH…"
    QLabel* KeyLabel;        // the key file's name
    // Runs when the protocol the fields stand for changes (the screen disables what SSH
    // does not use).
    std::function<void()> changed;
    // Whether "Запомнить данные" is on: a key's passphrase is then kept in the keyring.
    std::function<bool()> remembered;

    // Shows the open site's choice.
    void showAccount();
    bool sftp() const;
    // "sftp://" or "ftp://" typed before the host chooses the protocol.
    void hostTyped(const QString& text);
    void ProtocolBoxChange();
    void KeyButtonClick();

    // A certificate the system cannot vouch for: asked, and remembered for the site when the
    // user trusts it always.
    publish::CertificateTrust askTrust(const publish::ServerCertificate& certificate);
    // A server without TLS: asked once for the site before the password goes in the clear.
    bool askPlainLogin();
    // A changed host key ended a command: the warning names both keys; a key the program keeps
    // can be cleared there, after a question of its own.
    void warnChangedKey(const publish::ChangedHostKey& e);

private:
    void store();
    std::optional<QString> askPassphrase(const QString& keyFile);

    ScreenHost& host_;
    publish::SftpClient& sftp_;
    OpenSiteState& state_;
    SettingsStore& settings_;
    bool keyringTried_ = false;  // the keyring's passphrase was handed out, and asked for again
};

// "Доверять ключу этого сервера?" with the key's type and fingerprint: "Да, всегда для этого
// сайта", "Только сейчас" or "Нет" (also Esc).
publish::CertificateTrust askHostKeyTrust(QWidget* parent, const publish::ServerHostKey& key);

}  // namespace zor::app
