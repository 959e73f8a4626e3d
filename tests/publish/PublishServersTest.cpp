#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "FtpTestSupport.h"
#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "publish/FileChangeCache.h"
#include "publish/RemoteBrowser.h"
#include "publish/SftpClient.h"
#include "publish/SiteUpload.h"
#include "publish/Synchronise.h"
#include "site/PageIndex.h"
#include "site/SiteWorkspace.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::publish;
using namespace zor::test;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

QString md5Of(const QString& path) {
    return QString::fromLatin1(
        QCryptographicHash::hash(readFile(path), QCryptographicHash::Md5).toHex());
}

QSet<QString> asSet(const QStringList& list) {
    return QSet<QString>(list.begin(), list.end());
}

// Sites in a temporary root, published through one client to one server.
struct PublishingBase {
    TempRoot root;
    SettingsStore settings{root.settingsPath()};
    FtpClient ftp;
    SftpClient sftp;
    std::unique_ptr<FtpServer> server;
    bool overSsh = false;   // the server is an SshServer, the client sftp
    QTemporaryDir sshHome;  // the user's ~/.ssh and the program's known hosts, both empty
    QStringList sent;       // the files each upload set out to send, in order
    QMap<QString, qint64> reportedSizes;  // the size each sent file was announced with
    int retries = DefaultRetries;

    void useServer(std::unique_ptr<FtpServer> s) {
        server = std::move(s);
        ftp.Port = server->port();
        ftp.Timeout = std::chrono::seconds(10);
        overSsh = dynamic_cast<SshServer*>(server.get()) != nullptr;
        sftp.Port = server->port();
        sftp.Timeout = ftp.Timeout;
        sftp.UserSshFolder = sshHome.filePath(".ssh");
        sftp.KnownHostsFile = sshHome.filePath("known_hosts");
    }
    RemoteClient& client() { return overSsh ? static_cast<RemoteClient&>(sftp) : ftp; }
    FaultFtpServer& useFaultServer(const QString& scenario) {
        auto fault = std::make_unique<FaultFtpServer>(scenario);
        FaultFtpServer& s = *fault;
        useServer(std::move(fault));
        return s;
    }
    FtpAccount account() const {
        FtpAccount a{server->host(), server->user(), server->password(), server->writableFolder()};
        if (overSsh) {
            a.protocol = RemoteProtocol::Sftp;
            a.trustedCertificate = static_cast<const SshServer&>(*server).hostFingerprint();
        }
        return a;
    }
    // A new site, opened the way the main window opens one.
    OpenSiteState openNewSite(const QString& name) {
        OpenSiteState state = root.openNewSite(name);
        state.ftpAccount = account();
        return state;
    }
    PublishJob job(OpenSiteState& state) {
        return {state, settings, client(),
                [this](Stage stage, int, int, const QString& name, qint64 size) {
                    if (stage == Stage::Sending) {
                        sent.append(name);
                        reportedSizes[name] = size;
                    }
                },
                retries};
    }
    UploadResult upload(OpenSiteState& state) {
        sent.clear();
        PublishJob j = job(state);
        return uploadChangedFiles(j);
    }
    UploadResult uploadAll(OpenSiteState& state) {
        sent.clear();
        PublishJob j = job(state);
        return uploadAllFiles(j);
    }
    QList<ReplaceQuestion> questions;  // what synchronisations asked, in order
    SyncResult sync(OpenSiteState& state, bool answer) {
        PublishJob j = job(state);
        return publish::synchronise(j, [&](const ReplaceQuestion& q) {
            questions.append(q);
            return answer;
        });
    }
    // Replaces whatever it finds.
    int synchronise(OpenSiteState& state) { return sync(state, true).entries; }
    // Site "a" with three pages, published.
    OpenSiteState publishThreePages(const QByteArray& two, const QByteArray& three) {
        OpenSiteState a = openNewSite("a");
        setPages(a, "Альфа", {"Главная", "О нас", "Контакты"});
        writeFile(site::pageFilePath(a.sitePath, 2), two);
        writeFile(site::pageFilePath(a.sitePath, 3), three);
        upload(a);
        return a;
    }
    // Where the server keeps a file of the published site.
    QString onServer(const QString& name) const {
        return server->localPath(server->writableFolder() + name);
    }
    std::optional<QString> recorded(const QString& site, const QString& name) {
        return FileChangeCache(settings, site).recorded(name);
    }
    static void setPages(OpenSiteState& state, const QString& siteTitle,
                         const QStringList& titles) {
        state.siteTitle = siteTitle;
        state.pageList.clear();
        for (int n = 1; n <= titles.size(); ++n) {
            state.pageTitles[n] = titles[n - 1];
            state.pageList.append(QStringLiteral("%1 - %2").arg(n).arg(titles[n - 1]));
        }
        state.pageList.append(NewItemEntry);
    }
    static QStringList siteFileNames(const QString& sitePath) {
        QStringList names;
        for (const SiteFile& f : uploadCandidates(sitePath)) {
            names.append(f.name);
        }
        return names;
    }
    static QStringList leftovers(const QString& sitePath) {
        return QDir(sitePath).entryList({".sync*"}, QDir::AllEntries | QDir::Hidden);
    }
    static QStringList backups(const QString& sitePath) {
        return QDir(site::backupsFolder(sitePath))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
};

struct SyncKeeping : PublishingBase, ::testing::Test {
    SyncKeeping() { useServer(std::make_unique<VsftpdServer>()); }
};

class Publishing : public PublishingBase, public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override { useServer(startServer(GetParam(), tls)); }
    std::optional<TlsRun> tls;
};

ZOROD_INSTANTIATE_FOR_REAL_SERVERS(Publishing);
INSTANTIATE_TEST_SUITE_P(Ssh, Publishing, ::testing::Values(ServerKind::Sftp),
                         [](const auto& info) { return serverKindName(info.param); });

}  // namespace

