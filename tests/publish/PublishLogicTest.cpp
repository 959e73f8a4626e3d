#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "FtpTestSupport.h"
#include "platform/SettingsStore.h"
#include "publish/AccountSettings.h"
#include "publish/FileChangeCache.h"
#include "publish/FileDigest.h"
#include "publish/FtpClient.h"
#include "publish/FtpError.h"
#include "publish/PublishSession.h"
#include "publish/RemoteBrowser.h"
#include "publish/SiteUpload.h"
#include "publish/SyncBackup.h"
#include "site/SiteWorkspace.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::publish;
using namespace zor::test;

TEST(FileDigestTest, KnownDigestsAndWhatCannotBeRead) {
    TempRoot root;
    const QString dir = root.sitePath("d");
    QDir().mkpath(dir);
    FileDigester digester;
    const std::pair<QByteArray, QString> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [content, md5] : vectors) {
        writeFile(dir + "/v.txt", content);
        EXPECT_EQ(digester.digest(dir + "/v.txt"), md5) << content.constData();
    }
    // Larger than one read, and not a multiple of it.
    const QByteArray big = randomBytes(3 * 1024 * 1024 + 17, 7);
    const QString bigDigest =
        QString::fromLatin1(QCryptographicHash::hash(big, QCryptographicHash::Md5).toHex());
    writeFile(dir + "/big.bin", big);
    EXPECT_EQ(digester.digest(dir + "/big.bin"), bigDigest);
    writeFile(dir + "/v.txt", "abc");
    EXPECT_EQ(digester.digest(dir + "/v.txt"), "900150983cd24fb0d6963f7d28e17f72");

    // Between reads the caller may let the window live, and stop.
    int calls = 0;
    EXPECT_EQ(digester.digest(dir + "/big.bin", [&] { ++calls; }), bigDigest);
    EXPECT_EQ(calls, 4);
    EXPECT_THROW(digester.digest(dir + "/big.bin", [] { throw Cancelled(); }), Cancelled);
    EXPECT_EQ(digester.digest(dir + "/v.txt"), "900150983cd24fb0d6963f7d28e17f72");

    EXPECT_EQ(digester.digest(dir + "/missing.txt"), emptyDigest());
    EXPECT_EQ(digester.digest(dir), emptyDigest());  // opens, but reading a folder fails
}

TEST(FileChangeCacheTest, ValuesLiveUnderTheSitesFilesKeyUntilForgotten) {
    TempRoot root;
    SettingsStore store(root.settingsPath());
    FileChangeCache cache(store, "site");
    EXPECT_TRUE(store.keyExists("software\\ZOR-OD\\site\\files"));
    EXPECT_FALSE(cache.recorded("/mf/img/logo.png").has_value());
    cache.record("/mf/img/logo.png", "0123");
    EXPECT_EQ(store.readValue("software\\ZOR-OD\\site\\files", "/mf/img/logo.png"),
              QString("0123"));
    EXPECT_EQ(cache.recorded("/mf/img/logo.png"), QString("0123"));
    EXPECT_EQ(FileChangeCache(store, "site").recorded("/mf/img/logo.png"), QString("0123"));
    EXPECT_EQ(FileChangeCache(store, "other").recorded("/mf/img/logo.png"), std::nullopt);
    FileChangeCache::forget(store, "site");
    EXPECT_FALSE(store.keyExists("software\\ZOR-OD\\site\\files"));
    EXPECT_EQ(FileChangeCache(store, "site").recorded("/mf/img/logo.png"), std::nullopt);
}

TEST(ServerHabitsTest, KeptPerSiteForTheirHostOnly) {
    TempRoot root;
    SettingsStore store(root.settingsPath());
    FtpAccount account;
    account.host = "ftp.example.org";
    const struct {
        ServerHabits habits;
        const char* stored;
    } rows[] = {
        {{"ftp.example.org", false, std::nullopt}, "ftp.example.org"},
        {{"ftp.example.org", false, true}, "ftp.example.org sequential"},
        {{"ftp.example.org", true, false}, "ftp.example.org concurrent tlsfirst"},
    };
    for (const auto& row : rows) {
        rememberHabits(store, "site", account, row.habits);
        EXPECT_EQ(loadFtpAccount(store, "site").habits, QString(row.stored));
        EXPECT_EQ(habitsFromValue(QString(row.stored)), row.habits) << row.stored;
        EXPECT_EQ(account.habits, row.habits);
    }
    // Unknown words and nothing at all know nothing.
    EXPECT_EQ(habitsFromValue(QString("h later tlsfirst")), (ServerHabits{"h", true, {}}));
    EXPECT_EQ(habitsFromValue(std::nullopt), ServerHabits{});

    // A session to another host starts knowing nothing of it.
    FtpClient ftp;
    applyAccount(ftp, account);
    EXPECT_EQ(ftp.Habits, account.habits);
    account.host = "ftp.other.org";
    applyAccount(ftp, account);
    EXPECT_EQ(ftp.Habits, ServerHabits{});
}

