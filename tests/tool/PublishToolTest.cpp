#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <memory>

#include "platform/SettingsStore.h"
#include "platform/Startup.h"
#include "publish/AccountSettings.h"
#include "publish/FileChangeCache.h"
#include "site/SiteWorkspace.h"
#include "support/FtpServers.h"
#include "support/Http.h"
#include "support/SecretService.h"
#include "support/SshServer.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::test;

namespace {

struct Result {
    int exit = -1;  // -1: the program did not end by itself
    QString out, err;
    QStringList outLines() const { return out.split(u'\n', Qt::SkipEmptyParts); }
};

QSet<QString> asSet(const QStringList& list) {
    return QSet<QString>(list.begin(), list.end());
}

QString md5Of(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

// A sites folder, the settings database the tool finds through its configuration folder, and a
// vsftpd on loopback. The database is opened only for a moment at a time: whoever has it open
// holds it, and the tool would find it taken.
class PublishTool : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startup::setProgramNames(); }

    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        settingsPath = SettingsStore::defaultPath();
    }

    void startServer(qint64 maxRate = 0, const std::optional<ServerTls>& tls = {}) {
        server = std::make_unique<VsftpdServer>(maxRate, tls);
    }
    QString site(const QString& name) { return root.makeSite(name); }
    void remember(const QString& name, const QString& password) {
        SettingsStore store = settings();
        publish::storeFtpAccount(store, name, {server->host(), server->user(), password, "/www"});
    }
    QStringList withPort(QStringList args) const {
        return args << "--port" << QString::number(server->port());
    }
    QString onServer(const QString& name) const { return server->localPath("/www" + name); }

    void prepare(QProcess& p, const QStringList& args, const QString& password) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        env.remove("ZOROD_FTP_PASSWORD");
        if (!sshHome.isEmpty()) {
            env.insert("HOME", sshHome);  // its ~/.ssh: no keys, no known hosts
        }
        if (!password.isNull()) {
            env.insert("ZOROD_FTP_PASSWORD", password);
        }
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(root.root());
        p.setProgram(QStringLiteral(ZOROD_PUBLISH_PROGRAM));
        p.setArguments(args);
    }
    static Result finish(QProcess& p) {
        const bool ended = p.waitForFinished(120000);
        Result r;
        r.exit = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    Result tool(const QStringList& args, const QString& password = QString()) const {
        QProcess p;
        prepare(p, args, password);
        p.start();
        return finish(p);
    }

    QTemporaryDir config;
    QString sshHome;
    TempRoot root;
    QString settingsPath;
    SettingsStore settings() const { return SettingsStore(settingsPath); }
    std::unique_ptr<VsftpdServer> server;
};

void writePages(const QString& sitePath, const QStringList& titles) {
    QStringList index{"#    path"};
    for (int n = 1; n <= titles.size(); ++n) {
        index << QStringLiteral("%1 Альфа : %2").arg(n, 4, 10, QChar(u'0')).arg(titles[n - 1]);
        writeFile(site::pageFilePath(sitePath, n), crlf({"<p>" + titles[n - 1] + "</p>"}));
    }
    index << "#";
    writeFile(site::titleIndexPath(sitePath), crlf(index));
}

}  // namespace