TEST_P(Publishing, FirstUploadSendsEverythingThenOnlyWhatChanged) {
    OpenSiteState a = openNewSite("a");
    writeFile(a.sitePath + "/mf/img/logo.png", randomBytes(300 * 1024 + 5, 1));
    writeFile(a.sitePath + "/mf/other/empty.txt", "");
    writeFile(a.sitePath + "/sitemap.xml", "<urlset/>");
    writeFile(a.sitePath + "/index.html", "the editor's preview");

    UploadResult first = upload(a);
    const QStringList files = siteFileNames(a.sitePath);  // now with etc/file.txt
    EXPECT_EQ(first.sent, files.size());
    EXPECT_EQ(sent.size(), files.size());
    EXPECT_EQ(asSet(sent), asSet(files));
    for (const QString& folder : mfFolderGroup() + etcFolderGroup()) {
        EXPECT_TRUE(QFileInfo(onServer(folder)).isDir()) << folder.toStdString();
    }
    for (const QString& name : files) {
        EXPECT_EQ(readFile(onServer(name)), readFile(a.sitePath + name)) << name.toStdString();
        EXPECT_EQ(recorded("a", name), md5Of(a.sitePath + name)) << name.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(onServer("/index.html")));
    EXPECT_FALSE(client().IsConnected());

    // The server's real listing shows what the upload made.
    const RemoteEntries listed = listRemoteFolder(client(), a.ftpAccount);
    EXPECT_TRUE(listed.folders.contains("mf") && listed.folders.contains("etc"))
        << listed.folders.join('|').toStdString();
    EXPECT_TRUE(listed.files.contains("sitemap.xml"));

    UploadResult second = upload(a);
    EXPECT_EQ(second.sent, 0);
    EXPECT_EQ(second.considered, files.size());

    writeFile(site::pageFilePath(a.sitePath, 1), "a new text");
    a.pageTitles[1] = "Новое название";
    upload(a);
    EXPECT_EQ(sent, (QStringList{"/mf/pages/1.tq", "/etc/head.txt"}));
    EXPECT_EQ(readFile(onServer("/mf/pages/1.tq")), "a new text");

    QFile::remove(onServer("/sitemap.xml"));
    upload(a);
    EXPECT_TRUE(sent.isEmpty());  // what the server lost is not known here
    uploadAll(a);
    EXPECT_EQ(asSet(sent), asSet(files));
    EXPECT_TRUE(QFileInfo::exists(onServer("/sitemap.xml")));
}

TEST_P(Publishing, AccessRulesGoUpAndOtherHiddenFilesStayHome) {
    OpenSiteState a = openNewSite("a");
    writeFile(a.sitePath + "/etc/.htaccess", "Require all denied\r\n");
    writeFile(a.sitePath + "/mf/pages/.htaccess", "Deny from all\r\n");
    writeFile(a.sitePath + "/mf/pages/.1.tq.swp", "an editor's swap file");
    upload(a);
    EXPECT_EQ(readFile(onServer("/etc/.htaccess")), "Require all denied\r\n");
    EXPECT_EQ(readFile(onServer("/mf/pages/.htaccess")), "Deny from all\r\n");
    EXPECT_FALSE(QFileInfo::exists(onServer("/mf/pages/.1.tq.swp")));
    EXPECT_TRUE(recorded("a", "/etc/.htaccess").has_value());
}

TEST_P(Publishing, WhatIsRecordedIsWhatReachedTheServer) {
    OpenSiteState a = openNewSite("a");
    const QString robots = a.sitePath + "/robots.txt";
    writeFile(robots, "version A");
    // One session: the report of a file's sending then comes before its bytes are read, on the
    // same thread, where further sessions would already be reading it.
    a.ftpAccount.sessions = 1;
    // Another program saves the file after the upload has checked it, before it is sent.
    PublishJob j{a, settings, client(), [&](Stage stage, int, int, const QString& name, qint64) {
                     if (stage == Stage::Sending && name == "/robots.txt") {
                         writeFile(robots, "version B, a little longer");
                     }
                 }};
    uploadChangedFiles(j);
    EXPECT_EQ(readFile(onServer("/robots.txt")), "version B, a little longer");
    EXPECT_EQ(recorded("a", "/robots.txt"), md5Of(robots));

    // Back to the content it had when it was checked: the server holds another, so it goes.
    writeFile(robots, "version A");
    upload(a);
    EXPECT_EQ(sent, QStringList{"/robots.txt"});
    EXPECT_EQ(readFile(onServer("/robots.txt")), "version A");
}

TEST_P(Publishing, SynchronisationReplacesAllOrNothing) {
    OpenSiteState a = publishThreePages("two", "three");

    OpenSiteState b = openNewSite("b");
    const QByteArray index = readFile(site::titleIndexPath(b.sitePath));
    const QByteArray page1 = readFile(site::pageFilePath(b.sitePath, 1));
    const QStringList list = b.pageList;
    auto unchanged = [&] {
        EXPECT_EQ(readFile(site::titleIndexPath(b.sitePath)), index);
        EXPECT_EQ(readFile(site::pageFilePath(b.sitePath, 1)), page1);
        EXPECT_FALSE(QFileInfo(site::pageFilePath(b.sitePath, 3)).isFile());
        EXPECT_EQ(b.pageList, list);
        EXPECT_TRUE(leftovers(b.sitePath).isEmpty());
    };

    // Found before anything is replaced: a folder where page 2 belongs.
    ASSERT_TRUE(QDir().mkpath(site::pageFilePath(b.sitePath, 2)));
    EXPECT_THAT([&] { synchronise(b); }, ThrowsMessage<FileError>(HasSubstr("2.tq")));
    unchanged();
    ASSERT_TRUE(QDir(site::pageFilePath(b.sitePath, 2)).removeRecursively());

    // Found only when the title index, replaced last, cannot be moved in: "etc" lives on
    // another file system. The pages already replaced go back.
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/zorod-etc-XXXXXX"));
    ASSERT_TRUE(elsewhere.isValid());
    struct stat here {
    }, there{};
    ASSERT_EQ(::stat(QFile::encodeName(b.sitePath).constData(), &here), 0);
    ASSERT_EQ(::stat(QFile::encodeName(elsewhere.path()).constData(), &there), 0);
    if (here.st_dev == there.st_dev) {
        GTEST_SKIP() << "/dev/shm is on the same file system as the temporary folder";
    }
    const QString etc = b.sitePath + "/etc";
    writeFile(elsewhere.filePath("etc/head.txt"), index);
    ASSERT_TRUE(QDir(etc).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere.filePath("etc"), etc));
    EXPECT_THAT(
        [&] { synchronise(b); },
        ThrowsMessage<FileError>(AllOf(HasSubstr("head.txt"), HasSubstr("Ничего не изменено"))));
    unchanged();
    EXPECT_FALSE(QFileInfo::exists(site::pageFilePath(b.sitePath, 2)));
}