TEST(ListingTest, NamesComeFromTheFieldsOfUnixLines) {
    const std::pair<const char*, const char*> cases[] = {
        // vsftpd: the name starts after column 55.
        {"drwxr-xr-x    2 ftp      ftp          4096 Jun 01 12:00 mf", "mf"},
        {"-rw-r--r--    1 ftp      ftp          1234 Jun 01 12:00 index.php", "index.php"},
        // pyftpdlib, with blanks inside and before the name.
        {"-rw-r--r--   1 zorod    zorod          12 Jun 01 12:00 my page.html", "my page.html"},
        {"-rw-r--r--   1 zorod    zorod          12 Jun 01 12:00   two lead.txt", "  two lead.txt"},
        // ls style: a year instead of the time of day, a padded day, a size of 10 GB.
        {"drwxr-xr-x 2 user group 4096 Dec  9  2023 old folder", "old folder"},
        {"-rw-r--r-- 1 owner group 10737418240 Jan  1  2024 big.iso", "big.iso"},
        // No group column; an ACL mark; a link.
        {"-rw-r--r-- 1 owner 1234 Jun 01 12:00 a.txt", "a.txt"},
        {"drwxr-xr-x+ 2 u g 4096 Jun 01 12:00 acl", "acl"},
        {"lrwxrwxrwx 1 u g 7 Jun 01 12:00 link.html -> target.html", "link.html"},
        // Anything else: from the 55th character, leading blanks removed.
        {"total 8", ""},
        {"06-01-24  12:00PM       <DIR>          folder", ""},
        {"01234567890123456789012345678901234567890123456789abcd  tail name", "tail name"},
    };
    for (const auto& [line, name] : cases) {
        EXPECT_EQ(listingEntryName(line), QString(name)) << line;
    }
    EXPECT_EQ(listingEntryName(QString(60, ' ') + "x.txt"), "x.txt");
}

TEST(ListingTest, ANameHoldingASlashNamesNoEntry) {
    // Paths are built from the names: "../index.php" would reach a file of another folder.
    const char* lines[] = {
        "-rw-r--r-- 1 u g 10 Jun 01 12:00 ../index.php",
        "drwxr-xr-x 2 u g 4096 Jun 01 12:00 mf/img",
        "01234567890123456789012345678901234567890123456789abcd  /etc",
    };
    for (const char* line : lines) {
        EXPECT_EQ(listingEntryName(line), std::nullopt) << line;
    }
    const RemoteEntries e = sortListing({lines[0], lines[1], lines[2], "total 1"});
    EXPECT_EQ(e.folders, QStringList{""});
    EXPECT_TRUE(e.files.isEmpty());
    EXPECT_EQ(listingFolderNames({"drwxr-xr-x 2 u g 4096 Jun 01 12:00 x/mf"}), "");
}

TEST(ListingTest, NamesWithADotAreFilesTheRestFolders) {
    const RemoteEntries e = sortListing({
        "total 12",
        "drwxr-xr-x 2 u g 4096 Jun 01 12:00 .",
        "drwxr-xr-x 2 u g 4096 Jun 01 12:00 ..",
        "drwxr-xr-x 2 u g 4096 Jun 01 12:00 img",
        "drwxr-xr-x 2 u g 4096 Jun 01 12:00 my.folder",
        "-rw-r--r-- 1 u g 10 Jun 01 12:00 README",
        "-rw-r--r-- 1 u g 10 Jun 01 12:00 logo.png",
    });
    EXPECT_EQ(e.folders, (QStringList{"", "img", "README"}));
    EXPECT_EQ(e.files, (QStringList{"my.folder", "logo.png"}));
}

TEST(RemoteFolderTest, UpAndLeadingSlashes) {
    const std::pair<const char*, const char*> up[] = {
        {"/mf/img", "/mf"}, {"/mf/img/", "/mf"}, {"/mf", "/"}, {"/", "/"},
        {"", "/"},          {"docs", "docs"},    {"a/b", "a"}, {"//", "/"},
    };
    for (const auto& [from, to] : up) {
        EXPECT_EQ(folderAbove(from), QString(to)) << from;
    }
    EXPECT_EQ(withSingleLeadingSlash("//mf"), "/mf");
    EXPECT_EQ(withSingleLeadingSlash("////mf//img"), "/mf//img");
    EXPECT_EQ(withSingleLeadingSlash("mf"), "mf");
}