TEST_F(PublishTool, CompileWritesIndexPhpFromTheSavedTemplateAndLeavesTheTemplate) {
    const QString a = site("a");
    const QByteArray theme = "<p>\xC0</p>\n<div>{{bloc=menu}}</div>";  // LF, no final line end
    writeFile(site::themePath(a), theme);
    const Result r = tool({"compile", "a"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "compiled 2 template lines into index.php\n");
    EXPECT_EQ(
        readFile(site::frontControllerPath(a)),
        "<?php header(\"Content-Type: text/html; charset=windows-1251\"); ?>\r\n"
        "<p>\xC0</p>\r\n<div>\r\n<?php\r\ninclude \"etc/blocs/menu.tq\";\r\n?>\r\n</div>\r\n");
    EXPECT_EQ(readFile(site::themePath(a)), theme);
}

TEST_F(PublishTool, SitemapTakesTheGivenAddressOrElseTheStoredOne) {
    struct Row {
        const char* stored;  // "adr" as the pages screen left it, with the switch off
        const char* given;
        const char* loc;  // the first page's address; empty: refused
    } rows[] = {
        {nullptr, "example.org", "http://example.org/index.php?in=1"},
        {"http://stored.ru/", nullptr, "http://stored.ru/index.php?in=1"},
        {"http://stored.ru/", "http://given.ru", "http://given.ru/index.php?in=1"},
        {nullptr, nullptr, ""},
    };
    int i = 0;
    for (const Row& row : rows) {
        const QString name = QStringLiteral("s%1").arg(i++);
        const QString path = site(name);
        writePages(path, {"Главная", "Новости"});
        if (row.stored) {
            SettingsStore store = settings();
            SettingsKey(store, siteKeyPath(name, "sitemap")).write("adr", row.stored);
        }
        QStringList args{"sitemap", name};
        if (row.given) {
            args << "--address" << row.given;
        }
        const Result r = tool(args);
        const QByteArray xml = QFileInfo::exists(site::sitemapPath(path))
                                   ? readFile(site::sitemapPath(path))
                                   : QByteArray();
        if (*row.loc == 0) {
            EXPECT_EQ(r.exit, 1) << name.toStdString();
            EXPECT_TRUE(r.err.contains("Адрес сайта не задан")) << r.err.toStdString();
            EXPECT_TRUE(xml.isEmpty());
            continue;
        }
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        EXPECT_TRUE(xml.contains(QByteArray("  <loc>") + row.loc + "</loc>\r\n")) << xml.data();
        EXPECT_EQ(xml.count("<loc>"), 2);
    }
}

TEST_F(PublishTool, StatusAndUploadAgreeOnWhatChangedAndADryRunChangesNothing) {
    startServer();
    const QString a = site("a");
    remember("a", server->password());
    const QStringList all{"/mf/pages/1.tq", "/etc/file.txt", "/etc/head.txt",
                          "/etc/desing/theme.html", "/etc/desing/head.png"};
    const QByteArray welcome = readFile(site::pageFilePath(a, 1));
    struct Step {
        QStringList args;
        QByteArray newPage;   // written into page 1 before the step, when not empty
        QStringList items;    // what the step lists before its summary, in any order
        const char* summary;  // how its summary line starts
        QByteArray onServer;  // page 1 on the server afterwards; null: nothing there yet
    } steps[] = {
        {{"status", "a"}, {}, all, "5 of 5 files to upload, ", {}},
        {withPort({"upload", "a", "--dry-run"}), {}, all, "would upload 5 of 5 files, ", {}},
        {withPort({"upload", "a"}), {}, {}, "uploaded 5 of 5 files, ", welcome},
        {withPort({"upload", "a"}), {}, {}, "uploaded 0 of 5 files, 0 B, ", welcome},
        {{"status", "a"}, "new text", {"/mf/pages/1.tq"}, "1 of 5 files to upload, 8 B", welcome},
        {withPort({"upload", "a", "--dry-run"}),
         {},
         {"/mf/pages/1.tq"},
         "would upload 1 of 5",
         welcome},
        {withPort({"upload", "a", "--all", "--dry-run"}), {}, all, "would upload 5 of 5", welcome},
        {{"status", "a"}, {}, {"/mf/pages/1.tq"}, "1 of 5 files to upload", welcome},
        {withPort({"upload", "a"}), {}, {}, "uploaded 1 of 5 files, 8 B, ", "new text"},
        {withPort({"upload", "a", "--all"}), {}, {}, "uploaded 5 of 5 files, ", "new text"},
        {{"status", "a"}, {}, {}, "0 of 5 files to upload, 0 B", "new text"},
    };
    for (const Step& step : steps) {
        const std::string name = step.args.join(' ').toStdString();
        if (!step.newPage.isEmpty()) {
            writeFile(site::pageFilePath(a, 1), step.newPage);
        }
        const Result r = tool(step.args);
        EXPECT_EQ(r.exit, 0) << name << "\n" << r.err.toStdString();
        QStringList lines = r.outLines();
        const QString summary = lines.isEmpty() ? QString() : lines.takeLast();
        EXPECT_TRUE(summary.startsWith(step.summary)) << name << ": " << summary.toStdString();
        EXPECT_EQ(asSet(lines), asSet(step.items)) << name << ": " << r.out.toStdString();
        if (!step.onServer.isNull()) {
            EXPECT_EQ(readFile(onServer("/mf/pages/1.tq")), step.onServer) << name;
        } else {
            EXPECT_FALSE(QFileInfo::exists(onServer("/mf"))) << name;
        }
    }
    // What was sent arrived whole; the file index the upload wrote went too.
    for (const QString& file : all) {
        EXPECT_EQ(readFile(onServer(file)), readFile(a + file)) << file.toStdString();
    }
    // Status never logs in: with the server gone it still answers.
    server.reset();
    writeFile(site::pageFilePath(a, 1), "newer text");
    const Result r = tool({"status", "a"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "/mf/pages/1.tq\n1 of 5 files to upload, 10 B\n");
}

TEST_F(PublishTool, JsonGivesTheSummaryAndADryRunNamesTheFoldersItWouldMake) {
    startServer();
    site("a");
    remember("a", server->password());
    const Result r = tool(withPort({"upload", "a", "--dry-run", "--json"}));
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    ASSERT_EQ(r.outLines().size(), 1);
    const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(json["command"].toString(), "upload");
    EXPECT_TRUE(json["ok"].toBool());
    EXPECT_TRUE(json["dryRun"].toBool());
    EXPECT_EQ(json["sent"].toInt(), 5);
    EXPECT_EQ(json["files"].toArray().size(), 5);
    EXPECT_EQ(json["folders"].toArray().toVariantList(),
              QVariantList({"/www/mf/", "/www/mf/music/", "/www/mf/img/", "/www/mf/other/",
                            "/www/mf/pages/", "/www/etc/", "/www/etc/desing/", "/www/etc/blocs/"}));
    EXPECT_TRUE(QDir(server->localPath("/www")).isEmpty());
    {
        SettingsStore store = settings();
        EXPECT_FALSE(publish::FileChangeCache(store, "a").recorded("/etc/head.txt"));
    }

    const Result failed = tool({"ls", "a", "--json", "--port", "1"});
    EXPECT_EQ(failed.exit, 1);
    const QJsonObject error = QJsonDocument::fromJson(failed.out.toUtf8()).object();
    EXPECT_FALSE(error["ok"].toBool());
    EXPECT_EQ(error["exitCode"].toInt(), 1);
    EXPECT_EQ(error["error"].toString() + "\n", failed.err);
}

TEST_F(PublishTool, SyncBringsThePublishedPagesIntoASecondSite) {
    startServer();
    const QString a = site("a");
    writePages(a, {"Главная", "О нас", "Контакты"});
    remember("a", server->password());
    ASSERT_EQ(tool(withPort({"upload", "a"})).exit, 0);

    const QString b = site("b");
    remember("b", server->password());
    // b's own titles were never uploaded: nobody is there to ask, so nothing is replaced.
    const QByteArray bIndex = readFile(site::titleIndexPath(b));
    const Result refused = tool(withPort({"sync", "b"}));
    EXPECT_EQ(refused.exit, 1);
    EXPECT_TRUE(refused.err.contains("etc/head.txt") && refused.err.contains("--replace-changed"))
        << refused.err.toStdString();
    EXPECT_EQ(readFile(site::titleIndexPath(b)), bIndex);
    EXPECT_FALSE(QFileInfo::exists(site::backupsFolder(b)));

    const Result r = tool(withPort({"sync", "b", "--replace-changed"}));
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    // The bytes that came, counted once over the sessions that fetched them.
    qint64 fetched = QFileInfo(onServer("/etc/head.txt")).size();
    for (int n = 1; n <= 3; ++n) {
        fetched += QFileInfo(onServer(QStringLiteral("/mf/pages/%1.tq").arg(n))).size();
    }
    EXPECT_TRUE(r.out.startsWith(
        QStringLiteral("synchronised 3 pages: downloaded 4 files, %1 B, ").arg(fetched)))
        << r.out.toStdString();
    const QString keptIn = "; replaced files kept in ";
    const QString backup = r.out.mid(r.out.indexOf(keptIn) + keptIn.size()).trimmed();
    EXPECT_TRUE(backup.startsWith(site::backupsFolder(b) + "/")) << backup.toStdString();
    // The titles as the site held them, under the header the program writes.
    EXPECT_EQ(readFile(backup + "/etc/head.txt").split('\n').mid(1), bIndex.split('\n').mid(1));
    EXPECT_EQ(readFile(site::titleIndexPath(b)), readFile(site::titleIndexPath(a)));
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(readFile(site::pageFilePath(b, n)), readFile(site::pageFilePath(a, n))) << n;
    }
    // As the window saves the site afterwards, the file index follows the three titles.
    EXPECT_EQ(readFile(site::fileIndexPath(b)),
              crlf({"#    path", "0001 1.tq", "0002 2.tq", "0003 3.tq", "#"}));
}

// What the tool prints is text for a terminal or a log, never commands to it, and a summary that
// could not be written is no success.
TEST_F(PublishTool, OutputHoldsNoControlCharactersAndAFailedWriteFails) {
    const QString a = site("a");
    // Names as anyone can give them, with an escape that would clear the screen and a C1
    // control that some terminals take for one.
    writeFile(a + "/mf/img/x\x1b[2J.png", "x");
    writeFile(a + QString::fromUtf8("/mf/img/y\xc2\x9b"
                                    "31m.png"),
              "y");
    const Result r = tool({"status", "a"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("/mf/img/x\xef\xbf\xbd[2J.png")))
        << r.out.toStdString();
    for (const QChar c : r.out) {
        EXPECT_TRUE(c >= u' ' ? c.unicode() < 0x7F || c.unicode() > 0x9F : c == u'\n')
            << "character " << static_cast<int>(c.unicode());
    }

    // Standard output on a full disk, and on a pipe nobody reads any more.
    QProcess full;
    prepare(full, {"status", "a", "--json"}, QString());
    full.setStandardOutputFile(QStringLiteral("/dev/full"));
    full.start();
    EXPECT_EQ(finish(full).exit, 1);
    QProcess closed;
    prepare(closed, {}, QString());
    closed.setProgram(QStringLiteral("/usr/bin/python3"));
    closed.setArguments({"-c",
                         "import os, subprocess, sys\n"
                         "r, w = os.pipe()\n"
                         "os.close(r)\n"
                         "sys.exit(subprocess.run(sys.argv[1:], stdout=w).returncode)\n",
                         QStringLiteral(ZOROD_PUBLISH_PROGRAM), "status", "a"});
    closed.start();
    const Result r2 = finish(closed);
    EXPECT_EQ(r2.exit, 1) << r2.err.toStdString();
}

// The tool names what the site has lost and deletes it only when told to; what the server
// refuses to delete keeps its record and fails the command.
TEST_F(PublishTool, RemovedFilesAreNamedAndDeletedOnlyWithTheFlag) {
    startServer();
    const QString a = site("a");
    for (const char* name : {"/mf/img/a.png", "/mf/other/b.pdf"}) {
        writeFile(a + name, name);
    }
    remember("a", server->password());
    ASSERT_EQ(tool(withPort({"upload", "a"})).exit, 0);
    writeFile(onServer("/mf/img/theirs.png"), "not ours");
    QFile::remove(a + "/mf/img/a.png");
    QFile::remove(a + "/mf/other/b.pdf");

    const Result named = tool(withPort({"upload", "a"}));
    EXPECT_EQ(named.exit, 0) << named.err.toStdString();
    EXPECT_TRUE(
        named.out.contains("removed from the site: /mf/img/a.png\n"
                           "removed from the site: /mf/other/b.pdf\n"))
        << named.out.toStdString();
    EXPECT_TRUE(named.out.contains("2 files removed from the site stay on the server"));
    EXPECT_TRUE(QFileInfo::exists(onServer("/mf/img/a.png")));

    // The server will not delete in /mf/other: that one stays, recorded, and is named.
    ASSERT_EQ(::chmod(QFile::encodeName(onServer("/mf/other")).constData(), 0555), 0);
    const Result deleted = tool(withPort({"upload", "a", "--delete-removed", "--json"}));
    EXPECT_EQ(deleted.exit, 1) << deleted.err.toStdString();
    const QJsonObject json = QJsonDocument::fromJson(deleted.out.toUtf8()).object();
    EXPECT_EQ(json["deleted"].toArray().toVariantList(), QVariantList{"/mf/img/a.png"});
    EXPECT_EQ(json["notDeleted"].toArray().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(onServer("/mf/img/a.png")));
    EXPECT_TRUE(QFileInfo::exists(onServer("/mf/other/b.pdf")));
    EXPECT_TRUE(QFileInfo::exists(onServer("/mf/img/theirs.png")));
    SettingsStore store = settings();
    publish::FileChangeCache cache(store, "a");
    EXPECT_EQ(cache.recorded("/mf/img/a.png"), std::nullopt);
    EXPECT_TRUE(cache.recorded("/mf/other/b.pdf").has_value());
}

TEST_F(PublishTool, LsListsFoldersThenFilesAsTheRemoteBrowserDoes) {
    startServer();
    site("a");
    remember("a", server->password());
    ASSERT_EQ(tool({"compile", "a"}).exit, 0);
    ASSERT_EQ(tool(withPort({"upload", "a"})).exit, 0);
    struct Row {
        QStringList args;
        QStringList items;
        const char* summary;
    } rows[] = {
        {{"ls", "a"}, {"etc/", "mf/", "index.php"}, "2 folders, 1 file in /www"},
        {{"ls", "a", "//www/mf"},
         {"img/", "music/", "other/", "pages/"},
         "4 folders, 0 files in /www/mf"},
        {{"ls", "a", "--folder", "/www/etc"},
         {"blocs/", "desing/", "file.txt", "head.txt"},
         "2 folders, 2 files in /www/etc"},
    };
    for (const Row& row : rows) {
        const Result r = tool(withPort(row.args));
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        QStringList lines = r.outLines();
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines.takeLast(), row.summary);
        // Folders first, each in the order the server gave it.
        const qsizetype folders = std::count_if(lines.begin(), lines.end(),
                                                [](const QString& l) { return l.endsWith('/'); });
        EXPECT_TRUE(std::all_of(lines.begin(), lines.begin() + folders,
                                [](const QString& l) { return l.endsWith('/'); }));
        EXPECT_EQ(asSet(lines), asSet(row.items)) << r.out.toStdString();
    }
}

