#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "platform/Errors.h"
#include "platform/TextFile.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::site;

namespace {

// Sites in a temporary folder of the test's own.
struct SiteCatalogue : ::testing::Test {
    test::TempRoot root;
};

}  // namespace

TEST_F(SiteCatalogue, NewSiteHasTheSkeletonAndStartingFiles) {
    const QString s = root.makeSite("test");
    for (const char* sub :
         {"etc", "etc/desing", "etc/blocs", "mf", "mf/img", "mf/other", "mf/music", "mf/pages"}) {
        EXPECT_TRUE(QFileInfo(s + "/" + sub).isDir()) << sub;
    }
    EXPECT_EQ(test::readFile(s + "/etc/head.txt"),
              test::crlf({"# path", "0001 Новый сайт : Главная", "#"}));
    // The file index too, so that the site can be compiled and served before its first save.
    EXPECT_EQ(test::readFile(s + "/etc/file.txt"), test::crlf({"#    path", "0001 1.tq", "#"}));
    EXPECT_FALSE(QFile::exists(s + "/index.php"));
    EXPECT_FALSE(QFile::exists(s + "/extentions"));

    const QByteArray theme = test::readFile(s + "/etc/desing/theme.html");
    EXPECT_EQ(theme.count("\r\n"), 7);
    EXPECT_TRUE(theme.startsWith(
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
        "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\"> "
        "<html><head><title>{{title}}</title>\r\n<style type=\"text/css\"><!--div.menu"));
    EXPECT_TRUE(
        theme.contains("\r\na:hover {color: #8899ee; text-decoration: underline   } -->\r\n"));
    EXPECT_TRUE(theme.endsWith(
        "<div class=\"page\">{{content}}</div></td></tr></table></body></html>\r\n"));
    EXPECT_TRUE(
        theme.contains("&#1053;&#1072; &#1089;&#1072;&#1081;&#1090; ZOR OD</a></strong>\r\n"));

    const QByteArray welcome = test::readFile(s + "/mf/pages/1.tq");
    EXPECT_EQ(welcome.count("\r\n"), 2);
    EXPECT_TRUE(welcome.startsWith(
        zor::test::cp1251(u"<font size=\"5\" color=\"#800000\">Вы успешно установили TQ!</font>")));
    EXPECT_TRUE(welcome.endsWith(zor::test::cp1251(
        u"<font size=\"4\"><i><center>Успехов в работе!</center></i></font>\r\n")));

    OpenSiteState st;
    st.sitePath = s;
    readPageTitleIndex(st);
    EXPECT_EQ(st.pageList, (QStringList{"1 - Главная", "..."}));
    EXPECT_EQ(st.siteTitle, "Новый сайт");
}

TEST_F(SiteCatalogue, ListingTakesFoldersWithoutDotsOnly) {
    root.makeSite("beta");
    root.makeSite("alpha");
    QDir().mkdir(root.root() + "my.site");
    QDir().mkdir(root.root() + ".hidden");
    test::writeFile(root.root() + "plainfile", "x");
    test::writeFile(root.root() + "zorod", "x");
    EXPECT_EQ(listSites(root.root()), (QStringList{"alpha", "beta"}));
}

TEST_F(SiteCatalogue, NewSiteRefusesTakenAndUnsafeNames) {
    root.makeSite("a");
    EXPECT_THROW(createSite(root.root(), "a"), FileError);
    for (const char* bad : {".", "..", "x/y", "x\\y", "../escape"}) {
        EXPECT_THROW(createSite(root.root(), bad), ZorError) << bad;
    }
    EXPECT_FALSE(QFileInfo::exists(root.root() + "x"));
    EXPECT_FALSE(QFileInfo::exists(root.root() + "../escape"));
    // A name with a dot is made (it just is not listed at the next start).
    EXPECT_NO_THROW(createSite(root.root(), "my.site"));
    EXPECT_TRUE(QFileInfo(root.root() + "my.site/etc/head.txt").isFile());
}

