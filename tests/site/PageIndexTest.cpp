#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/Errors.h"
#include "platform/TextFile.h"
#include "site/PageIndex.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::site;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

struct PageIndexTest : ::testing::Test {
    test::TempRoot root;
    QString site = root.sitePath("s");
    OpenSiteState state;

    void SetUp() override {
        QDir().mkpath(site + "/etc");
        state.sitePath = site;
    }
    void writeHead(const QStringList& lines) {
        test::writeFile(titleIndexPath(site), test::crlf(lines));
    }
};

}  // namespace

TEST_F(PageIndexTest, ThreePagesAreWrittenAsFiveLinesInBothFiles) {
    TextTable titles;
    titles[1] = "A";
    titles[2] = "B";
    titles[3] = "C";
    writePageTitleIndex(site, "Site", titles, 3);
    writePageFileIndex(site, 3);
    EXPECT_EQ(test::readFile(titleIndexPath(site)),
              QByteArray("#    path\r\n0001 Site : A\r\n0002 Site : B\r\n0003 Site : C\r\n#\r\n"));
    EXPECT_EQ(test::readFile(fileIndexPath(site)),
              QByteArray("#    path\r\n0001 1.tq\r\n0002 2.tq\r\n0003 3.tq\r\n#\r\n"));
    // Empty titles and an empty site title keep their lines; a colon in the site title is kept.
    titles[1] = "Home";
    titles[2] = "";
    EXPECT_EQ(titleIndexLines("", titles, 2),
              (QStringList{"#    path", "0001  : Home", "0002  : ", "#"}));
    EXPECT_EQ(titleIndexLines("Me: blog", titles, 1),
              (QStringList{"#    path", "0001 Me: blog : Home", "#"}));
}

TEST_F(PageIndexTest, PageNumbersHaveFourDigitsInIndexesAndNoneInFileNames) {
    EXPECT_EQ(fileIndexLines(100)[100], "0100 100.tq");
    EXPECT_EQ(fileIndexLines(5000)[5000], "5000 5000.tq");
    EXPECT_EQ(pageFilePath("/x/s", 100), "/x/s/mf/pages/100.tq");
    EXPECT_EQ(pageNumberText(42), "0042");
}