TEST_F(PublishTool, ThePasswordComesFromTheSettingsOrTheEnvironment) {
    startServer();
    site("a");
    const QString right = server->password();
    struct Row {
        QString stored;       // null: no account remembered
        QString environment;  // null: ZOROD_FTP_PASSWORD not set
        int exit;
        const char* error;  // part of what standard error says
    } rows[] = {
        {right, {}, 0, ""},
        {"wrong", right, 0, ""},
        {right, "wrong", 1, "Login incorrect."},  // vsftpd's own words
        {{}, {}, 1, "Введите данные"},
    };
    for (const Row& row : rows) {
        if (row.stored.isNull()) {
            SettingsStore store = settings();
            publish::forgetFtpAccount(store, "a");
        } else {
            remember("a", row.stored);
        }
        const Result r = tool(withPort({"ls", "a"}), row.environment);
        EXPECT_EQ(r.exit, row.exit) << row.stored.toStdString() << " " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(row.error)) << r.err.toStdString();
    }
}

// "account" remembers as the window does: the password in the keyring where there is one, else
// (a bus without a Secret Service, no bus at all) in the settings; either way the next command
// logs in without being given it.
TEST_F(PublishTool, AccountRemembersThePasswordWhereTheWindowWould) {
    startServer();
    site("a");
    for (const auto offer :
         {TestKeyring::Offer::Keyring, TestKeyring::Offer::BusOnly, TestKeyring::Offer::NoBus}) {
        const bool keyring = offer == TestKeyring::Offer::Keyring;
        SCOPED_TRACE(static_cast<int>(offer));
        TestKeyring session(offer);
        const Result stored = tool(
            {"account", "a", "--host", server->host(), "--port", QString::number(server->port()),
             "--user", server->user(), "--folder", "/www", "--json"},
            server->password());
        ASSERT_EQ(stored.exit, 0) << stored.err.toStdString();
        const QJsonObject json = QJsonDocument::fromJson(stored.out.toUtf8()).object();
        EXPECT_EQ(json["passwordIn"].toString(), keyring ? "keyring" : "settings");
        EXPECT_EQ(settings().readValue("software\\ZOR-OD\\a\\ftp", "pass").has_value(), !keyring);

        const Result listed = tool({"ls", "a"});
        EXPECT_EQ(listed.exit, 0) << listed.err.toStdString();
        EXPECT_TRUE(listed.out.contains("in /www")) << listed.out.toStdString();
    }
}