TEST_F(SiteCatalogue, RenameMovesTheFolderAndRefusesTakenNames) {
    root.makeSite("a");
    root.makeSite("b");
    QDir().mkdir(root.root() + "empty");
    EXPECT_THROW(renameSite(root.root(), "a", "b"), FileError);
    EXPECT_THROW(renameSite(root.root(), "a", "empty"), FileError);  // not even an empty folder
    EXPECT_THROW(renameSite(root.root(), "a", "../a"), ZorError);
    EXPECT_TRUE(QFileInfo(root.root() + "a/etc/head.txt").isFile());
    renameSite(root.root(), "a", "c");
    EXPECT_FALSE(QFileInfo::exists(root.root() + "a"));
    EXPECT_TRUE(QFileInfo(root.root() + "c/etc/head.txt").isFile());
}

TEST_F(SiteCatalogue, CopyFolderTreeCopiesEverythingOrNothing) {
    const QString a = root.makeSite("alpha");
    test::writeFile(a + "/mf/img/deep/x.bin", QByteArray("\0\1\2", 3));
    test::writeFile(a + "/.hidden", "h");
    CopyFolderTree(a, root.root() + "alpha - копия");
    const QString c = root.root() + "alpha - копия";
    EXPECT_EQ(test::readFile(c + "/mf/img/deep/x.bin"), QByteArray("\0\1\2", 3));
    EXPECT_EQ(test::readFile(c + "/.hidden"), "h");
    EXPECT_EQ(test::readFile(c + "/etc/head.txt"), test::readFile(a + "/etc/head.txt"));

    // A second copy finds the name taken: nothing is copied into the existing folder.
    test::writeFile(a + "/new.txt", "n");
    EXPECT_THROW(CopyFolderTree(a, c), FileError);
    EXPECT_FALSE(QFile::exists(c + "/new.txt"));
    EXPECT_FALSE(QFile::exists(c + "/alpha"));
}

TEST_F(SiteCatalogue, DeleteFolderTreeRemovesReadOnlyAndHiddenEntries) {
    const QString s = root.makeSite("gone");
    test::writeFile(s + "/.hidden", "h");
    test::writeFile(s + "/mf/ro.txt", "r");
    QFile::setPermissions(s + "/mf/ro.txt", QFileDevice::ReadOwner);
    QFile::setPermissions(s + "/mf", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    // Root deletes whatever the modes say, so the delete runs as an ordinary user who owns the
    // sites, in a child process.
    EXPECT_EXIT(
        {
            if (::geteuid() == 0) {
                const QByteArray top = QFile::encodeName(root.root());
                bool owned = ::chown(top.constData(), 65534, 65534) == 0;
                QDirIterator it(root.root(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                QDirIterator::Subdirectories);
                while (it.hasNext()) {
                    owned &= ::lchown(QFile::encodeName(it.next()).constData(), 65534, 65534) == 0;
                }
                if (!owned || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
                    ::_exit(5);
                }
            }
            QStringList reports;
            DeleteFolderTree(s, [&](const QString& m) { reports.append(m); });
            ::_exit(reports.isEmpty() && !QFileInfo::exists(s) ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(QFileInfo::exists(s));
}

// In a child process: a special file that blocks the copy must end the test, not hang it.
TEST_F(SiteCatalogue, CopyKeepsLinksAsLinksAndSkipsSpecialFiles) {
    test::TempRoot elsewhere;
    const QString a = root.makeSite("alpha");
    const QString outside = elsewhere.makeSite("outside");
    // A link within the site, a link out of it, and a named pipe.
    ASSERT_EQ(::symlink("../pages/1.tq", QFile::encodeName(a + "/mf/img/welcome.tq").constData()),
              0);
    ASSERT_TRUE(QFile::link(outside, a + "/mf/other/shared"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(a + "/mf/other/pipe").constData(), 0600), 0);
    const QString c = root.root() + "alpha - копия";
    EXPECT_EXIT(test::exitAfter([&] { CopyFolderTree(a, c); }),
                ::testing::ExitedWithCode(test::NothingThrown), "");

    EXPECT_EQ(QFile::symLinkTarget(c + "/mf/img/welcome.tq"),
              QFileInfo(c + "/mf/pages/1.tq").absoluteFilePath());  // into the copy, not back
    EXPECT_EQ(QFile::symLinkTarget(c + "/mf/other/shared"), outside);
    EXPECT_FALSE(QFileInfo::exists(c + "/mf/other/pipe"));
    EXPECT_TRUE(QFileInfo(c + "/etc/head.txt").isFile());
    // Nothing was copied through the outward link.
    EXPECT_EQ(QDir(elsewhere.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"outside"});
}