TEST_P(Publishing, SynchronisationBringsThePagesIntoAnotherWorkspace) {
    OpenSiteState a = publishThreePages("<p>о нас</p>", "<p>контакты</p>");

    OpenSiteState b = openNewSite("b");
    writeFile(site::pageFilePath(b.sitePath, 1), "b's own first page");
    EXPECT_EQ(synchronise(b), 4);
    EXPECT_EQ(readFile(site::titleIndexPath(b.sitePath)),
              readFile(site::titleIndexPath(a.sitePath)));
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(readFile(site::pageFilePath(b.sitePath, n)),
                  readFile(site::pageFilePath(a.sitePath, n)));
    }
    EXPECT_EQ(b.pageList, a.pageList);
    EXPECT_EQ(b.siteTitle, "Альфа");
    EXPECT_TRUE(leftovers(b.sitePath).isEmpty());
    EXPECT_FALSE(client().IsConnected());
    // Again, with everything already in place.
    EXPECT_EQ(synchronise(b), 4);
    EXPECT_TRUE(leftovers(b.sitePath).isEmpty());
}

TEST_P(Publishing, APageMissingOnTheServerLeavesTheLocalSiteAsItWas) {
    OpenSiteState a = publishThreePages("two", "three");
    ASSERT_TRUE(QFile::remove(onServer("/mf/pages/2.tq")));

    OpenSiteState b = openNewSite("b");
    writeFile(site::pageFilePath(b.sitePath, 2), "b's second page");
    const QByteArray index = readFile(site::titleIndexPath(b.sitePath));
    const QByteArray page1 = readFile(site::pageFilePath(b.sitePath, 1));
    const QStringList list = b.pageList;

    EXPECT_THROW(synchronise(b), FtpError);
    EXPECT_EQ(readFile(site::titleIndexPath(b.sitePath)), index);
    EXPECT_EQ(readFile(site::pageFilePath(b.sitePath, 1)), page1);
    EXPECT_EQ(readFile(site::pageFilePath(b.sitePath, 2)), "b's second page");
    EXPECT_FALSE(QFileInfo::exists(site::pageFilePath(b.sitePath, 3)));
    EXPECT_EQ(b.pageList, list);
    EXPECT_TRUE(leftovers(b.sitePath).isEmpty());
}

TEST_P(Publishing, AServerIndexWithoutPagesChangesNothing) {
    OpenSiteState a = openNewSite("a");
    QDir().mkpath(onServer("/etc"));
    writeFile(onServer("/etc/head.txt"), crlf({"#    path", "#"}));
    // A title edited in memory and not saved yet survives.
    a.pageTitles[1] = "Ещё не сохранено";
    a.pageList[0] = "1 - Ещё не сохранено";
    const QByteArray index = readFile(site::titleIndexPath(a.sitePath));
    EXPECT_EQ(synchronise(a), 2);
    EXPECT_EQ(a.pageList[0], "1 - Ещё не сохранено");
    EXPECT_EQ(readFile(site::titleIndexPath(a.sitePath)), index);
    EXPECT_TRUE(leftovers(a.sitePath).isEmpty());
}

TEST_F(SyncKeeping, UnsentWorkIsNamedKeptOnNoAndBackedUpOnYes) {
    OpenSiteState a = publishThreePages("two", "three");
    writeFile(site::pageFilePath(a.sitePath, 2), "edited here, not sent");
    // Another computer has since published another page 3.
    writeFile(onServer("/mf/pages/3.tq"), "three from elsewhere");

    SyncResult r = sync(a, false);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0].files, QStringList{"mf/pages/2.tq"});
    EXPECT_TRUE(questions[0].text.startsWith(
        "Эти страницы изменены после последней загрузки и будут заменены:\n2 - О нас "
        "(mf/pages/2.tq)\n"))
        << questions[0].text.toStdString();
    EXPECT_TRUE(r.declined);
    EXPECT_EQ(readFile(site::pageFilePath(a.sitePath, 2)), "edited here, not sent");
    EXPECT_EQ(readFile(site::pageFilePath(a.sitePath, 3)), "three");
    EXPECT_FALSE(QFileInfo::exists(site::backupsFolder(a.sitePath)));
    EXPECT_TRUE(leftovers(a.sitePath).isEmpty());

    r = sync(a, true);
    EXPECT_FALSE(r.declined);
    EXPECT_EQ(r.entries, 4);
    EXPECT_EQ(readFile(site::pageFilePath(a.sitePath, 2)), "two");
    EXPECT_EQ(readFile(site::pageFilePath(a.sitePath, 3)), "three from elsewhere");
    ASSERT_EQ(backups(a.sitePath).size(), 1);
    EXPECT_EQ(r.backupFolder, site::backupsFolder(a.sitePath) + '/' + backups(a.sitePath)[0]);
    EXPECT_TRUE(QRegularExpression("^0001_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d$")
                    .match(backups(a.sitePath)[0])
                    .hasMatch());
    EXPECT_TRUE(syncDoneText(r).contains(r.backupFolder));
    // Every file whose content changed is kept, the one replaced by its own bytes is not.
    EXPECT_EQ(readFile(r.backupFolder + "/mf/pages/2.tq"), "edited here, not sent");
    EXPECT_EQ(readFile(r.backupFolder + "/mf/pages/3.tq"), "three");
    EXPECT_FALSE(QFileInfo::exists(r.backupFolder + "/mf/pages/1.tq"));
    EXPECT_FALSE(QFileInfo::exists(r.backupFolder + "/etc/head.txt"));

    // Nothing of the backup goes up, however much is sent.
    uploadAll(a);
    EXPECT_EQ(asSet(sent), asSet(siteFileNames(a.sitePath)));
    for (const QString& name : sent) {
        EXPECT_FALSE(name.contains("backup")) << name.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(onServer("/etc/backup")));
}

TEST_F(SyncKeeping, NoLocalChangeAsksNothingTitlesNotYetSavedDo) {
    OpenSiteState a = publishThreePages("two", "three");
    SyncResult r = sync(a, false);
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_FALSE(r.declined);
    EXPECT_EQ(r.entries, 4);
    EXPECT_TRUE(r.backupFolder.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(site::backupsFolder(a.sitePath)));

    // A title renamed in the editor lives in memory until the site is saved: it counts.
    a.pageTitles[3] = "Адреса";
    a.pageList[2] = "3 - Адреса";
    const QByteArray onDisk = readFile(site::titleIndexPath(a.sitePath));
    r = sync(a, true);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0].files, QStringList{"etc/head.txt"});
    EXPECT_TRUE(questions[0].text.contains("заголовки страниц (etc/head.txt)"));
    EXPECT_EQ(a.pageList[2], "3 - Контакты");
    const QByteArray kept = readFile(r.backupFolder + "/etc/head.txt");
    EXPECT_TRUE(kept.contains(textfile::toCp1251(u"Адреса"))) << kept.toStdString();
    EXPECT_EQ(kept.size(), onDisk.size() - textfile::toCp1251(u"Контакты").size() +
                               textfile::toCp1251(u"Адреса").size());
}