TEST_F(PublishTool, AnUnvouchedCertificateIsRefusedUnlessItsFingerprintIsGivenOrStored) {
    TestCertificates certificates;
    const ServerTls tls = certificates.selfSigned("IP:127.0.0.1");
    const QString print = TestCertificates::fingerprint(tls.certificate);
    const QString other =
        TestCertificates::fingerprint(certificates.selfSigned("IP:127.0.0.1").certificate);
    startServer(0, tls);
    site("a");
    remember("a", server->password());
    struct Row {
        const char* what;
        QStringList args;
        QString stored;  // "tlscert"
        bool opens;
    } rows[] = {
        {"given", {"--trust-fingerprint", print}, {}, true},
        {"given as plain hex", {"--trust-fingerprint", print.toLower().remove(':')}, {}, true},
        {"another one given", {"--trust-fingerprint", other}, {}, false},
        {"none given: one given before was not kept", {}, {}, false},
        {"stored for the site", {}, print, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.stored.isEmpty()) {
            SettingsStore store = settings();
            publish::storeTrustedCertificate(store, "a", row.stored);
        }
        const qsizetype logins = server->log().count("\"USER ");
        const Result r = tool(withPort(QStringList{"ls", "a"} + row.args));
        EXPECT_EQ(r.exit, row.opens ? 0 : 1) << r.err.toStdString();
        // Refused, it names the fingerprint to give; accepted, it says nothing of it.
        EXPECT_EQ(r.err.contains("--trust-fingerprint " + print), !row.opens)
            << r.err.toStdString();
        EXPECT_EQ(r.err.contains(print), !row.opens) << r.err.toStdString();
        EXPECT_EQ(server->log().count("\"USER ") - logins, row.opens ? 1 : 0);
    }
}

