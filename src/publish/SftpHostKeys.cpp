#include "publish/SftpSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/SettingsStore.h"
#include "publish/FtpProtocol.h"
#include "publish/SftpClient.h"

// The SFTP client's host keys: the check of the server's key, the known-hosts files.
namespace zor::publish {

using namespace sftp;

namespace {

QString fingerprintOf(ssh_key key) {
    unsigned char* hash = nullptr;
    size_t length = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != SSH_OK) {
        return {};
    }
    char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    const QString fingerprint = QString::fromLatin1(text);
    ssh_string_free_char(text);
    return fingerprint;
}

// How the known-hosts files name a server: "name", or "[name]:port" off port 22.
QByteArray knownHostsName(const QString& host, int port) {
    return port == 22 ? host.toUtf8() : "[" + host.toUtf8() + "]:" + QByteArray::number(port);
}

}  // namespace

QString sftp::hostLabel(const QString& host, int port) {
    return port == 22 ? host : QStringLiteral("%1:%2").arg(host).arg(port);
}

ChangedHostKey::ChangedHostKey(ServerHostKey key)
    : FtpError(
          QStringLiteral("Ключ сервера %1 изменился!\nИзвестный ключ: %2\nКлюч сейчас: %3 (%4)\n"
                         "Так выглядит подмена сервера кем-то по пути, поэтому соединение прервано "
                         "до входа. Если ключ на сервере сменили вы или ваш хостинг, удалите "
                         "известный ключ и подключитесь снова.")
              .arg(key.host, key.knownFingerprint, key.fingerprint, key.type)),
      key_(std::move(key)) {}

UntrustedHostKey::UntrustedHostKey(ServerHostKey key)
    : FtpError(QStringLiteral("Ключ сервера %1 неизвестен: %2 %3. Соединение прервано до "
                              "входа.")
                   .arg(key.host, key.type, key.fingerprint)),
      key_(std::move(key)) {}

QString ownKnownHostsFile() {
    return QFileInfo(SettingsStore::defaultPath()).absolutePath() + QStringLiteral("/known_hosts");
}

bool forgetHostKey(const QString& knownHostsFile, const QString& host) {
    HostAndPort address;
    try {
        address = parseHostField(host, 22);
    } catch (const FtpError&) {
        return false;
    }
    const QByteArray name = knownHostsName(address.host, address.port);
    QFile in(knownHostsFile);
    if (!in.open(QIODevice::ReadOnly)) {
        return false;
    }
    QByteArray kept;
    bool removed = false;
    for (const QByteArray& line : in.readAll().split('\n')) {
        const QList<QByteArray> hosts = line.split(' ').value(0).split(',');
        if (hosts.contains(name)) {
            removed = true;
        } else if (!line.isEmpty()) {
            kept += line + '\n';
        }
    }
    in.close();
    QSaveFile out(knownHostsFile);
    if (removed &&
        (!out.open(QIODevice::WriteOnly) || out.write(kept) != kept.size() || !out.commit())) {
        throw FileError(
            QStringLiteral("Не удалось записать файл \u00AB%1\u00BB.").arg(knownHostsFile));
    }
    return removed;
}

void SftpClient::Session::checkHostKey(const QString& host, int port) {
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(ssh, &key) != SSH_OK) {
        lost(QStringLiteral("сервер не показал свой ключ"));
    }
    ServerHostKey shown;
    shown.host = hostLabel(host, port);
    shown.type = QString::fromLatin1(ssh_key_type_to_char(ssh_key_type(key)));
    shown.fingerprint = fingerprintOf(key);
    ssh_key_free(key);

    const auto known = [&](bool own) {
        const ssh_known_hosts_e state = ssh_session_is_known_server(ssh);
        if (state == SSH_KNOWN_HOSTS_CHANGED) {
            const QStringList files =
                own ? QStringList{client.KnownHostsFile}
                    : QStringList{client.UserSshFolder + QStringLiteral("/known_hosts"),
                                  QStringLiteral("/etc/ssh/ssh_known_hosts")};
            shown.knownFingerprint = knownFingerprint(files, host, port, shown.type);
            shown.knownInOwnFile = own;
            throw ChangedHostKey(shown);
        }
        return state == SSH_KNOWN_HOSTS_OK;
    };
    if (known(false)) {
        accepted(shown.fingerprint);
        return;
    }
    const QByteArray own = QFile::encodeName(client.KnownHostsFile);
    if (!own.isEmpty()) {
        ssh_options_set(ssh, SSH_OPTIONS_KNOWNHOSTS, own.constData());
        ssh_options_set(ssh, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, own.constData());
        if (QFileInfo::exists(client.KnownHostsFile) && known(true)) {
            accepted(shown.fingerprint);
            return;
        }
    }
    if (!client.TrustedFingerprint.isEmpty() && client.TrustedFingerprint == shown.fingerprint) {
        accepted(shown.fingerprint);
        return;
    }
    CertificateTrust answer = CertificateTrust::No;
    if (client.AskHostKey) {
        answer = client.AskHostKey(shown);
        lastPump = Clock::now();
    }
    if (answer == CertificateTrust::No) {
        throw UntrustedHostKey(shown);
    }
    if (answer == CertificateTrust::Always && !own.isEmpty()) {
        remember();
    }
    accepted(shown.fingerprint);
}

QString SftpClient::Session::knownFingerprint(const QStringList& files, const QString& host,
                                              int port, const QString& type) {
    const QByteArray name = knownHostsName(host, port);
    QString any;
    for (const QString& path : files) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            continue;
        }
        // Bounded: a known-hosts file is a few lines a server.
        for (const QByteArray& line : f.read(16 * 1024 * 1024).split('\n')) {
            ssh_knownhosts_entry* entry = nullptr;
            if (ssh_known_hosts_parse_line(name.constData(), line.constData(), &entry) == SSH_OK &&
                entry && entry->publickey) {
                const QString fingerprint = fingerprintOf(entry->publickey);
                const bool sameType =
                    QLatin1String(ssh_key_type_to_char(ssh_key_type(entry->publickey))) == type;
                SSH_KNOWNHOSTS_ENTRY_FREE(entry);
                if (sameType) {
                    return fingerprint;
                }
                any = any.isEmpty() ? fingerprint : any;
            }
            SSH_KNOWNHOSTS_ENTRY_FREE(entry);
        }
    }
    return any;
}

void SftpClient::Session::remember() {
    char* line = nullptr;
    if (ssh_session_export_known_hosts_entry(ssh, &line) != SSH_OK) {
        return;
    }
    QByteArray text(line);
    ssh_string_free_char(line);
    if (!text.endsWith('\n')) {
        text += '\n';
    }
    QDir().mkpath(QFileInfo(client.KnownHostsFile).absolutePath());
    QFile f(client.KnownHostsFile);
    if (!f.open(QIODevice::Append) || f.write(text) != text.size()) {
        throw FileError(QStringLiteral("Не удалось записать ключ сервера в файл \u00AB%1\u00BB.")
                            .arg(client.KnownHostsFile));
    }
}

}  // namespace zor::publish