// Each row the lines of an index, and the site title and page titles they give.
TEST_F(PageIndexTest, TheLinesGiveTheSiteTitleAndThePageTitles) {
    const struct {
        const char* what;
        QStringList lines;
        QString siteTitle;
        QStringList titles;
    } rows[] = {
        {"empty titles and an empty site title",
         {"#    path", "0001  : Home", "0002  : ", "#"},
         "",
         {"Home", ""}},
        // The site title ends two characters before the first ":", which here is its own.
        {"a site title with a colon is cut at it",
         {"#    path", "0001 Me: blog : Home", "#"},
         "M",
         {"blog : Home"}},
        {"header only", {"#    path", "#"}, "", {}},
        {"header without end marker", {"#    path"}, "", {}},
        {"empty", {}, "", {}},
        {"a line without a colon loses its first character",
         {"#    path", "0001 odd", "#"},
         "",
         {"001 odd"}},
        // The site title comes from the first page line only.
        {"a colon in the header, no page", {"# path : xyz", "#"}, "", {}},
        {"a colon in the header alone", {"# path : xyz"}, "", {}},
        {"a colon in the header, a page", {"#    path : x", "0001 Мой : A", "#"}, "Мой", {"A"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        state.siteTitle = "old";
        applyPageTitleIndex(row.lines, state);
        EXPECT_EQ(state.siteTitle, row.siteTitle);
        ASSERT_EQ(state.pageCount(), row.titles.size());
        QStringList list;
        for (int n = 1; n <= row.titles.size(); ++n) {
            EXPECT_EQ(state.pageTitles[n], row.titles[n - 1]);
            list.append(QString::number(n) + " - " + row.titles[n - 1]);
        }
        EXPECT_EQ(state.pageList, list + QStringList{"..."});
    }
}

TEST_F(PageIndexTest, ReadingFillsTitlesListAndSiteTitle) {
    writeHead({"# path", "0001 Новый сайт : Главная", "0002 Новый сайт : О нас: история", "#"});
    readPageTitleIndex(state);
    EXPECT_EQ(state.siteTitle, "Новый сайт");
    EXPECT_EQ(state.pageTitles[1], "Главная");
    EXPECT_EQ(state.pageTitles[2], "О нас: история");  // only the first ":" splits
    EXPECT_EQ(state.pageList, (QStringList{"1 - Главная", "2 - О нас: история", "..."}));
    EXPECT_EQ(state.titleLines[1], "0001 Новый сайт : Главная");
    EXPECT_TRUE(state.pageIndexLoaded);
}

TEST_F(PageIndexTest, AnIndexWithoutEndMarkerLosesNoPageAtTheNextSave) {
    writeHead({"#    path", "0001 S : A", "0002 S : B"});
    readPageTitleIndex(state);
    EXPECT_EQ(state.pageList, (QStringList{"1 - A", "2 - B", "..."}));
    writePageTitleIndex(site, state.siteTitle, state.pageTitles, state.pageCount());
    EXPECT_EQ(textfile::readLines(titleIndexPath(site)),
              (QStringList{"#    path", "0001 S : A", "0002 S : B", "#"}));
}

TEST_F(PageIndexTest, FiveThousandPagesFitAndOneMoreIsRefused) {
    TextTable titles;
    for (int n = 1; n <= 5000; ++n) {
        titles[n] = QString::number(n);
    }
    QStringList lines = titleIndexLines("S", titles, 5000);
    ASSERT_EQ(lines.size(), 5002);
    applyPageTitleIndex(lines, state);
    EXPECT_EQ(state.pageCount(), 5000);
    EXPECT_EQ(state.pageList[4999], "5000 - 5000");

    EXPECT_THROW(titleIndexLines("S", titles, 5001), ZorError);
    EXPECT_THROW(writePageFileIndex(site, 5001), ZorError);
    EXPECT_FALSE(QFile::exists(fileIndexPath(site)));

    lines.insert(1, "0000 S : extra");
    writeHead(lines);
    EXPECT_THROW(readPageTitleIndex(state), FileError);
    EXPECT_FALSE(state.pageIndexLoaded);  // the file must not be overwritten by a save
    EXPECT_EQ(state.pageList, QStringList{"..."});
}

TEST_F(PageIndexTest, AMissingIndexThrowsButMaySafelyBeCreated) {
    EXPECT_THROW(readPageTitleIndex(state), FileError);
    EXPECT_EQ(state.pageList, QStringList{"..."});
    EXPECT_TRUE(state.pageIndexLoaded);
}

TEST_F(PageIndexTest, TitleTableRefusesToReachPastItsEnd) {
    TextTable t;
    EXPECT_THROW(t[0], ZorError);
    EXPECT_THROW(t[5001], ZorError);
    EXPECT_NO_THROW(t[5000] = "x");
}

TEST_F(PageIndexTest, IndexFilesAreRewrittenOnlyWhenTheirContentChanges) {
    writeHead({"#    path", "0001 Site : A", "#"});
    readPageTitleIndex(state);
    writeIndexFiles(state);
    // An atomic rewrite puts a new file in place: another inode.
    auto inode = [](const QString& path) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_ino;
    };
    const auto head = inode(titleIndexPath(site));
    const auto files = inode(fileIndexPath(site));
    writeIndexFiles(state);
    EXPECT_EQ(inode(titleIndexPath(site)), head);
    EXPECT_EQ(inode(fileIndexPath(site)), files);

    state.pageTitles[1] = "B";
    writeIndexFiles(state);
    EXPECT_NE(inode(titleIndexPath(site)), head);
    EXPECT_EQ(inode(fileIndexPath(site)), files);
    EXPECT_EQ(test::readFile(titleIndexPath(site)),
              QByteArray("#    path\r\n0001 Site : B\r\n#\r\n"));

    // Not while the tables do not hold the site's index.
    state.pageIndexLoaded = false;
    state.pageTitles[1] = "C";
    writeIndexFiles(state);
    EXPECT_EQ(test::readFile(titleIndexPath(site)),
              QByteArray("#    path\r\n0001 Site : B\r\n#\r\n"));
}

TEST_F(PageIndexTest, ATitleWithALineBreakIsRefusedAndTheIndexStaysAsItWas) {
    writeHead({"#    path", "0001 S : A", "#"});
    const QByteArray before = test::readFile(titleIndexPath(site));
    struct Row {
        const char* siteTitle;
        const char* title;
    };
    for (const Row& row : {Row{"Мой\r\nсайт", "A"}, Row{"S", "Новая\r\nстраница"}, Row{"S", "a\nb"},
                           Row{"S\r", "a"}}) {
        TextTable titles;
        titles[1] = QString::fromUtf8(row.title);
        EXPECT_THROW(writePageTitleIndex(site, QString::fromUtf8(row.siteTitle), titles, 1),
                     ZorError)
            << row.siteTitle << " / " << row.title;
        EXPECT_EQ(test::readFile(titleIndexPath(site)), before);
    }
}

TEST_F(PageIndexTest, AnIndexTooLargeToBeOneIsRefusedBeforeItIsRead) {
    // Two pages whose titles make the file far larger than any real index.
    const QString huge(3 * 1024 * 1024, u'x');
    writeHead({"#    path", "0001 S : " + huge, "0002 S : " + huge, "#"});
    EXPECT_THAT(
        [&] { readPageTitleIndex(state); },
        ThrowsMessage<FileError>(AllOf(HasSubstr("head.txt"), HasSubstr("слишком большой"))));
    EXPECT_EQ(state.pageList, QStringList{"..."});
    EXPECT_FALSE(state.pageIndexLoaded);
}

TEST_F(PageIndexTest, ASiteWithoutItsEtcFolderHasNothingToSave) {
    QDir(site + "/etc").removeRecursively();
    EXPECT_THROW(readPageTitleIndex(state), FileError);
    EXPECT_NO_THROW(writeIndexFiles(state));
    EXPECT_FALSE(QFileInfo::exists(site + "/etc"));
}

// In a child process: a read that blocks must end the test, not hang it.
TEST_F(PageIndexTest, SpecialFilesInPlaceOfTheIndexFilesNeverBlock) {
    writeHead({"#    path", "0001 S : A", "#"});
    readPageTitleIndex(state);
    struct Row {
        const char* name;
        bool read;  // read the title index, or save both
    };
    for (const Row& row : {Row{"head.txt", true}, Row{"file.txt", false}}) {
        const QString path = site + "/etc/" + row.name;
        QFile::remove(path);
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        // The read fails with its error; the save writes nothing and says nothing.
        EXPECT_EXIT(
            test::exitAfter([&] { row.read ? readPageTitleIndex(state) : writeIndexFiles(state); }),
            ::testing::ExitedWithCode(row.read ? test::FileErrorThrown : test::NothingThrown), "")
            << row.name;
        QFile::remove(path);
        writeHead({"#    path", "0001 S : A", "#"});
    }
}