TEST_F(PublishTool, AFolderThatIsNoSiteIsRefused) {
    QDir(root.root()).mkdir("empty");
    writeFile(root.root() + "plain", "a file");
    struct Row {
        const char* path;
        const char* error;
    } rows[] = {
        {"missing", "не найдена"},
        {"empty", "в ней нет папки \u00ABetc\u00BB"},
        {"plain", "не папка"},
        {"/", "в ней нет папки \u00ABetc\u00BB"},
    };
    for (const Row& row : rows) {
        const Result r = tool({"status", row.path});
        EXPECT_EQ(r.exit, 1) << row.path;
        EXPECT_TRUE(r.err.contains(row.error)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

TEST_F(PublishTool, ASiteNamedAloneIsFoundWhereTheInstalledProgramKeepsItsSites) {
    // Installed into the user's folder, the sites are beside the tool: it finds them by name
    // from any working folder, where a site of that name comes first.
    TempRoot installed;
    const QString program = installed.root() + "zorod-publish";
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZOROD_PUBLISH_PROGRAM), program));
    installed.makeSite("mysite");
    site("here");
    const std::pair<const char*, int> rows[] = {{"mysite", 0}, {"here", 0}, {"none", 1}};
    for (const auto& [name, exit] : rows) {
        QProcess p;
        prepare(p, {"status", name}, QString());
        p.setProgram(program);
        p.start();
        const Result r = finish(p);
        EXPECT_EQ(r.exit, exit) << name << r.err.toStdString();
        // Not found, it says where it looked.
        EXPECT_EQ(r.err.contains(QDir::cleanPath(installed.root())), exit != 0);
    }
}

