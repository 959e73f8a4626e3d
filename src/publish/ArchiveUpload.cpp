#include "publish/ArchiveUpload.h"

#include <archive.h>
#include <archive_entry.h>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <memory>

#include "platform/Http.h"
#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "publish/FileChangeCache.h"
#include "publish/FileDigest.h"
#include "publish/FtpClient.h"
#include "publish/SiteCheck.h"

namespace zor::publish {
namespace {

const QString ArchiveKey = QStringLiteral("archive");
const QString OnValue = QStringLiteral("on");
const QString UnavailableValue = QStringLiteral("unavailable");
const QString SinceValue = QStringLiteral("since");
const QString AccountValue = QStringLiteral("account");

// What was found unable: a server and user, and the folder, which may be the wrong one.
QString accountIdentity(const FtpAccount& account) {
    return account.host + u'\n' + account.userName + u'\n' + account.remoteFolder;
}

// The archive's name of a site file: its site path without the leading "/", as the FTP route
// puts it on the wire.
QByteArray archivedName(const SiteFile& file) {
    return textfile::toCp1251(QStringView(file.name).sliced(1));
}

// The size a file takes in a tar: its header and its data to the next 512 bytes.
qint64 tarBytes(qint64 size) {
    return 512 + (size + 511) / 512 * 512;
}

struct ArchiveDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};

// One ustar archive being written.
class TarWriter {
public:
    explicit TarWriter(const QString& path) : archive_(archive_write_new()) {
        const QByteArray native = QFile::encodeName(path);
        if (!archive_ || archive_write_set_format_ustar(archive_.get()) != ARCHIVE_OK ||
            archive_write_open_filename(archive_.get(), native.constData()) != ARCHIVE_OK) {
            fail(path);
        }
    }
    void add(const QByteArray& name, const QByteArray& bytes) {
        const std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(),
                                                                             &archive_entry_free);
        archive_entry_set_pathname(entry.get(), name.constData());
        archive_entry_set_size(entry.get(), bytes.size());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_mtime(entry.get(), QDateTime::currentSecsSinceEpoch(), 0);
        if (archive_write_header(archive_.get(), entry.get()) != ARCHIVE_OK ||
            archive_write_data(archive_.get(), bytes.constData(),
                               static_cast<size_t>(bytes.size())) != bytes.size()) {
            fail(QString::fromLatin1(name));
        }
    }
    void close() {
        if (archive_write_close(archive_.get()) != ARCHIVE_OK) {
            fail(QString());
        }
    }

private:
    [[noreturn]] void fail(const QString& what) {
        const char* why = archive_ ? archive_error_string(archive_.get()) : nullptr;
        throw FileError(QStringLiteral("Архив для загрузки не записан (%1): %2")
                            .arg(what, why ? QString::fromLocal8Bit(why) : QStringLiteral("?")));
    }
    std::unique_ptr<archive, ArchiveDeleter> archive_;
};

// The whole file, or nothing when it cannot be read or is larger than the archive takes.
std::optional<QByteArray> readWhole(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxArchivedFileBytes) {
        return std::nullopt;
    }
    QByteArray bytes = file.read(MaxArchivedFileBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > MaxArchivedFileBytes) {
        return std::nullopt;
    }
    return bytes;
}

QString quoted(const QString& text) {
    const QString line = text.simplified();
    return line.size() <= MaxQuotedLength ? line : line.left(MaxQuotedLength - 1) + u'\u2026';
}

// The route's files of one run on the server, deleted however the run ends. After a cancel the
// pump keeps throwing, yet the window must live while they go: the pump runs, its cancel is
// held back.
void deleteRouteFiles(RemoteClient& ftp, const QStringList& remotePaths) {
    const std::function<void()> pump = ftp.Pump;
    ftp.Pump = [pump] {
        if (pump) {
            try {
                pump();
            } catch (const Cancelled&) {
            }
        }
    };
    const auto restore = qScopeGuard([&] { ftp.Pump = pump; });
    try {
        openIfClosed(ftp);
        for (const QString& path : remotePaths) {
            try {
                ftp.DeleteRemoteFile(path);
            } catch (const FtpError& e) {
                if (e.replyCode() == 0) {
                    throw;  // the session is gone: the next upload deletes what is left
                }
            }
        }
    } catch (const ZorError&) {
    }
}

}  // namespace

