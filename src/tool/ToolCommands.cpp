#include "tool/ToolCommands.h"

#include <termios.h>
#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <memory>

#include "design/TemplateCompiler.h"
#include "pages/Sitemap.h"
#include "platform/Http.h"
#include "platform/Keyring.h"
#include "platform/SettingsStore.h"
#include "platform/Startup.h"
#include "publish/AccountSettings.h"
#include "publish/FtpClient.h"
#include "publish/RemoteBrowser.h"
#include "publish/SftpClient.h"
#include "publish/SiteCheck.h"
#include "publish/SiteUpload.h"
#include "publish/Synchronise.h"
#include "site/PageIndex.h"
#include "site/SiteOpening.h"
#include "tool/Interrupt.h"
#include "tool/ToolArguments.h"
#include "tool/ToolOutput.h"

namespace zor::tool {
namespace {

// Where the password may come from instead of the settings: an argument would show in the
// process list to every user of the machine.
const char* const PasswordVariable = "ZOROD_FTP_PASSWORD";

// The password for the account command: from the environment, else typed on the terminal without
// echo. Never an argument.
QString accountPassword(const QString& prompt) {
    if (qEnvironmentVariableIsSet(PasswordVariable)) {
        return qEnvironmentVariable(PasswordVariable);
    }
    termios old{};
    if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &old) != 0) {
        throw ZorError(QStringLiteral("Пароль не задан: задайте переменную %1 или запустите "
                                      "команду в терминале, чтобы ввести его.")
                           .arg(QLatin1String(PasswordVariable)));
    }
    writeErr(prompt);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    QByteArray typed;
    bool interrupted = false;
    for (char c = 0; typed.size() < 4096;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR && caughtSignal() == 0) {
            continue;
        }
        if (n <= 0 || c == '\n') {
            interrupted = n < 0;
            break;
        }
        typed.append(c);
    }
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    writeErr(QStringLiteral("\n"));
    if (interrupted || caughtSignal() != 0) {
        throw Cancelled();
    }
    if (typed.endsWith('\r')) {
        typed.chop(1);
    }
    if (typed.isEmpty()) {
        throw ZorError(QStringLiteral("Пароль не введён: учётная запись не сохранена."));
    }
    return QString::fromLocal8Bit(typed);
}

// The site folder as given: its name is the site's name in the settings.
struct SiteFolder {
    QString path;  // absolute, no trailing separator
    QString name;
    QString root;  // the folder that holds it, with a trailing separator
};

SiteFolder siteFolder(const QString& given) {
    QString path = QDir::cleanPath(QDir::current().absoluteFilePath(given));
    // A bare name that is no folder here is a site where the window keeps them.
    if (!QFileInfo::exists(path) && !given.contains(u'/')) {
        const QString sites = startup::programDataFolder();
        if (!QFileInfo::exists(sites + u'/' + given)) {
            throw FileError(QStringLiteral("Папка сайта \u00AB%1\u00BB не найдена ни в текущей "
                                           "папке, ни в папке сайтов \u00AB%2\u00BB.")
                                .arg(given, sites));
        }
        path = sites + u'/' + given;
    }
    const QFileInfo info(path);
    if (!info.exists()) {
        throw FileError(QStringLiteral("Папка сайта \u00AB%1\u00BB не найдена.").arg(path));
    }
    if (!info.isDir()) {
        throw FileError(
            QStringLiteral("\u00AB%1\u00BB \u2014 не папка; сайт \u2014 это папка.").arg(path));
    }
    if (info.fileName().isEmpty() || !QFileInfo(path + QStringLiteral("/etc")).isDir()) {
        throw FileError(QStringLiteral("Папка \u00AB%1\u00BB \u2014 не сайт ZOR OD: в ней нет "
                                       "папки \u00ABetc\u00BB.")
                            .arg(path));
    }
    return {path, info.fileName(), info.absolutePath() + u'/'};
}

// "1 file", "3 files".
QString counted(qsizetype n, const char* noun) {
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(noun), n == 1 ? "" : "s");
}