TEST_F(PublishTool, WhileTheWindowHoldsTheSettingsNothingIsTouched) {
    const QString a = site("a");
    const QByteArray titles = readFile(site::titleIndexPath(a));  // "# path" until a save
    const QByteArray files = readFile(site::fileIndexPath(a));
    SettingsStore window = settings();
    window.createKey("software\\ZOR-OD");  // the window holds the database from its first use
    for (const char* command : {"compile", "status", "upload"}) {
        const Result r = tool({command, "a"});
        EXPECT_EQ(r.exit, 1) << command;
        EXPECT_TRUE(r.err.contains("другая копия программы")) << r.err.toStdString();
    }
    EXPECT_EQ(readFile(site::titleIndexPath(a)), titles);
    EXPECT_EQ(readFile(site::fileIndexPath(a)), files);
    EXPECT_FALSE(QFileInfo::exists(site::frontControllerPath(a)));
}

TEST_F(PublishTool, BadArgumentsAreUsageErrors) {
    site("a");
    const QList<QStringList> rows{
        {},
        {"publish", "a"},
        {"--json", "status", "a"},
        {"status"},
        {"status", "a", "extra"},
        {"status", "a", "--all"},
        {"status", "a", "--host", "h"},
        {"sitemap", "a", "--address"},
        {"upload", "a", "--bogus"},
        {"upload", "a", "--port", "0"},
        {"upload", "a", "--port", "ftp"},
        {"ls", "a", "/www", "/more"},
    };
    for (const QStringList& args : rows) {
        const Result r = tool(args);
        EXPECT_EQ(r.exit, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("--help")) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    for (const QStringList& args :
         QList<QStringList>{{"--help"}, {"upload", "--help"}, {"--version"}}) {
        const Result r = tool(args);
        EXPECT_EQ(r.exit, 0);
        EXPECT_TRUE(r.out.contains("zorod-publish")) << r.out.toStdString();
    }
    EXPECT_TRUE(tool({"upload", "--help"}).out.contains("--dry-run"));
}

TEST_F(PublishTool, CtrlCDuringALongUploadEndsItAndRecordsOnlyWhatTheServerConfirmed) {
    startServer(512 * 1024);  // half a second for each of the files below
    const QString a = site("a");
    for (int i = 1; i <= 8; ++i) {
        writeFile(QStringLiteral("%1/mf/other/part%2.bin").arg(a).arg(i),
                  QByteArray(256 * 1024, static_cast<char>('a' + i)));
    }
    remember("a", server->password());

    QProcess p;
    prepare(p, withPort({"upload", "a"}), QString());
    p.start();
    ASSERT_TRUE(p.waitForStarted());
    // Three files go at once, one a session: the seventh starts only once the server has
    // confirmed four, two of them at least in the folders counted below.
    QByteArray progress;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!progress.contains("Отправка файлов: 7 из ") &&
           std::chrono::steady_clock::now() < deadline && p.state() == QProcess::Running) {
        p.waitForReadyRead(100);
        progress += p.readAllStandardError();
    }
    ASSERT_TRUE(progress.contains("Отправка файлов: 7 из ")) << progress.data();
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    const Result r = finish(p);
    EXPECT_EQ(r.exit, 130) << (progress + r.err.toUtf8()).data();
    EXPECT_TRUE(r.err.contains("Передача прервана пользователем.")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());

    // Every file recorded reached the server whole; the upload did not get to the end.
    SettingsStore store = settings();
    publish::FileChangeCache cache(store, "a");
    int recorded = 0, total = 0;
    for (const QString& folder : QStringList{"/mf/other/", "/mf/pages/", "/etc/", "/etc/desing/"}) {
        for (const QString& file : QDir(a + folder).entryList(QDir::Files)) {
            ++total;
            const auto digest = cache.recorded(folder + file);
            if (!digest) {
                continue;
            }
            ++recorded;
            EXPECT_EQ(*digest, md5Of(readFile(a + folder + file))) << file.toStdString();
            EXPECT_EQ(*digest, md5Of(readFile(onServer(folder + file)))) << file.toStdString();
        }
    }
    EXPECT_GE(recorded, 2);
    EXPECT_LT(recorded, total);
}