bool archiveRouteEnabled(SettingsStore& store, const QString& siteName) {
    const auto value = SettingsKey(store, siteKeyPath(siteName, ArchiveKey)).read(OnValue);
    return !value || *value == u"1";
}

void storeArchiveRouteEnabled(SettingsStore& store, const QString& siteName, bool enabled) {
    SettingsKey key(store, siteKeyPath(siteName, ArchiveKey));
    key.write(OnValue, enabled ? QStringLiteral("1") : QStringLiteral("0"));
    if (enabled) {
        key.erase(UnavailableValue);
        key.erase(SinceValue);
        key.erase(AccountValue);
    }
}

std::optional<QString> archiveUnavailable(SettingsStore& store, const QString& siteName,
                                          const FtpAccount& account, const QDateTime& now) {
    SettingsKey key(store, siteKeyPath(siteName, ArchiveKey));
    const auto reason = key.read(UnavailableValue);
    const auto since = key.read(SinceValue);
    if (!reason || !since || key.read(AccountValue) != accountIdentity(account)) {
        return std::nullopt;
    }
    const QDateTime found = QDateTime::fromString(*since, Qt::ISODate);
    if (!found.isValid() || found > now ||
        found.secsTo(now) >= std::chrono::seconds(UnavailableFor).count()) {
        return std::nullopt;
    }
    return *reason;
}

void rememberArchiveUnavailable(SettingsStore& store, const QString& siteName,
                                const FtpAccount& account, const QString& reason,
                                const QDateTime& now) {
    SettingsKey key(store, siteKeyPath(siteName, ArchiveKey));
    key.write(UnavailableValue, reason);
    key.write(SinceValue, now.toUTC().toString(Qt::ISODate));
    key.write(AccountValue, accountIdentity(account));
}

bool archivable(const SiteFile& file) {
    return file.size >= 0 && file.size <= MaxArchivedFileBytes &&
           archivedName(file).size() <= MaxArchivedNameBytes;
}

QList<ArchivePart> writeArchiveParts(const QList<SiteFile>& files, const QString& folder,
                                     const std::function<void(int k, const SiteFile&)>& between) {
    QList<ArchivePart> parts;
    std::unique_ptr<TarWriter> writer;
    qint64 used = 0;
    // The two empty blocks at the end and libarchive's padding to its 10 KiB records.
    constexpr qint64 Reserve = 1024 + 10240;
    Md5 md5;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const SiteFile& file = files[i];
        if (between) {
            between(static_cast<int>(i + 1), file);
        }
        const std::optional<QByteArray> bytes = readWhole(file.localPath);
        if (!bytes) {
            continue;
        }
        const qint64 size = tarBytes(bytes->size());
        if (!writer || used + size + Reserve > MaxArchivePartBytes) {
            if (writer) {
                writer->close();
            }
            parts.append({QStringLiteral("%1/part%2.tar").arg(folder).arg(parts.size() + 1), {}});
            writer = std::make_unique<TarWriter>(parts.last().path);
            used = 0;
        }
        writer->add(archivedName(file), *bytes);
        used += size;
        md5.add(bytes->constData(), bytes->size());
        parts.last().files.append({file, md5.hexDigest(), bytes->size()});
    }
    if (writer) {
        writer->close();
    }
    return parts;
}

QByteArray unpackScript(const QByteArray& secret) {
    QFile resource(QStringLiteral(":/zorod/publish/unpack.php"));
    if (!resource.open(QIODevice::ReadOnly)) {
        throw FileError(QStringLiteral("Сценарий распаковки не найден в программе."));
    }
    QByteArray script = resource.readAll();
    script.replace("@SECRET@", secret);
    script.replace("@MAXAGE@", QByteArray::number(UnpackScriptLifetime.count()));
    return script;
}