TEST_F(SyncKeeping, APageThatIsARelativeLinkIsKeptByTheBytesItLeadsTo) {
    OpenSiteState a = publishThreePages("two", "three");
    const QString page = site::pageFilePath(a.sitePath, 2);
    writeFile(a.sitePath + "/mf/other/two.html", "edited through the link");
    ASSERT_TRUE(QFile::remove(page));
    ASSERT_EQ(::symlink("../other/two.html", QFile::encodeName(page).constData()), 0);

    const SyncResult r = sync(a, true);
    const QString kept = r.backupFolder + "/mf/pages/2.tq";
    EXPECT_FALSE(QFileInfo(kept).isSymLink());
    EXPECT_EQ(readFile(kept), "edited through the link");
    EXPECT_EQ(readFile(page), "two");
    EXPECT_EQ(readFile(a.sitePath + "/mf/other/two.html"), "edited through the link");
}

TEST_F(SyncKeeping, TheEleventhBackupRemovesTheOldest) {
    OpenSiteState a = publishThreePages("two", "three");
    const QString folder = site::backupsFolder(a.sitePath);
    QStringList old;
    for (int i = 0; i < 10; ++i) {
        old.append(QStringLiteral("2020-01-01_00-00-%1").arg(i, 2, 10, QChar('0')));
        ASSERT_TRUE(QDir().mkpath(folder + '/' + old.last() + "/mf/pages"));
    }
    old.append("2020-01-01_00-00-09_2");  // the second of that second
    ASSERT_TRUE(QDir().mkpath(folder + '/' + old.last()));
    ASSERT_TRUE(QDir().mkpath(folder + "/mine"));  // the user's own
    writeFile(folder + "/notes.txt", "mine too");

    writeFile(site::pageFilePath(a.sitePath, 1), "changed");
    const SyncResult r = sync(a, true);
    QStringList expected = old.mid(2);
    expected << QFileInfo(r.backupFolder).fileName() << "mine"
             << "notes.txt";
    expected.sort();
    EXPECT_EQ(backups(a.sitePath), expected);
    EXPECT_EQ(readFile(r.backupFolder + "/mf/pages/1.tq"), "changed");
}

TEST_F(SyncKeeping, ABackupMadeWithTheClockBehindTheOthersIsKept) {
    OpenSiteState a = publishThreePages("two", "three");
    const QString folder = site::backupsFolder(a.sitePath);
    QStringList ahead;
    for (int i = 0; i < 10; ++i) {
        ahead.append(QStringLiteral("2099-01-01_00-00-%1").arg(i, 2, 10, QChar('0')));
        ASSERT_TRUE(QDir().mkpath(folder + '/' + ahead.last()));
    }
    writeFile(site::pageFilePath(a.sitePath, 1), "changed");
    const SyncResult r = sync(a, true);
    QStringList expected = ahead.mid(1);
    expected << QFileInfo(r.backupFolder).fileName();
    expected.sort();
    EXPECT_EQ(backups(a.sitePath), expected);
    EXPECT_EQ(readFile(r.backupFolder + "/mf/pages/1.tq"), "changed");
}

TEST_F(SyncKeeping, ACancelOnceTheFilesAreReplacedStillListsThePages) {
    OpenSiteState a = publishThreePages("two", "three");
    writeFile(site::pageFilePath(a.sitePath, 2), "edited here, not sent");
    bool cancelPressed = false;
    ftp.Pump = [&] {
        if (cancelPressed) {
            throw Cancelled();
        }
    };
    PublishJob j = job(a);
    const SyncResult r = publish::synchronise(j, [&](const ReplaceQuestion&) {
        cancelPressed = true;  // pressed while the question was up
        return true;
    });
    EXPECT_EQ(r.entries, 4);
    EXPECT_EQ(a.pageList.size(), 4);
    EXPECT_EQ(readFile(site::pageFilePath(a.sitePath, 2)), "two");
}

TEST(PublishingFaults, AFileRefusedByTheServerIsSentAgainNextTime) {
    PublishingBase p;
    p.useServer(std::make_unique<VsftpdServer>());
    OpenSiteState a = p.openNewSite("a");
    a.ftpAccount.sessions = 1;  // one file after the other: the refusal ends the upload
    writeFile(a.sitePath + "/robots.txt", "old rules");
    writeFile(a.sitePath + "/mf/img/logo.png", "old logo");
    p.upload(a);
    const QString oldDigest = md5Of(a.sitePath + "/mf/img/logo.png");

    writeFile(a.sitePath + "/robots.txt", "new rules");
    writeFile(a.sitePath + "/mf/img/logo.png", "new logo");
    writeFile(site::pageFilePath(a.sitePath, 1), "new page");
    // The server's user may no longer write the logo.
    const QByteArray logo = QFile::encodeName(p.onServer("/mf/img/logo.png"));
    ASSERT_EQ(::chmod(logo.constData(), 0444), 0);
    EXPECT_THROW(p.upload(a), FtpError);
    EXPECT_EQ(p.sent, (QStringList{"/robots.txt", "/mf/img/logo.png"}));
    EXPECT_EQ(p.recorded("a", "/robots.txt"), md5Of(a.sitePath + "/robots.txt"));
    EXPECT_EQ(p.recorded("a", "/mf/img/logo.png"), oldDigest);

    ASSERT_EQ(::chmod(logo.constData(), 0644), 0);
    p.upload(a);
    EXPECT_EQ(p.sent, (QStringList{"/mf/img/logo.png", "/mf/pages/1.tq"}));
    EXPECT_EQ(readFile(p.onServer("/mf/img/logo.png")), "new logo");
}