TEST_F(PublishTool, AnUploadChecksThePublishedSiteAndAFailedCheckEndsWithThree) {
    startServer();
    site("a");
    ASSERT_EQ(tool({"compile", "a"}).exit, 0);
    remember("a", server->password());
    for (const char* folder : {"/site", "/other"}) {
        QDir().mkpath(onServer(folder));
        ::chmod(QFile::encodeName(onServer(folder)).constData(), 0777);  // the server's user writes
    }
    PhpServer php(onServer("/site"));
    ASSERT_TRUE(php.started());
    const QString address = QString("127.0.0.1:%1").arg(php.port());

    // Beside the web root: the files went, the site does not work there.
    Result r =
        tool(withPort({"upload", "a", "--address", address, "--folder", "/www/other", "--json"}));
    EXPECT_EQ(r.exit, 3) << r.err.toStdString();
    const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_TRUE(json["ok"].toBool());
    EXPECT_GT(json["sent"].toInt(), 0);
    EXPECT_FALSE(json["check"]["passed"].toBool());
    EXPECT_TRUE(json["check"]["text"].toString().startsWith(
        QString("Проверка сайта не прошла: index.php не найден по адресу http://%1/index.php: ")
            .arg(address)))
        << r.out.toStdString();

    r = tool(withPort({"upload", "a", "--all", "--address", address, "--folder", "/www/site"}));
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.outLines().value(1), "Сайт работает: страница 1 «Главная» открывается");

    r = tool(
        withPort({"upload", "a", "--address", address, "--folder", "/www/other", "--no-check"}));
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.outLines().size(), 1) << r.out.toStdString();
}

