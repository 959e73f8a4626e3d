#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <functional>

#include "pages/PageCatalogue.h"
#include "platform/Errors.h"
#include "site/PageIndex.h"
#include "support/TempSite.h"

using namespace zor;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

struct PageCatalogueTest : ::testing::Test {
    test::TempRoot root;
    QString site = root.makeSite("s");
    OpenSiteState state;
    void SetUp() override { state.sitePath = site; }
    QString head() { return site::titleIndexPath(site); }
};

}  // namespace

TEST_F(PageCatalogueTest, NoPageStartsWhileTheTitleIndexIsNotLoaded) {
    QStringList tooMany{"#    path"};
    for (int n = 1; n <= 5001; ++n) {
        tooMany.append(QString::number(n) + " S : p");
    }
    tooMany.append("#");
    struct Row {
        const char* what;
        std::function<void()> spoil;
    };
    const Row rows[] = {
        {"missing", [&] { QFile::remove(head()); }},
        {"a folder",
         [&] {
             QFile::remove(head());
             QDir().mkdir(head());
         }},
        {"over 5000 pages", [&] { test::writeFile(head(), test::crlf(tooMany)); }},
    };
    const QByteArray welcome = test::readFile(site::pageFilePath(site, 1));
    for (const Row& row : rows) {
        row.spoil();
        EXPECT_THROW(site::readPageTitleIndex(state), FileError) << row.what;
        ASSERT_EQ(state.pageList, QStringList{"..."}) << row.what;
        EXPECT_THAT([&] { pages::planPageOpening(state, 0, "..."); },
                    ThrowsMessage<ZorError>(HasSubstr("head.txt")))
            << row.what;
        EXPECT_EQ(test::readFile(site::pageFilePath(site, 1)), welcome);
        QDir(head()).removeRecursively();
        QFile::remove(head());
    }
}

TEST_F(PageCatalogueTest, ANewPageNeverTakesTheNumberOfAPageFileOnDisk) {
    site::readPageTitleIndex(state);
    ASSERT_EQ(state.pageList, (QStringList{"1 - Главная", "..."}));
    EXPECT_TRUE(pages::planPageOpening(state, 1, "...").isNew);

    // A page file the index does not know of.
    test::writeFile(site::pageFilePath(site, 2), "kept");
    EXPECT_THAT([&] { pages::planPageOpening(state, 1, "..."); },
                ThrowsMessage<ZorError>(HasSubstr("2.tq")));
    EXPECT_EQ(test::readFile(site::pageFilePath(site, 2)), "kept");
}