// Said after a summary when the server took fewer sessions than the site asked for.
QString fewerSessionsNote(int sessions) {
    return sessions > 0 ? QStringLiteral(
                              "; the server took only %1 at once, and the site asks "
                              "for no more from now on")
                              .arg(counted(sessions, "session"))
                        : QString();
}

// Said after a summary when files had to be tried again.
QString retriedNote(int files) {
    return files > 0 ? QStringLiteral("; %1 retried").arg(counted(files, "file")) : QString();
}

QJsonArray jsonList(const QStringList& items) {
    return QJsonArray::fromStringList(items);
}

QStringList namesOf(const QList<publish::SiteFile>& files) {
    QStringList names;
    for (const publish::SiteFile& f : files) {
        names.append(f.name);
    }
    return names;
}

// What a command leaves on standard output: its items, one a line, then the summary line; or
// one JSON object.
struct Outcome {
    QStringList items;
    QString summary;
    QJsonObject json;
    int exitCode = ExitOk;
};

class Command {
public:
    explicit Command(const ToolRequest& request)
        : request_(request),
          site_(siteFolder(request.site)),
          progress_(::isatty(STDERR_FILENO) == 1) {
        ftp_.Port = request.port.value_or(21);
        sftp_.Port = request.port.value_or(22);
        sftp_.KnownHostsFile = publish::ownKnownHostsFile();
        for (publish::RemoteClient* c : {static_cast<publish::RemoteClient*>(&ftp_),
                                         static_cast<publish::RemoteClient*>(&sftp_)}) {
            c->Pump = [this] {
                if (caughtSignal() != 0) {
                    throw Cancelled();
                }
                progress_.pump();
            };
            c->Progress = [this](qint64 bytes) { progress_.moved(bytes); };
        }
        ftp_.SecuredLogin = [this] {
            publish::rememberTlsSeen(*settings_, site_.name, state_.ftpAccount);
        };
        ftp_.HabitsLearned = [this] {
            publish::rememberHabits(*settings_, site_.name, state_.ftpAccount, ftp_.Habits);
        };
        ftp_.SessionOpened = [this] {
            if (!ftp_.IsEncrypted()) {
                progress_.finish();
                writeErr(publish::plainConnectionNote(ftp_.TlsRefused()) + u'\n');
            }
        };
        keyring_.pump = [] {
            if (caughtSignal() != 0) {
                throw Cancelled();
            }
        };
        clock_.start();
    }

    Outcome run() {
        const QString& c = request_.command;
        Outcome o = c == u"compile"   ? compile()
                    : c == u"sitemap" ? sitemap()
                    : c == u"status"  ? status()
                    : c == u"upload"  ? upload()
                    : c == u"sync"    ? sync()
                    : c == u"account" ? account()
                                      : list();
        progress_.finish();
        return o;
    }

    void finish() { progress_.finish(); }
    const QString& siteName() const { return site_.name; }
    // An account is remembered without its password: the keyring may have it.
    bool keptElsewhere() const {
        const FtpAccount& a = state_.ftpAccount;
        return !a.host.isEmpty() && !a.userName.isEmpty() && a.password.isEmpty();
    }

private:
    // Opens the site as the main window does, then lets the command line and the environment
    // stand in for the remembered account. The settings stay held until the command ends, so
    // the window cannot start meanwhile (nor this while the window runs): each would save over
    // the other's work.
    void open() {
        settings_ = std::make_unique<SettingsStore>(SettingsStore::defaultPath());
        state_.sitesRoot = site_.root;
        // A password given in the environment is the one used: the keyring is not asked, so a
        // scheduled job never waits on its unlock prompt.
        NoKeyring none;
        Keyring& keyring =
            qEnvironmentVariableIsSet(PasswordVariable) ? static_cast<Keyring&>(none) : keyring_;
        const QStringList errors = publish::loadOpenSite(state_, *settings_, keyring, site_.name);
        if (!errors.isEmpty()) {
            throw ZorError(site::partlyOpenedText(site_.name, errors));
        }
        FtpAccount& a = state_.ftpAccount;
        a.host = request_.host.value_or(a.host);
        if (request_.port) {
            // The given port wins over one written into the host; "sftp://" there still
            // chooses the protocol.
            a.protocol = publish::protocolOf(a);
            a.host = publish::parseHostField(publish::serverAddress(a), *request_.port).host;
        }
        if (request_.protocol) {
            a.protocol = publish::protocolFromValue(request_.protocol);
        }
        a.encryption = request_.encryption.value_or(a.encryption);
        a.trustedCertificate = request_.trustFingerprint.value_or(a.trustedCertificate);
        a.userName = request_.user.value_or(a.userName);
        if (request_.folder) {
            a.remoteFolder = publish::withSingleLeadingSlash(*request_.folder);
        }
        if (qEnvironmentVariableIsSet(PasswordVariable)) {
            a.password = qEnvironmentVariable(PasswordVariable);
        }
    }