TEST(PublishingFaults, ATransferCutShortIsNotRecordedAndGoesAgain) {
    PublishingBase p;
    FaultFtpServer& server = p.useFaultServer("reset-mid-stor");
    OpenSiteState a = p.openNewSite("a");
    // One session: with more, whichever file's failure came first would be the one reported.
    a.ftpAccount.sessions = 1;
    p.retries = 0;  // each failure ends the command, as a last retry's would
    // The server takes a file in full, then reports the transfer aborted (426, then 226).
    writeFile(a.sitePath + "/robots.txt", "arrives, but the server calls it aborted");
    EXPECT_THAT(
        [&] { p.upload(a); },
        ThrowsMessage<FtpError>(AllOf(HasSubstr("/robots.txt"), HasSubstr("transfer aborted"))));
    EXPECT_EQ(p.recorded("a", "/robots.txt"), std::nullopt);
    EXPECT_THROW(p.upload(a), FtpError);

    // And a file cut short on the way.
    QFile::remove(a.sitePath + "/robots.txt");
    writeFile(a.sitePath + "/mf/img/big.bin", randomBytes(32 * 1024 * 1024, 3));
    EXPECT_THROW(p.upload(a), FtpError);
    EXPECT_EQ(p.recorded("a", "/mf/img/big.bin"), std::nullopt);

    int robots = 0, big = 0;
    for (const QByteArray& line : server.receivedLines()) {
        robots += line == "STOR //robots.txt\r\n";
        big += line == "STOR //mf/img/big.bin.zorod-part\r\n";  // a large file's temporary name
    }
    EXPECT_EQ(robots, 2);
    EXPECT_EQ(big, 1);
}

TEST(PublishingFaults, AfterAFailedCommandANewAccountUploadsToItsOwnServerOnly) {
    PublishingBase p;
    p.useServer(std::make_unique<VsftpdServer>());  // server A
    PyftpdlibServer b;
    QDir().mkpath(b.localPath("/www"));
    OpenSiteState site = p.openNewSite("a");

    FtpAccount onA = p.account();
    onA.remoteFolder = "/www/nowhere";
    EXPECT_THROW(listRemoteFolder(p.ftp, onA), FtpError);

    // The user types the account of server B (the port stands in for another host name).
    site.ftpAccount = {b.host(), b.user(), b.password(), "/www"};
    p.ftp.Port = b.port();
    p.upload(site);
    EXPECT_TRUE(
        QDir(p.onServer("")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_EQ(readFile(b.localPath("/www/mf/pages/1.tq")),
              readFile(site::pageFilePath(site.sitePath, 1)));

    // A session that is open all the same is used only by the account it logged in with.
    applyAccount(p.ftp, onA);
    p.ftp.Port = p.server->port();
    p.ftp.OpenSession();
    applyAccount(p.ftp, site.ftpAccount);
    p.ftp.Port = b.port();
    openIfClosed(p.ftp);
    p.ftp.ChangeFolder("/www/mf");  // only B has it
    p.ftp.CloseSession();
}

TEST(PublishingFaults, AnEndlessTitleIndexOnTheServerChangesNothing) {
    PublishingBase p;
    p.useServer(std::make_unique<FaultFtpServer>("endless-data"));
    OpenSiteState a = p.openNewSite("a");
    const QByteArray index = readFile(site::titleIndexPath(a.sitePath));
    EXPECT_THAT([&] { p.synchronise(a); }, ThrowsMessage<FtpError>(HasSubstr("/etc/head.txt")));
    EXPECT_EQ(readFile(site::titleIndexPath(a.sitePath)), index);
    EXPECT_TRUE(PublishingBase::leftovers(a.sitePath).isEmpty());
    EXPECT_FALSE(p.ftp.IsConnected());
}

TEST(PublishingFaults, AFirstUploadMakesTheMissingGroupThenWalksTheNineFoldersInOrder) {
    PublishingBase p;
    FaultFtpServer& server = p.useFaultServer("normal");  // its listing holds "etc" only
    OpenSiteState a = p.openNewSite("a");
    a.ftpAccount.sessions = 1;
    for (const char* name : {"/robots.txt", "/mf/top.css", "/mf/img/a.png", "/mf/music/a.mp3",
                             "/mf/other/a.zip", "/etc/desing/a.css", "/etc/blocs/a.tq"}) {
        writeFile(a.sitePath + name, name);
    }
    p.upload(a);
    QStringList made, storedIn;
    for (const QByteArray& line : server.receivedLines()) {
        const QString text = QString::fromLatin1(line.chopped(2));
        if (text.startsWith("MKD ")) {
            made.append(text.mid(4));
        } else if (text.startsWith("STOR ")) {
            const QString folder = text.mid(5, text.lastIndexOf('/') - 4);
            if (storedIn.value(storedIn.size() - 1) != folder) {
                storedIn.append(folder);
            }
        }
    }
    EXPECT_EQ(made,
              (QStringList{"//mf/", "//mf/music/", "//mf/img/", "//mf/other/", "//mf/pages/"}));
    EXPECT_EQ(storedIn, (QStringList{"//", "//mf/", "//mf/img/", "//mf/music/", "//mf/other/",
                                     "//mf/pages/", "//etc/", "//etc/desing/", "//etc/blocs/"}));
}

TEST(PublishingFaults, FileNamesOutsideWindows1251StopTheUploadBeforeItSends) {
    PublishingBase p;
    FaultFtpServer& server = p.useFaultServer("normal");
    OpenSiteState a = p.openNewSite("a");
    writeFile(a.sitePath + "/mf/img/фото中.png", "x");
    EXPECT_THAT([&] { p.upload(a); }, ThrowsMessage<ZorError>(HasSubstr("/mf/img/фото中.png")));
    EXPECT_TRUE(server.receivedLines().isEmpty());
    EXPECT_EQ(p.recorded("a", "/mf/pages/1.tq"), std::nullopt);
}

TEST(PublishingFaults, CancelWhileABigFileIsCheckedStopsBeforeTheServer) {
    PublishingBase p;
    FaultFtpServer& server = p.useFaultServer("normal");
    OpenSiteState a = p.openNewSite("a");
    writeFile(a.sitePath + "/mf/other/big.bin", QByteArray(64 * 1024 * 1024, 'x'));
    QString checking;
    int pumpsDuringBig = 0;
    PublishJob j{a, p.settings, p.ftp, [&](Stage stage, int, int, const QString& name, qint64) {
                     if (stage == Stage::Checking) {
                         checking = name;
                     }
                 }};
    // The user presses Cancel while the big file is read; the window must see it there.
    p.ftp.Pump = [&] {
        if (checking == "/mf/other/big.bin" && ++pumpsDuringBig == 8) {
            throw Cancelled();
        }
    };
    EXPECT_THROW(uploadChangedFiles(j), Cancelled);
    EXPECT_EQ(pumpsDuringBig, 8);
    EXPECT_TRUE(server.receivedLines().isEmpty());
}

namespace {

// The commands of every session, as the scripted server received them: the verb and argument
// of each line; STOR arguments without the RemoteFolder "/" in front, and a large file's
// temporary name as the name it is renamed to.
struct Wire {
    QStringList lines, stored, renamed;
    int logins = 0;
    explicit Wire(const FaultFtpServer& server) {
        for (const QByteArray& line : server.receivedLines()) {
            const QString text = QString::fromLatin1(line.chopped(2));
            lines.append(text);
            logins += text.startsWith("USER ");
            if (text.startsWith("STOR /")) {
                stored.append(text.mid(6).remove(QRegularExpression("\\.zorod-part$")));
            }
            if (text.startsWith("RNTO /")) {
                renamed.append(text.mid(6));
            }
        }
    }
};

// Site "a" with `count` files in mf/other, f0.bin, f1.bin, …, of different sizes.
OpenSiteState siteWithFiles(PublishingBase& p, int count, int sessions) {
    OpenSiteState a = p.openNewSite("a");
    a.ftpAccount.sessions = sessions;
    for (int i = 0; i < count; ++i) {
        writeFile(a.sitePath + QStringLiteral("/mf/other/f%1.bin").arg(i),
                  randomBytes(1000 + i * 7000, static_cast<quint32>(i)));
    }
    return a;
}

}  // namespace

TEST(ParallelSessions, OneSessionKeepsTheExchangeOfOneFileAfterAnother) {
    PublishingBase p;
    FaultFtpServer& server = p.useFaultServer("normal");  // its listing holds "etc" only
    OpenSiteState a = siteWithFiles(p, 3, 1);
    p.upload(a);
    // QUIT goes out without waiting for the server.
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.receivedLines().contains("QUIT\r\n"); }));
    const Wire wire(server);
    QStringList expected{"AUTH TLS",
                         "USER " + server.user(),
                         "PASS " + server.password(),
                         "TYPE I",
                         "SYST",
                         "CWD //",
                         "PASV",
                         "LIST",
                         "MKD //mf/",
                         "MKD //mf/music/",
                         "MKD //mf/img/",
                         "MKD //mf/other/",
                         "MKD //mf/pages/"};
    for (const QString& name : wire.stored) {
        expected << "PASV"
                 << "STOR /" + name;
        if (name == wire.stored.front()) {
            expected << "NOOP";  // answered only after the file: one command at a time
        }
    }
    // The PASV for a next file goes out before each end reply, the last one's too.
    expected << "PASV"
             << "QUIT";
    EXPECT_EQ(wire.lines.join('\n').toStdString(), expected.join('\n').toStdString());
    EXPECT_EQ(asSet(wire.stored), asSet(PublishingBase::siteFileNames(a.sitePath)));
    EXPECT_EQ(wire.stored.size(), PublishingBase::siteFileNames(a.sitePath).size());
}