QByteArray randomHex(int bytes) {
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return raw.toHex();
}

UnpackAnswer readUnpackAnswer(const HttpPage& page, const QString& address) {
    UnpackAnswer a;
    if (page.failure != HttpPage::Failure::None) {
        a.failure = QStringLiteral("сайт не ответил (%1)").arg(page.failureText);
        return a;
    }
    if (page.status == 404) {
        a.failure = QStringLiteral(
                        "сценарий распаковки не найден по адресу %1: возможно, папка на сервере "
                        "не совпадает с корнем сайта")
                        .arg(address);
        a.remember = true;
        return a;
    }
    if (page.body.contains("<?php")) {
        a.failure = QStringLiteral("сервер не выполняет PHP");
        a.remember = true;
        return a;
    }
    // A host that shows PHP's notices prints them before the answer, which starts as the
    // script writes it.
    const qsizetype start = page.body.indexOf("{\"ok\":");
    QJsonParseError error{};
    const QJsonDocument document = page.truncated || start < 0
                                       ? QJsonDocument()
                                       : QJsonDocument::fromJson(page.body.mid(start), &error);
    const QJsonObject o = document.object();
    if (!document.isObject() || o.value(QStringLiteral("zorodUnpack")).toInt() != 1) {
        const QString php = phpErrorLine(decodePage(page.body, declaredCharset({}, page.body)));
        a.failure =
            !php.isEmpty()
                ? QStringLiteral("ошибка PHP: %1").arg(php)
                : QStringLiteral("сервер ответил не то, что ждали (ответ %1)").arg(page.status);
        return a;
    }
    for (const QJsonValue& v : o.value(QStringLiteral("files")).toArray()) {
        const QJsonObject f = v.toObject();
        const QByteArray name =
            QByteArray::fromPercentEncoding(f.value(QStringLiteral("path")).toString().toLatin1());
        a.written.insert(name, {static_cast<qint64>(f.value(QStringLiteral("size")).toDouble(-1)),
                                f.value(QStringLiteral("md5")).toString()});
    }
    if (o.value(QStringLiteral("ok")).toBool()) {
        return a;
    }
    const QString why = o.value(QStringLiteral("error")).toString();
    const QString message = quoted(o.value(QStringLiteral("message")).toString());
    if (why == u"owner" || why == u"owner-unknown") {
        a.failure = QStringLiteral(
                        "PHP на сервере работает от имени другого пользователя, чем FTP, и "
                        "записанные им файлы нельзя было бы потом заменить по FTP (%1)")
                        .arg(message);
        a.remember = true;
    } else if (why == u"age" || why == u"secret") {
        a.failure = QStringLiteral("сценарий распаковки отказал (%1)").arg(message);
    } else {
        a.failure = QStringLiteral("распаковка на сервере не удалась (%1)").arg(message);
    }
    return a;
}