    publish::PublishJob job() {
        return {state_, *settings_, client(), progress_.progressFn(), request_.retries};
    }
    // The site's protocol's client.
    publish::RemoteClient& client() {
        return publish::protocolOf(state_.ftpAccount) == RemoteProtocol::Sftp
                   ? static_cast<publish::RemoteClient&>(sftp_)
                   : ftp_;
    }
    QString elapsed() const { return secondsText(std::chrono::milliseconds(clock_.elapsed())); }
    double seconds() const { return static_cast<double>(clock_.elapsed()) / 1000.0; }

    Outcome compile() {
        // As "Сохранить" brings the index files up to date, so does this: it needs the titles.
        open();
        const int lines = design::compileSavedTemplate(state_);
        return {{},
                QStringLiteral("compiled %1 into index.php").arg(counted(lines, "template line")),
                {{"templateLines", lines}}};
    }

    Outcome sitemap() {
        open();
        const std::optional<QString> address =
            request_.address ? request_.address : pages::storedSiteAddress(*settings_, site_.name);
        if (!address || address->isEmpty()) {
            throw ZorError(
                QStringLiteral("Адрес сайта не задан: укажите его на экране "
                               "\u00ABУправление страницами\u00BB или параметром "
                               "--address."));
        }
        state_.siteAddress = pages::normaliseAddress(*address);
        pages::SitemapWriter(state_);
        return {{},
                QStringLiteral("wrote sitemap.xml: %1 under %2")
                    .arg(counted(state_.pageCount(), "page"), state_.siteAddress),
                {{"pages", state_.pageCount()}, {"address", state_.siteAddress}}};
    }

    Outcome status() {
        open();
        publish::PublishJob j = job();
        const publish::PendingUpload pending = publish::pendingUpload(j);
        const QStringList names = namesOf(pending.changed);
        return {names,
                QStringLiteral("%1 of %2 to upload, %3")
                    .arg(names.size())
                    .arg(counted(pending.considered, "file"), binarySize(pending.bytes)),
                {{"considered", pending.considered},
                 {"changed", names.size()},
                 {"bytes", pending.bytes},
                 {"files", jsonList(names)}}};
    }

    // The site's address from the command line, else as the site keeps it; none when empty.
    std::optional<QString> siteAddress() {
        std::optional<QString> address =
            request_.address ? request_.address : pages::storedSiteAddress(*settings_, site_.name);
        if (address && address->isEmpty()) {
            address.reset();
        }
        return address;
    }

    // How the files went: "; by one archive" (and how many by themselves), or file by file and,
    // when the archive was meant but did not do, why.
    static QString routeNote(const publish::UploadResult& r) {
        QString note;
        if (r.route == publish::UploadRoute::Archive) {
            note = QStringLiteral("; %1 by one archive").arg(r.archived);
        } else if (r.sent > 0) {
            note = QStringLiteral("; file by file");
        }
        if (!r.fallback.isEmpty()) {
            note += QStringLiteral(" (the archive did not do: %1)").arg(r.fallback);
        }
        return note;
    }