TEST(ParallelSessions, ThreeSessionsSendEveryFileOnceAndTheIndexFilesLast) {
    PublishingBase p;
    FaultFtpServer& server = p.useFaultServer("normal");
    OpenSiteState a = siteWithFiles(p, 12, 3);
    qint64 mostShown = 0;  // the progress reads as for one file at a time
    p.ftp.Progress = [&](qint64 bytes) { mostShown = std::max(mostShown, bytes); };
    const UploadResult r = p.upload(a);
    const QStringList files = PublishingBase::siteFileNames(a.sitePath);
    const Wire wire(server);
    EXPECT_EQ(wire.logins, 3);
    EXPECT_EQ(wire.stored.size(), files.size());
    EXPECT_EQ(asSet(wire.stored), asSet(files));
    EXPECT_EQ(asSet(wire.stored.mid(wire.stored.size() - 2)),
              (QSet<QString>{"/etc/head.txt", "/etc/file.txt"}));
    EXPECT_EQ(r.sent, files.size());
    qint64 bytes = 0, largest = 0;
    for (const QString& name : files) {
        const qint64 size = QFileInfo(a.sitePath + name).size();
        bytes += size;
        largest = std::max(largest, size);
        EXPECT_EQ(p.recorded("a", name), md5Of(a.sitePath + name)) << name.toStdString();
        EXPECT_EQ(p.reportedSizes.value(name), size) << name.toStdString();
    }
    EXPECT_GT(mostShown, 0);
    EXPECT_LE(mostShown, largest);
    qint64 arrived = 0;
    for (qint64 size : server.storedSizes()) {
        arrived += size;
    }
    EXPECT_EQ(arrived, bytes);
    EXPECT_EQ(server.storedSizes().size(), files.size());
}

// Only a server that turns further sessions away lowers the number the site asks for; one that
// fails them for another reason says nothing of how many it takes.
TEST(ParallelSessions, OnlyATurnedAwaySessionLowersTheNumberAndTheResultSaysSo) {
    for (const auto& [scenario, lowered] :
         {std::pair{"garbled-further-sessions", false}, std::pair{"drop-further-sessions", true}}) {
        SCOPED_TRACE(scenario);
        PublishingBase p;
        p.useFaultServer(scenario);
        OpenSiteState a = siteWithFiles(p, 6, 3);
        const UploadResult r = p.upload(a);
        EXPECT_EQ(r.sent, PublishingBase::siteFileNames(a.sitePath).size());
        EXPECT_EQ(r.fewerSessions, lowered ? 1 : 0);
        EXPECT_EQ(a.ftpAccount.sessions, lowered ? 1 : 3);
        EXPECT_EQ(p.settings.readValue("software\\ZOR-OD\\a\\ftp", "sessions"),
                  lowered ? std::optional<QString>("1") : std::nullopt);
    }
}