TEST_F(PublishTool, OverSftpAnUnknownHostKeyIsRefusedByItsFingerprintUntilItIsGiven) {
    SshServer ssh;
    sshHome = config.path();
    site("a");
    {
        SettingsStore store = settings();
        publish::storeFtpAccount(store, "a",
                                 {ssh.host(), ssh.user(), ssh.password(), ssh.writableFolder()});
    }
    ASSERT_EQ(tool({"compile", "a"}).exit, 0);
    const QString print = ssh.hostFingerprint();
    const QStringList over{"--protocol", "sftp", "--port", QString::number(ssh.port())};
    Result r = tool(QStringList{"upload", "a"} + over);
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.contains("--trust-fingerprint " + print)) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(ssh.writableFolder() + "/index.php"));

    const QStringList trusted = over + QStringList{"--trust-fingerprint", print};
    r = tool(QStringList{"upload", "a"} + trusted);
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(ssh.writableFolder() + "/mf/pages/1.tq"));
    r = tool(QStringList{"ls", "a"} + trusted);
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.outLines().contains("mf/")) << r.out.toStdString();
    EXPECT_TRUE(r.outLines().contains("index.php")) << r.out.toStdString();
    r = tool(QStringList{"sync", "a"} + trusted);
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
}

TEST_F(PublishTool, TheUploadNamesItsRouteAndNoArchiveSendsFileByFile) {
    startServer();
    const QString a = site("a");
    for (int i = 0; i < 25; ++i) {
        writeFile(a + QString("/mf/other/f%1.txt").arg(i), QByteArray(i, 'x'));
    }
    remember("a", server->password());
    PhpServer php(onServer(""), "ftp");  // as the FTP account's files belong to
    ASSERT_TRUE(php.started());
    const QStringList args{"upload", "a", "--address", php.address(), "--no-check", "--json"};
    const auto route = [&](const QStringList& more) {
        const Result r = tool(withPort(args + more));
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        EXPECT_TRUE(json["fallback"].isNull()) << r.out.toStdString();
        return json;
    };
    // The site's own files, but the index files, go into the archive as well.
    EXPECT_EQ(route({"--dry-run"})["route"], "archive");
    EXPECT_EQ(route({"--dry-run", "--no-archive"})["route"], "files");
    const QJsonObject sent = route({});
    EXPECT_EQ(sent["route"], "archive");
    EXPECT_GE(sent["archived"].toInt(), 25);
    EXPECT_EQ(sent["archived"].toInt() + 2, sent["sent"].toInt());
    EXPECT_EQ(readFile(onServer("/mf/other/f24.txt")), QByteArray(24, 'x'));
}