    Outcome upload() {
        open();
        const auto mode = request_.dryRun ? publish::UploadMode::DryRun : publish::UploadMode::Send;
        publish::PublishJob j = job();
        // The archive is unpacked by the site's PHP at its address.
        j.http = &http_;
        j.archive = !request_.noArchive;
        if (const std::optional<QString> address = siteAddress()) {
            state_.siteAddress = pages::normaliseAddress(*address);
        }
        const publish::UploadResult r =
            request_.all ? publish::uploadAllFiles(j, mode) : publish::uploadChangedFiles(j, mode);
        const QStringList names = namesOf(r.files);
        QStringList removed;
        for (const publish::RemovedFile& f : r.removed) {
            removed.append(f.name);
        }
        // Deleted only when asked for, and never in a dry run.
        publish::DeletionResult deletion;
        if (request_.deleteRemoved && !request_.dryRun) {
            deletion = publish::deleteRemovedFiles(j, removed);
        }
        const QString what =
            request_.dryRun ? QStringLiteral("would upload") : QStringLiteral("uploaded");
        QStringList items = request_.dryRun ? names : QStringList();
        for (const QString& name : removed) {
            const bool deleted = deletion.deleted.contains(name);
            items.append((request_.deleteRemoved
                              ? (request_.dryRun ? QStringLiteral("would delete ")
                                 : deleted       ? QStringLiteral("deleted ")
                                                 : QStringLiteral("not deleted "))
                              : QStringLiteral("removed from the site: ")) +
                         name);
        }
        QString summary = QStringLiteral("%1 %2 of %3, %4, %5")
                              .arg(what)
                              .arg(r.sent)
                              .arg(counted(r.considered, "file"), binarySize(r.bytes), elapsed()) +
                          fewerSessionsNote(r.fewerSessions) + retriedNote(r.retried) +
                          routeNote(r);
        if (!removed.isEmpty() && !request_.deleteRemoved) {
            summary += QStringLiteral(
                           "; %1 removed from the site stay on the server "
                           "(--delete-removed deletes them)")
                           .arg(counted(removed.size(), "file"));
        } else if (!removed.isEmpty() && !request_.dryRun) {
            summary += QStringLiteral("; deleted %1 removed from the site")
                           .arg(counted(deletion.deleted.size(), "file"));
        }
        Outcome o{items,
                  summary,
                  {{"dryRun", request_.dryRun},
                   {"all", request_.all},
                   {"considered", r.considered},
                   {"sent", r.sent},
                   {"bytes", r.bytes},
                   {"seconds", seconds()},
                   {"files", jsonList(names)},
                   {"folders", jsonList(r.folders)},
                   {"sessions", state_.ftpAccount.sessions},
                   {"retried", r.retried},
                   {"removed", jsonList(removed)},
                   {"deleted", jsonList(deletion.deleted)},
                   {"notDeleted", jsonList(deletion.refused)},
                   {"route", r.route == publish::UploadRoute::Archive ? "archive" : "files"},
                   {"archived", r.archived},
                   {"fallback", r.fallback.isEmpty() ? QJsonValue() : QJsonValue(r.fallback)}}};
        if (!deletion.refused.isEmpty()) {
            // The rest is done; what the server would not delete fails the command.
            o.summary += u'\n' + publish::refusedDeletionsText(deletion.refused);
            o.exitCode = ExitFailed;
        }
        if (!request_.dryRun) {
            checkSite(r, o);
        }
        return o;
    }

    // As the window does after an upload: the published pages asked for, when the check is on
    // for the site (or not switched off here) and its address is known. Its text follows the
    // summary; a failed check makes the exit status ExitCheckFailed.
    void checkSite(const publish::UploadResult& uploaded, Outcome& o) {
        if (request_.noCheck || !publish::siteCheckEnabled(*settings_, site_.name)) {
            return;
        }
        const std::optional<QString> address = siteAddress();
        if (!address) {
            return;
        }
        state_.siteAddress = pages::normaliseAddress(*address);
        progress_.finish();
        http_.Pump = ftp_.Pump;  // both clients pump alike
        const publish::SiteCheckResult c = publish::checkPublishedSite(
            http_, state_, publish::pagesToCheck(uploaded.files, state_.pageCount()),
            progress_.progressFn());
        if (c.cancelled) {
            throw Cancelled();  // reported as any interrupted command is
        }
        o.summary += u'\n' + c.text;
        o.json.insert(QStringLiteral("check"), QJsonObject{{"passed", c.passed},
                                                           {"pages", c.pagesAsked},
                                                           {"address", state_.siteAddress},
                                                           {"text", c.text}});
        if (!c.passed) {
            o.exitCode = ExitCheckFailed;
        }
    }