TEST(ParallelSessions, ADroppedSessionLosesOnlyItsFileAndTheNextUploadSendsWhatIsMissing) {
    PublishingBase p;
    FaultFtpServer& server = p.useFaultServer("drop-once-stor");
    p.retries = 0;  // the file is not tried again in the same command
    OpenSiteState a = siteWithFiles(p, 8, 3);
    writeFile(a.sitePath + "/mf/other/drop.bin", randomBytes(200 * 1024, 9));
    EXPECT_THROW(p.upload(a), FtpError);
    const QStringList files = PublishingBase::siteFileNames(a.sitePath);
    for (const QString& name : files) {
        const bool missing = name == "/mf/other/drop.bin" || name.startsWith("/etc/head") ||
                             name.startsWith("/etc/file");
        const std::optional<QString> expected =
            missing ? std::nullopt : std::optional(md5Of(a.sitePath + name));
        EXPECT_EQ(p.recorded("a", name), expected) << name.toStdString();
    }
    // The others went on to the end; the index files stayed behind.
    EXPECT_EQ(Wire(server).stored.size(), files.size() - 2);
    EXPECT_FALSE(p.ftp.IsConnected());

    p.upload(a);
    EXPECT_EQ(asSet(p.sent),
              (QSet<QString>{"/mf/other/drop.bin", "/etc/head.txt", "/etc/file.txt"}));
    for (const QString& name : files) {
        EXPECT_EQ(p.recorded("a", name), md5Of(a.sitePath + name)) << name.toStdString();
    }
}

// Over SFTP a session takes the upload after its own and opens it ahead; one whose file is
// refused gives that upload back, undone, and another session sends it.
TEST(ParallelSessions, OverSftpASessionWhoseFileIsRefusedGivesTheNextOneBack) {
    PublishingBase p;
    std::optional<TlsRun> noTls;
    p.useServer(startServer(ServerKind::Sftp, noTls));
    OpenSiteState a = siteWithFiles(p, 12, 3);
    // Folders on the server where two of the files should go: writing them is refused.
    const QStringList refused{"/mf/other/f2.bin", "/mf/other/f6.bin"};
    for (const QString& name : refused) {
        QDir().mkpath(p.onServer(name));
    }
    // The site's own folders, then, are the test's: open to the server's user.
    for (const QString& folder : mfFolderGroup()) {
        QDir().mkpath(p.onServer(folder));
        QFile::setPermissions(p.onServer(folder), QFileDevice::Permissions(0x7777));
    }
    EXPECT_THROW(p.upload(a), FtpError);
    QStringList arrived;
    for (const QString& name : PublishingBase::siteFileNames(a.sitePath)) {
        if (refused.contains(name) || name.startsWith("/etc/head") ||
            name.startsWith("/etc/file")) {
            EXPECT_FALSE(p.recorded("a", name).has_value()) << name.toStdString();
            continue;
        }
        EXPECT_EQ(p.recorded("a", name), md5Of(a.sitePath + name)) << name.toStdString();
        EXPECT_EQ(readFile(p.onServer(name)), readFile(a.sitePath + name)) << name.toStdString();
        if (name.startsWith("/mf/other/")) {
            arrived << name.mid(10);
        }
    }
    // Nothing opened ahead was left behind.
    EXPECT_EQ(asSet(QDir(p.onServer("/mf/other")).entryList(QDir::Files)), asSet(arrived));
    EXPECT_EQ(arrived.size(), 10);
}

TEST(ParallelSessions, CancelStopsAllThreeSessionsAndRecordsNothingUnfinished) {
    PublishingBase p;
    FaultFtpServer& server = p.useFaultServer("slow-stor");  // about 1.6 MB/s a session
    OpenSiteState a = p.openNewSite("a");
    a.ftpAccount.sessions = 3;
    p.upload(a);  // the site's own files, so only the big ones are left to send
    const qsizetype storsBefore = Wire(server).stored.size();
    const qsizetype storedBefore = server.storedSizes().size();
    const qsizetype descriptors = openDescriptors();
    QStringList big;
    // Larger than what the system buffers on both sides together: the server's small window
    // keeps each file from being gone before Cancel.
    for (int i = 0; i < 4; ++i) {
        big << QStringLiteral("/mf/other/big%1.bin").arg(i);
        writeFile(a.sitePath + big.last(), randomBytes(8 * 1024 * 1024, static_cast<quint32>(i)));
    }
    qint64 moved = 0;
    p.ftp.Progress = [&](qint64 bytes) { moved = bytes; };
    // Cancel once three files are on their way to the server at once and some bytes have
    // moved. A session slow to log in may let another finish a whole file first: that one is
    // stored.
    p.ftp.Pump = [&] {
        const qsizetype inFlight =
            Wire(server).stored.size() - storsBefore - (server.storedSizes().size() - storedBefore);
        if (moved > 0 && inFlight >= 3) {
            throw Cancelled();
        }
    };
    EXPECT_THROW(p.upload(a), Cancelled);
    EXPECT_FALSE(p.ftp.IsConnected());
    // The server's own account, once it has one: every transfer begun was broken off or
    // completed, and only the completed ones are recorded.
    const qsizetype begun = Wire(server).stored.size() - storsBefore;
    EXPECT_GE(begun, 3);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return server.cutSizes().size() + server.storedSizes().size() - storedBefore == begun;
        },
        10000))
        << server.output().toStdString();
    const qsizetype whole = server.storedSizes().size() - storedBefore;
    EXPECT_GE(server.cutSizes().size(), 2);  // three, unless one ended as Cancel came
    qsizetype recorded = 0;
    for (const QString& name : big) {
        const auto digest = p.recorded("a", name);
        recorded += digest.has_value();
        if (digest) {
            EXPECT_EQ(*digest, md5Of(a.sitePath + name)) << name.toStdString();
        }
    }
    EXPECT_EQ(recorded, whole);
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST(RemoteBrowserTest, ListsEntersCreatesRenamesAndDeletesOnVsftpd) {
    PublishingBase p;
    p.useServer(std::make_unique<VsftpdServer>());
    QDir().mkpath(p.onServer("/mf/img"));
    writeFile(p.onServer("/a.txt"), "a");
    writeFile(p.onServer("/my page.html"), "p");
    FtpAccount account = p.account();

    RemoteEntries e = listRemoteFolder(p.ftp, account);
    EXPECT_EQ(e.folders, QStringList{"mf"});
    EXPECT_EQ(asSet(e.files), (QSet<QString>{"a.txt", "my page.html"}));
    EXPECT_FALSE(p.ftp.IsConnected());

    account.remoteFolder = withSingleLeadingSlash(account.remoteFolder + "/mf");
    EXPECT_EQ(listRemoteFolder(p.ftp, account).folders, QStringList{"img"});
    account.remoteFolder = folderAbove(account.remoteFolder);
    EXPECT_EQ(account.remoteFolder, "/www");
    account.remoteFolder = "/";
    EXPECT_TRUE(listRemoteFolder(p.ftp, account).folders.contains("www"));
    account.remoteFolder = "/www";

    makeRemoteFolder(p.ftp, account, "/www/NewFolder");
    EXPECT_TRUE(QFileInfo(p.onServer("/NewFolder")).isDir());
    EXPECT_FALSE(p.ftp.IsConnected());
    renameRemoteFile(p.ftp, account.remoteFolder, "a.txt", "b.txt");
    EXPECT_EQ(readFile(p.onServer("/b.txt")), "a");
    EXPECT_FALSE(QFileInfo::exists(p.onServer("/a.txt")));
    deleteRemoteFile(p.ftp, account.remoteFolder, "b.txt");
    EXPECT_FALSE(QFileInfo::exists(p.onServer("/b.txt")));
    renameRemoteFolder(p.ftp, account.remoteFolder, "NewFolder", "Renamed");
    EXPECT_TRUE(QFileInfo(p.onServer("/Renamed")).isDir());
    EXPECT_FALSE(p.ftp.IsConnected());

    // A failed command leaves no session behind, so the folder rename, which insists on a
    // session of its own, finds none open.
    EXPECT_THROW(deleteRemoteFile(p.ftp, account.remoteFolder, "missing.txt"), FtpError);
    EXPECT_FALSE(p.ftp.IsConnected());
    renameRemoteFolder(p.ftp, account.remoteFolder, "Renamed", "Again");
    EXPECT_TRUE(QFileInfo(p.onServer("/Again")).isDir());
    // A folder that is not there: the server's own words.
    account.remoteFolder = "/www/nowhere";
    EXPECT_THROW(listRemoteFolder(p.ftp, account), FtpError);

    account.password.clear();
    EXPECT_THROW(listRemoteFolder(p.ftp, account), IncompleteAccount);
}

