#include <gtest/gtest.h>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <map>

#include "platform/AtomicFile.h"
#include "platform/SettingsStore.h"
#include "site/SiteOpening.h"
#include "support/TempSite.h"

using namespace zor;

namespace {

// The files one save writes, in the order it writes them.
const char* const SavedFiles[] = {
    "sitemap.xml",  "mf/pages/1.tq", "etc/desing/theme.html", "etc/head.txt",
    "etc/file.txt", "etc/.htaccess", "mf/pages/.htaccess",    "index.php",
};

struct SaveKillTest : ::testing::Test {
    test::TempRoot root;
    QString site = root.makeSite("site");

    // Runs the driver; the number it prints, or -1 when it was killed.
    long long save(int version, long long killAt = 0) {
        QProcess driver;
        QStringList args{root.root(), "site", QString::number(version)};
        if (killAt > 0) {
            args << QString::number(killAt);
        }
        driver.start(ZOROD_SAVE_DRIVER, args);
        EXPECT_TRUE(driver.waitForFinished(30000));
        if (driver.exitStatus() == QProcess::CrashExit) {
            return -1;
        }
        EXPECT_EQ(driver.exitCode(), 0) << driver.readAllStandardError().toStdString();
        return driver.readAllStandardOutput().trimmed().toLongLong();
    }

    std::map<QString, QByteArray> contents() const {
        std::map<QString, QByteArray> files;
        for (const char* name : SavedFiles) {
            files[name] = test::readFile(site + u'/' + name);
        }
        return files;
    }

    QStringList leftovers() const {
        QStringList found;
        QDirIterator it(site, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (QFileInfo(path).fileName().startsWith(TemporaryFilePrefix)) {
                found << path;
            }
        }
        return found;
    }
};

}  // namespace

TEST_F(SaveKillTest, AKilledSaveLeavesEveryFileOldOrNewAndTheNextOpeningCleansUp) {
    ASSERT_GT(save(1), 0);
    const auto newFiles = contents();
    ASSERT_GT(save(0), 0);
    const auto oldFiles = contents();
    const long long points = save(1);
    ASSERT_EQ(contents(), newFiles);
    ASSERT_GE(points, 500) << "too few kill points to cover the save";

    // At most this many kills, spread evenly over all the points.
    constexpr long long MaxKills = 700;
    const long long step = std::max(1LL, points / MaxKills);
    std::map<QString, int> killedWhileWriting;
    int kills = 0;
    for (long long at = 1; at <= points; at += step) {
        SCOPED_TRACE(at);
        for (const auto& [name, bytes] : oldFiles) {
            test::writeFile(site + u'/' + name, bytes);
        }
        ASSERT_EQ(save(1, at), -1) << "the driver was not killed";
        ++kills;

        // Each file whole, old or new; the new ones are those written before the kill.
        bool beforeKill = true;
        QString writing;
        for (const char* name : SavedFiles) {
            const QByteArray now = test::readFile(site + u'/' + name);
            const bool isNew = now == newFiles.at(name);
            ASSERT_TRUE(isNew || now == oldFiles.at(name)) << name << " is broken";
            if (oldFiles.at(name) == newFiles.at(name)) {
                continue;  // the same either way
            }
            ASSERT_TRUE(beforeKill || !isNew) << name << " was written out of order";
            if (beforeKill && !isNew) {
                writing = name;
            }
            beforeKill = beforeKill && isNew;
        }
        ++killedWhileWriting[writing.isEmpty() ? QStringLiteral("(after the last)") : writing];

        // Opened as the program opens a site: nothing of the save is left, and the titles are
        // those of one version.
        OpenSiteState state;
        state.sitesRoot = root.root();
        SettingsStore settings(root.settingsPath());
        EXPECT_EQ(site::loadOpenSite(state, "site"), QStringList());
        EXPECT_EQ(leftovers(), QStringList());
        EXPECT_TRUE(state.pageCount() == 40 || state.pageCount() == 65) << state.pageCount();
    }
    EXPECT_GE(kills, 500);
    for (const auto& [name, count] : killedWhileWriting) {
        std::printf("killed while saving %s: %d\n", qPrintable(name), count);
    }
    std::printf("%d kills over %lld points\n", kills, points);
}
