#include "app/ProtocolControls.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "app/CertificateQuestion.h"
#include "app/ScreenHost.h"
#include "platform/Dialogs.h"
#include "platform/Keyring.h"
#include "publish/AccountSettings.h"
#include "publish/PublishSession.h"

namespace zor::app {

ProtocolControls::ProtocolControls(ScreenHost& host, OpenSiteState& state, SettingsStore& settings,
                                   publish::SftpClient& sftp, QObject* parent)
    : QObject(parent), host_(host), sftp_(sftp), state_(state), settings_(settings) {
    row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    ProtocolBox = new QComboBox;
    ProtocolBox->setObjectName(QStringLiteral("ProtocolBox"));
    ProtocolBox->addItems({QStringLiteral("FTP"), QStringLiteral("SFTP (SSH)")});
    auto* caption = new QLabel(QStringLiteral("Протокол"));
    caption->setBuddy(ProtocolBox);
    KeyButton = new QPushButton(QStringLiteral("Ключ SSH\u2026"));
    KeyButton->setObjectName(QStringLiteral("KeyButton"));
    KeyButton->setToolTip(QStringLiteral(
        "Файл закрытого ключа для входа на этот сервер. Без него пробуются ключи агента SSH и "
        "из ~/.ssh, затем пароль."));
    KeyLabel = new QLabel;
    KeyLabel->setObjectName(QStringLiteral("KeyLabel"));
    layout->addWidget(caption);
    layout->addWidget(ProtocolBox);
    layout->addWidget(KeyButton);
    layout->addWidget(KeyLabel, 1);
    connect(ProtocolBox, &QComboBox::currentIndexChanged, this, [this] { ProtocolBoxChange(); });
    connect(KeyButton, &QPushButton::clicked, this, [this] { KeyButtonClick(); });

    sftp.KnownHostsFile = publish::ownKnownHostsFile();
    sftp.AskHostKey = [this](const publish::ServerHostKey& key) {
        return askHostKeyTrust(host_.mainWindow(), key);
    };
    sftp.AskPassphrase = [this](const QString& keyFile) { return askPassphrase(keyFile); };
}

std::optional<QString> ProtocolControls::askPassphrase(const QString& keyFile) {
    const bool keep = remembered && remembered() && !state_.siteName.isEmpty();
    const KeyringAttributes attributes = publish::passphraseAttributes(state_.siteName, keyFile);
    // Asked again, the one kept did not open the key.
    if (keep && !keyringTried_) {
        const KeyringResult found = host_.keyring().load(attributes);
        if (found.ok() && found.secret) {
            keyringTried_ = true;
            return found.secret;
        }
    }
    keyringTried_ = false;
    bool ok = false;
    const QString phrase =
        QInputDialog::getText(host_.mainWindow(), QStringLiteral("Ключ SSH"),
                              QStringLiteral("Фраза-пароль ключа \u00AB%1\u00BB:").arg(keyFile),
                              QLineEdit::Password, QString(), &ok);
    if (!ok) {
        return std::nullopt;
    }
    if (keep && host_.keyring().present()) {
        host_.keyring().store(attributes, QStringLiteral("ZOR OD: ключ SSH %1").arg(keyFile),
                              phrase);
    }
    return phrase;
}

bool ProtocolControls::sftp() const {
    return publish::protocolOf(state_.ftpAccount) == RemoteProtocol::Sftp;
}

void ProtocolControls::showAccount() {
    const QSignalBlocker quiet(ProtocolBox);
    ProtocolBox->setCurrentIndex(static_cast<int>(publish::protocolOf(state_.ftpAccount)));
    KeyLabel->setText(QFileInfo(state_.ftpAccount.keyFile).fileName());
    KeyLabel->setToolTip(state_.ftpAccount.keyFile);
    KeyButton->setEnabled(sftp());
    if (changed) {
        changed();
    }
}

void ProtocolControls::hostTyped(const QString& text) {
    const QString host = text.trimmed();
    if (host.startsWith(QStringLiteral("sftp://"), Qt::CaseInsensitive)) {
        ProtocolBox->setCurrentIndex(static_cast<int>(RemoteProtocol::Sftp));
    } else if (host.startsWith(QStringLiteral("ftp://"), Qt::CaseInsensitive)) {
        ProtocolBox->setCurrentIndex(static_cast<int>(RemoteProtocol::Ftp));
    }
}

void ProtocolControls::ProtocolBoxChange() {
    const auto chosen = static_cast<RemoteProtocol>(ProtocolBox->currentIndex());
    if (chosen != state_.ftpAccount.protocol) {
        state_.ftpAccount.protocol = chosen;
        store();
    }
    KeyButton->setEnabled(chosen == RemoteProtocol::Sftp);
    if (changed) {
        changed();
    }
}

void ProtocolControls::KeyButtonClick() {
    const QString start = state_.ftpAccount.keyFile.isEmpty() ? publish::SftpClient::userSshFolder()
                                                              : state_.ftpAccount.keyFile;
    const QString file =
        QFileDialog::getOpenFileName(host_.mainWindow(), QStringLiteral("Ключ SSH"), start);
    if (file.isEmpty()) {
        return;
    }
    state_.ftpAccount.keyFile = file;
    KeyLabel->setText(QFileInfo(file).fileName());
    KeyLabel->setToolTip(file);
    store();
}

// Not secret, so kept whether or not the account is remembered.
void ProtocolControls::store() {
    if (!state_.siteName.isEmpty()) {
        publish::storeProtocol(settings_, state_.siteName, state_.ftpAccount.protocol,
                               state_.ftpAccount.keyFile);
    }
}

publish::CertificateTrust ProtocolControls::askTrust(
    const publish::ServerCertificate& certificate) {
    const publish::CertificateTrust answer = askCertificateTrust(host_.mainWindow(), certificate);
    if (answer == publish::CertificateTrust::Always && !state_.siteName.isEmpty()) {
        publish::storeTrustedCertificate(settings_, state_.siteName, certificate.fingerprint);
        state_.ftpAccount.trustedCertificate = certificate.fingerprint;
    }
    return answer;
}

bool ProtocolControls::askPlainLogin() {
    if (state_.ftpAccount.plainAccepted) {
        return true;
    }
    const bool yes = dialogs::ask(host_.mainWindow(), QStringLiteral("Шифрование"),
                                  QStringLiteral("Сервер не поддерживает шифрование: пароль будет "
                                                 "передан открытым текстом. Продолжить?"),
                                  false);
    if (yes) {
        publish::rememberPlainAccepted(settings_, state_.siteName, state_.ftpAccount);
    }
    return yes;
}

void ProtocolControls::warnChangedKey(const publish::ChangedHostKey& e) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("ZOR OD"), e.text(),
                    QMessageBox::NoButton, host_.mainWindow());
    box.setTextFormat(Qt::PlainText);
    QPushButton* forget = nullptr;
    if (e.key().knownInOwnFile) {
        forget = box.addButton(QStringLiteral("Удалить известный ключ\u2026"),
                               QMessageBox::DestructiveRole);
        forget->setObjectName(QStringLiteral("ForgetKeyButton"));
    } else {
        box.setInformativeText(
            QStringLiteral("Ключ записан в вашем ~/.ssh/known_hosts; программа его не меняет "
                           "(удалить: ssh-keygen -R)."));
    }
    QPushButton* close = box.addButton(QStringLiteral("Закрыть"), QMessageBox::RejectRole);
    box.setDefaultButton(close);
    box.setEscapeButton(close);
    box.exec();
    if (forget && box.clickedButton() == forget &&
        dialogs::ask(host_.mainWindow(), QStringLiteral("Ключ сервера"),
                     QStringLiteral("Удалить известный ключ сервера %1 (%2)? При следующем "
                                    "соединении программа спросит, доверять ли новому ключу.")
                         .arg(e.key().host, e.key().knownFingerprint),
                     false)) {
        // The file the session found the key in.
        publish::forgetHostKey(sftp_.KnownHostsFile, e.key().host);
    }
}

publish::CertificateTrust askHostKeyTrust(QWidget* parent, const publish::ServerHostKey& key) {
    const QString text =
        QStringLiteral(
            "Подлинность сервера %1 не подтверждена: его ключа нет ни в "
            "~/.ssh/known_hosts, ни среди ключей, которым вы доверяли.\n\n"
            "Ключ: %2\nОтпечаток: %3\n\n"
            "Сверьте отпечаток с тем, что сообщает хостинг. Пароль будет отправлен, "
            "только если вы доверяете ключу.\nДоверять ключу этого сервера?")
            .arg(key.host, key.type, key.fingerprint);
    return askTrust(parent, text);
}

}  // namespace zor::app