    Outcome sync() {
        open();
        publish::PublishJob j = job();
        // No one is there to ask: work not sent yet is replaced only when the command line says
        // so, and otherwise the command fails having changed nothing.
        const publish::SyncResult r =
            publish::synchronise(j, [this](const publish::ReplaceQuestion& question) {
                if (!request_.replaceChanged) {
                    throw ZorError(
                        QStringLiteral("Эти страницы изменены после последней загрузки:\n%1\n"
                                       "Ничего не изменено. Чтобы заменить их страницами с "
                                       "сервера (прежние версии сохранятся в etc/backup), "
                                       "добавьте --replace-changed.")
                            .arg(question.files.join(u'\n')));
                }
                return true;
            });
        // What the window does when the site is next saved: the file index follows the titles.
        site::writeIndexFiles(state_);
        const int files = progress_.receivingCount();
        const int pages = std::max(files - 1, 0);
        QJsonObject json{{"pages", pages},
                         {"files", files},
                         {"bytes", r.bytes},
                         {"seconds", seconds()},
                         {"pageListEntries", r.entries},
                         {"retried", r.retried},
                         {"backup", r.backupFolder}};
        if (pages == 0) {
            return {{},
                    QStringLiteral("the server's title index lists no pages: nothing changed, %1")
                            .arg(elapsed()) +
                        fewerSessionsNote(r.fewerSessions) + retriedNote(r.retried),
                    json};
        }
        const QString kept =
            r.backupFolder.isEmpty()
                ? QString()
                : QStringLiteral("; replaced files kept in %1").arg(r.backupFolder);
        return {{},
                QStringLiteral("synchronised %1: downloaded %2, %3, %4%5")
                        .arg(counted(pages, "page"), counted(files, "file"), binarySize(r.bytes),
                             elapsed(), kept) +
                    fewerSessionsNote(r.fewerSessions) + retriedNote(r.retried),
                json};
    }

    // "Запомнить данные" from a terminal: the given account replaces the remembered one; the
    // protection and the number of sessions stay as chosen for the site.
    Outcome account() {
        settings_ = std::make_unique<SettingsStore>(SettingsStore::defaultPath());
        NoKeyring none;
        FtpAccount a = publish::rememberedAccount(*settings_, none, site_.name);
        a.host = request_.host->trimmed();
        if (request_.port) {
            const QString name = publish::parseHostField(a.host, *request_.port).host;
            const QString bracketed = name.contains(u':') ? u'[' + name + u']' : name;
            a.host = bracketed + u':' + QString::number(*request_.port);
        }
        a.userName = *request_.user;
        a.remoteFolder = publish::withSingleLeadingSlash(*request_.folder);
        if (request_.protocol) {
            a.protocol = publish::protocolFromValue(request_.protocol);
        }
        publish::checkFieldText(a.host, QStringLiteral("Хост"));
        publish::checkFieldText(a.userName, QStringLiteral("Имя пользователя"));
        a.password =
            accountPassword(QStringLiteral("Пароль FTP для %1@%2: ").arg(a.userName, a.host));
        const bool inKeyring = publish::storeFtpAccount(*settings_, keyring_, site_.name, a);
        const QString where =
            inKeyring ? QStringLiteral("the password is in the keyring")
                      : QStringLiteral("no keyring here: the password is in the settings file");
        return {{},
                QStringLiteral("remembered %1@%2, folder %3, for site %4; %5")
                    .arg(a.userName, a.host, a.remoteFolder, site_.name, where),
                {{"site", site_.name},
                 {"host", a.host},
                 {"user", a.userName},
                 {"folder", a.remoteFolder},
                 {"passwordIn", inKeyring ? "keyring" : "settings"}}};
    }