namespace {

// Site "a" with `count` files of 1 KB to about 80 KB in mf/other, published over a pyftpdlib
// that breaks the link as `options` say; waits end after 1.5 s.
struct BadLink {
    explicit BadLink(const QStringList& options, int count = 12, int sessions = 3) {
        p.useServer(std::make_unique<PyftpdlibServer>(QStringList(), std::nullopt, options));
        p.ftp.Timeout = std::chrono::milliseconds(1500);
        site = siteWithFiles(p, count, sessions);
    }
    // Every file of the site is on the server as it is here, recorded with its digest, and no
    // temporary name is left.
    void expectPublishedWhole() {
        for (const QString& name : PublishingBase::siteFileNames(site.sitePath)) {
            EXPECT_EQ(readFile(p.onServer(name)), readFile(site.sitePath + name))
                << name.toStdString();
            EXPECT_EQ(p.recorded("a", name), md5Of(site.sitePath + name)) << name.toStdString();
        }
        QDirIterator left(p.onServer("/"), QDir::Files, QDirIterator::Subdirectories);
        while (left.hasNext()) {
            EXPECT_FALSE(left.next().endsWith(".zorod-part")) << left.filePath().toStdString();
        }
    }
    PublishingBase p;
    OpenSiteState site;
};

}  // namespace

// Over a link that drops connections, one command publishes the whole site, and nothing is
// recorded that the server did not confirm whole.
TEST(Retries, OneCommandPublishesEverythingOverALinkThatDrops) {
    const struct {
        const char* what;
        QStringList options;
    } rows[] = {
        {"every third file's data connection breaks", {"--drop-data-every", "3"}},
        {"the control connection drops after four files", {"--drop-control-after", "4"}},
        {"an upload stalls past the time-out", {"--stall-once-at", "20000"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        BadLink link(row.options);
        const UploadResult r = link.p.upload(link.site);
        EXPECT_GE(r.retried, 1);
        EXPECT_EQ(r.sent, PublishingBase::siteFileNames(link.site.sitePath).size());
        link.expectPublishedWhole();
    }
}

// A refusal is no passing fault: it ends the command at once, and the file is not sent again.
// Cancel ends the wait before a retry at once.
TEST(Retries, ARefusalIsNotRetriedAndCancelEndsTheWaitAtOnce) {
    PublishingBase refusing;
    FaultFtpServer& server = refusing.useFaultServer("stor-550");
    OpenSiteState a = siteWithFiles(refusing, 1, 1);
    EXPECT_THAT([&] { refusing.upload(a); }, throwsFtpError(550, HasSubstr("Permission denied")));
    EXPECT_EQ(Wire(server).stored.size(), 1);

    BadLink link({"--drop-data-every", "1"}, 1, 1);  // every file breaks
    QElapsedTimer sinceRetry;
    link.p.ftp.Pump = [&] {
        if (sinceRetry.isValid()) {
            throw Cancelled();
        }
    };
    PublishJob j{link.site, link.p.settings, link.p.ftp,
                 [&](Stage stage, int, int, const QString&, qint64) {
                     if (stage == Stage::Retrying && !sinceRetry.isValid()) {
                         sinceRetry.start();
                     }
                 }};
    EXPECT_THROW(uploadChangedFiles(j), Cancelled);
    ASSERT_TRUE(sinceRetry.isValid());
    EXPECT_LT(sinceRetry.elapsed(), 500);  // the wait is a second
}

// A large file broken at half goes on from there (REST), and until it is whole it is on the
// server under its temporary name only.
TEST(Retries, ABrokenLargeFileContinuesWhereItStoppedUnderItsTemporaryName) {
    constexpr qint64 Size = 8 * 1024 * 1024;
    BadLink link({"--cut-once-at", QString::number(Size / 2), "--log"}, 0, 1);
    const QString big = "/mf/other/big.bin";
    writeFile(link.site.sitePath + big, randomBytes(Size, 11));
    bool earlyTarget = false;
    link.p.ftp.Progress = [&](qint64) {
        earlyTarget = earlyTarget || (link.p.sent.value(link.p.sent.size() - 1) == big &&
                                      QFileInfo::exists(link.p.onServer(big)));
    };
    const UploadResult r = link.p.upload(link.site);
    EXPECT_FALSE(earlyTarget);
    EXPECT_EQ(r.retried, 1);
    link.expectPublishedWhole();
    const QStringList commands = static_cast<PyftpdlibServer&>(*link.p.server).commands();
    const QStringList restarts = commands.filter(QRegularExpression("^REST [1-9]"));
    ASSERT_EQ(restarts.size(), 1) << commands.join('\n').toStdString();
    EXPECT_GE(restarts[0].mid(5).toLongLong(), Size / 4);
}