TEST(UploadTest, FolderNamesAreTakenAfterTheTimeOfDay) {
    const QString names = listingFolderNames({
        "drwxr-xr-x    2 ftp      ftp          4096 Jun 01 12:00 mf",
        "-rw-r--r--    1 ftp      ftp          1234 Jun 01 12:00 index.php",
        "total 8",
    });
    EXPECT_EQ(names, "  mf tal 8");
    // Substring test: a folder that merely holds the letters counts.
    EXPECT_TRUE(
        listingFolderNames({"drwxr-xr-x 2 u g 4096 Jun 01 12:00 etcetera"}).contains("etc"));
    EXPECT_FALSE(listingFolderNames({"-rw-r--r-- 1 u g 1 Jun 01 12:00 mf.txt"}).contains("mf"));
}

TEST(UploadTest, CandidatesAreTheDottedRegularFilesOfTheNineFolders) {
    TempRoot root;
    const QString site = root.makeSite("s");
    for (const char* name :
         {"index.php", "sitemap.xml", ".htaccess", "README", "index.html", "INDEX.HTML",
          ".index.php.swp", "mf/pages/.htaccess", "etc/.directory.txt", "mf/img/logo.png",
          "mf/img/sub/deep.png", "mf/music/song.mp3", "mf/other/empty.txt", "etc/blocs/menu.tq",
          "extentions/ext.php", "mf/top.css"}) {
        writeFile(site + "/" + name, name == QString("mf/other/empty.txt") ? "" : "x");
    }
    QDir().mkpath(site + "/mf/img/my.folder");
    ASSERT_EQ(::mkfifo(QFile::encodeName(site + "/pipe.fifo").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(site + "/gone.txt", site + "/mf/broken.lnk"));

    const QList<SiteFile> files = uploadCandidates(site);
    QSet<QString> names;
    int lastPass = 0;
    for (const SiteFile& f : files) {
        names.insert(f.name);
        EXPECT_EQ(f.localPath, site + f.name);
        // Pass by pass: the sub-path of each name never goes back to an earlier pass.
        const QString sub = f.name.left(f.name.lastIndexOf('/') + 1);
        const int pass =
            static_cast<int>(QStringList{"/", "/mf/", "/mf/img/", "/mf/music/", "/mf/other/",
                                         "/mf/pages/", "/etc/", "/etc/desing/", "/etc/blocs/"}
                                 .indexOf(sub));
        EXPECT_GE(pass, lastPass) << f.name.toStdString();
        lastPass = pass;
    }
    EXPECT_EQ(names, (QSet<QString>{"/index.php", "/sitemap.xml", "/.htaccess", "/INDEX.HTML",
                                    "/mf/top.css", "/mf/img/logo.png", "/mf/music/song.mp3",
                                    "/mf/other/empty.txt", "/mf/pages/1.tq", "/mf/pages/.htaccess",
                                    "/etc/head.txt", "/etc/file.txt", "/etc/desing/theme.html",
                                    "/etc/desing/head.png", "/etc/blocs/menu.tq"}));
}

// Each synchronisation makes a backup and prunes: the ten made last stay, whatever the clock
// said when each was made.
TEST(SyncBackupTest, TheTenMadeLastStay) {
    struct Row {
        const char* name;
        std::vector<int> seconds;  // the clock at each synchronisation, from a fixed moment
    };
    std::vector<int> backInTime{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -3600, -3599, -3598};
    const Row rows[] = {
        {"the clock moved back an hour", backInTime},
        {"fifteen in one second", std::vector<int>(15, 0)},
    };
    const QDateTime start(QDate(2026, 10, 25), QTime(3, 0, 0));
    for (const Row& row : rows) {
        TempRoot root;
        const QString site = root.sitePath("a");
        QStringList made;
        for (int s : row.seconds) {
            const QString folder = makeBackupFolder(site, start.addSecs(s));
            made.append(QFileInfo(folder).fileName());
            pruneBackups(site, folder);
        }
        QStringList last = made.mid(made.size() - KeptBackups);
        last.sort();
        const QStringList left =
            QDir(site::backupsFolder(site)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        EXPECT_EQ(left.join(' ').toStdString(), last.join(' ').toStdString()) << row.name;
    }
}