    Outcome list() {
        open();
        FtpAccount account = state_.ftpAccount;
        if (request_.remoteFolder) {
            account.remoteFolder = publish::withSingleLeadingSlash(*request_.remoteFolder);
        }
        const publish::RemoteEntries entries = publish::listRemoteFolder(client(), account);
        QStringList items;
        for (const QString& folder : entries.folders) {
            items.append(folder + u'/');
        }
        items.append(entries.files);
        return {items,
                QStringLiteral("%1, %2 in %3")
                    .arg(counted(entries.folders.size(), "folder"),
                         counted(entries.files.size(), "file"), account.remoteFolder),
                {{"folder", account.remoteFolder},
                 {"folders", jsonList(entries.folders)},
                 {"files", jsonList(entries.files)}}};
    }

    const ToolRequest& request_;
    SiteFolder site_;
    std::unique_ptr<SettingsStore> settings_;
    OpenSiteState state_;
    SecretServiceKeyring keyring_;
    publish::FtpClient ftp_;
    publish::SftpClient sftp_;
    CurlHttpClient http_;
    ProgressReporter progress_;
    QElapsedTimer clock_;
};

void printJson(QJsonObject json, const QString& command, bool ok) {
    json.insert(QStringLiteral("command"), command);
    json.insert(QStringLiteral("ok"), ok);
    writeOut(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) + u'\n');
}

}  // namespace

int run(const QStringList& arguments) {
    const ParsedArguments parsed = parseArguments(arguments);
    writeOut(parsed.out);
    writeErr(parsed.err);
    if (!parsed.request) {
        return parsed.exitCode;
    }
    const ToolRequest& request = *parsed.request;

    QString error;
    int status = ExitFailed;
    try {
        Command command(request);
        try {
            const Outcome o = command.run();
            if (request.json) {
                printJson(o.json, request.command, true);
            } else {
                writeOut(o.items.isEmpty() ? o.summary + u'\n'
                                           : o.items.join(u'\n') + u'\n' + o.summary + u'\n');
            }
            if (outputFailed()) {
                writeErr(
                    QStringLiteral("Не удалось вывести итог команды: стандартный вывод "
                                   "недоступен (закрыт или переполнен).\n"));
                return ExitFailed;
            }
            return o.exitCode;
        } catch (const publish::IncompleteAccount& e) {
            command.finish();
            error = e.text() + QStringLiteral(
                                   "\nХост, имя пользователя или пароль сайта "
                                   "\u00AB%1\u00BB не сохранены: включите "
                                   "\u00ABЗапомнить данные\u00BB на экране загрузки "
                                   "или задайте --host, --user и переменную %2.")
                                   .arg(command.siteName(), QLatin1String(PasswordVariable));
            if (command.keptElsewhere()) {
                error += QStringLiteral(
                             "\nЕсли пароль сохранён в связке ключей, отсюда она недоступна или "
                             "не разблокирована (так бывает в заданиях cron и по ssh): задайте "
                             "переменную %1.")
                             .arg(QLatin1String(PasswordVariable));
            }
        } catch (const publish::UntrustedCertificate& e) {
            command.finish();
            error = e.text() + QStringLiteral(
                                   "\nЕсли это сертификат вашего сервера, задайте "
                                   "--trust-fingerprint %1 или примите его в окне программы "
                                   "(\u00ABДа, всегда для этого сайта\u00BB).")
                                   .arg(e.certificate().fingerprint);
        } catch (const publish::UntrustedHostKey& e) {
            command.finish();
            error = e.text() + QStringLiteral(
                                   "\nЕсли это ключ вашего сервера (сверьте отпечаток с тем, что "
                                   "даёт хостинг), задайте --trust-fingerprint %1 или примите "
                                   "его в окне программы.")
                                   .arg(e.key().fingerprint);
        }
    } catch (const ZorError& e) {
        error = e.text();
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    }
    // However the command ended, a caught signal is why.
    if (const int caught = caughtSignal()) {
        error = Cancelled().text();
        status = 128 + caught;
    }
    writeErr(error + u'\n');
    if (request.json) {
        printJson({{"error", error}, {"exitCode", status}}, request.command, false);
    }
    return status;
}

}  // namespace zor::tool