ArchiveOutcome sendByArchive(PublishJob& job, HttpClient& http, const FtpAccount& account,
                             FileChangeCache& cache, const QList<SiteFile>& files) {
    RemoteClient& ftp = job.ftp;
    ArchiveOutcome outcome;
    QTemporaryDir temporary;
    if (!temporary.isValid()) {
        outcome.failure = QStringLiteral("временная папка для архива не создана");
        return outcome;
    }
    const int n = static_cast<int>(files.size());
    QList<ArchivePart> parts;
    try {
        parts = writeArchiveParts(files, temporary.path(), [&](int k, const SiteFile& f) {
            job.report(Stage::Packing, k, n, f.name, -1);
            letEventsRun(ftp);
        });
    } catch (const FileError& e) {
        outcome.failure = e.text();
        return outcome;
    }

    // The client's limits and pump are the route's while it asks, the caller's afterwards.
    struct Limits {
        HttpClient& http;
        std::chrono::milliseconds connect, total;
        std::chrono::seconds stall;
        std::function<void()> pump;
        ~Limits() {
            http.ConnectTimeout = connect;
            http.TotalTimeout = total;
            http.StallTimeout = stall;
            http.Pump = pump;
        }
    } restore{http, http.ConnectTimeout, http.TotalTimeout, http.StallTimeout, http.Pump};
    http.ConnectTimeout = SiteCheckTimeout;
    http.StallTimeout = std::chrono::seconds(60);
    http.TotalTimeout = UnpackTimeout;
    http.Pump = [&ftp] { letEventsRun(ftp); };

    const int m = static_cast<int>(parts.size());
    for (int p = 0; p < m; ++p) {
        const ArchivePart& part = parts[p];
        const QString base = UnpackPrefix + QString::fromLatin1(randomHex(16));
        const QString remoteBase = account.remoteFolder + u'/' + base;
        const QString script = temporary.filePath(base + QStringLiteral(".php"));
        const QByteArray secret = randomHex(32);
        QFile out(script);
        if (!out.open(QIODevice::WriteOnly) || out.write(unpackScript(secret)) < 0 ||
            !out.flush()) {
            outcome.failure = QStringLiteral("сценарий распаковки не записан");
            return outcome;
        }
        out.close();
        const QStringList remote{remoteBase + QStringLiteral(".php"),
                                 remoteBase + QStringLiteral(".tar")};
        UnpackAnswer answer;
        try {
            const auto cleanUp = qScopeGuard([&] { deleteRouteFiles(ftp, remote); });
            job.report(Stage::SendingArchive, p + 1, m, base + QStringLiteral(".tar"),
                       QFileInfo(part.path).size());
            ftp.UploadFile(part.path, remote[1]);
            ftp.UploadFile(script, remote[0]);
            const QString address = job.state.siteAddress + base + QStringLiteral(".php");
            job.report(Stage::Unpacking, p + 1, m, address, -1);
            const HttpPage page =
                http.Post(address, {{QByteArrayLiteral("secret"), secret}}, MaxUnpackAnswerBytes);
            answer = readUnpackAnswer(page, address);
        } catch (const Cancelled&) {
            throw;
        } catch (const ZorError& e) {
            answer.failure = e.text();
        }
        job.report(Stage::Confirming, p + 1, m, QString(), -1);
        for (const ArchivedFile& f : part.files) {
            const auto written = answer.written.constFind(archivedName(f.file));
            if (written != answer.written.cend() && written->size == f.size &&
                written->md5 == f.digest) {
                cache.record(f.file.name, f.digest);
                outcome.confirmed.append(f.file);
                outcome.confirmed.last().size = f.size;
                outcome.bytes += f.size;
            }
        }
        if (!answer.failure.isEmpty()) {
            if (answer.remember) {
                rememberArchiveUnavailable(job.settings, job.state.siteName, account,
                                           answer.failure);
            }
            outcome.failure = answer.failure;
            return outcome;
        }
    }
    if (outcome.confirmed.size() < files.size() && outcome.failure.isEmpty()) {
        outcome.failure = QStringLiteral("сервер подтвердил не все файлы архива (%1 из %2)")
                              .arg(outcome.confirmed.size())
                              .arg(files.size());
    }
    return outcome;
}

QStringList leftUnpackFiles(const QStringList& listing) {
    static const QRegularExpression re(
        QStringLiteral("(?:^|\\s)(zorod-unpack-[0-9a-f]{32}\\.(?:php|tar))$"));
    QStringList names;
    for (const QString& line : listing) {
        const QRegularExpressionMatch m = re.match(line.trimmed());
        if (m.hasMatch()) {
            names.append(m.captured(1));
        }
    }
    return names;
}

QString routeResultText(UploadRoute route, int sent, int archived, const QString& fallback) {
    QString text;
    if (route == UploadRoute::Archive) {
        text = QStringLiteral("Закачано одним архивом (файлов: %1)").arg(archived);
        if (sent > archived) {
            text += QStringLiteral(", по файлам: %1").arg(sent - archived);
        }
    } else {
        text = QStringLiteral("Закачано по файлам (файлов: %1)").arg(sent);
    }
    if (!fallback.isEmpty()) {
        text += QStringLiteral(". Одним архивом не вышло: %1").arg(fallback);
    }
    return text + u'.';
}

}  // namespace zor::publish
