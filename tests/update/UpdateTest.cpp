#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "platform/Errors.h"
#include "platform/Http.h"
#include "support/Http.h"
#include "support/TempSite.h"
#include "update/Updates.h"

using namespace zor;
using namespace zor::test;

namespace {

const QByteArray Body = everyByte(16);

struct UpdateServerTest : ::testing::Test, ServedFolder {
    TempRoot root;
    QString site = root.makeSite("site");
    CurlHttpClient http;

    void SetUp() override { ASSERT_TRUE(server.started()); }
    update::UpdateCheck check() { return {http, server.address(), site}; }
    QString extensions() const { return site + "/extentions"; }
    QStringList entries(const QString& folder) const {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

}  // namespace

TEST_F(UpdateServerTest, DownloadsTheWholeBodyOrReportsFailure) {
    serve("/files/body.bin", Body);
    serve("/files/empty", {});
    http.StallTimeout = std::chrono::seconds(1);
    const struct {
        const char* what;
        const char* path;
        qint64 maxBytes;
        bool ok;
        QByteArray saved;  // the file afterwards, when ok
    } cases[] = {
        {"a body", "/files/body.bin", 1 << 20, true, Body},
        {"a body of exactly the limit", "/files/body.bin", 4096, true, Body},
        {"a body of zero length", "/files/empty", 1 << 20, true, {}},
        {"a redirect", "/redirect/0/files/body.bin", 1 << 20, true, Body},
        {"five redirects", "/redirect/4/files/body.bin", 1 << 20, true, Body},
        {"six redirects", "/redirect/5/files/body.bin", 1 << 20, false, {}},
        {"not found", "/files/missing", 1 << 20, false, {}},
        {"a server error", "/error500", 1 << 20, false, {}},
        {"a body over the limit", "/files/body.bin", 4095, false, {}},
        {"a body that never ends", "/endless", 1 << 20, false, {}},
        {"a server that never answers", "/silent", 1 << 20, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString local = site + "/update.tmp";
        const QByteArray old(10000, 'o');  // longer than any body: replaced, not written over
        writeFile(local, old);
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(http.DownloadToFile(server.address() + c.path, local, c.maxBytes), c.ok);
        EXPECT_LT(timer.elapsed(), 15000);  // the stall limit is one second
        EXPECT_EQ(readFile(local), c.ok ? c.saved : old);
    }
}

TEST_F(UpdateServerTest, UnreachableServerFailsAndLocalFileErrorsThrow) {
    const QString unreachable = QStringLiteral("http://127.0.0.1:%1/x").arg(freeLoopbackPort());
    EXPECT_FALSE(http.DownloadToFile(unreachable, site + "/update.tmp", 100));
    serve("/files/body.bin", Body);
    EXPECT_THROW(http.DownloadToFile(server.address() + "/files/body.bin",
                                     site + "/no-such-folder/x", 1 << 20),
                 FileError);
}

TEST_F(UpdateServerTest, SystemCheckReadsTheVersionFromTheFirstLine) {
    const struct {
        QByteArray notice;
        bool newer;
        const char* firstLine;
    } cases[] = {
        {"3.1\r\n", true, "3.1"},
        {"4.0\r\n", true, "4.0"},
        {"3.12\r\n", true, "3.12"},
        {"3.1.2\r\n", true, "3.1.2"},
        {"3.1beta\r\n", true, "3.1beta"},
        {"  3.1\r\n", true, "  3.1"},
        {"3.0\r\n", false, "3.0"},
        {"2.9\r\n9.9\r\n", false, "2.9"},
        {"\r\n3.1\r\n", false, ""},
        {"", false, ""},
        {"4\r\n", false, "4"},
        {"v3.1\r\n", false, "v3.1"},
        // Digit runs longer than any number: read as very large, never wrapped round.
        {"3.99999999999999999999\r\n", true, "3.99999999999999999999"},
        {"99999999999999999999.0\r\n", true, "99999999999999999999.0"},
        {"2.99999999999999999999\r\n", false, "2.99999999999999999999"},
        {"99999999999999999999\r\n", false, "99999999999999999999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.notice.toStdString());
        serve("/update/distr.up", c.notice);
        const auto result = check().checkSystem();
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->newer, c.newer);
        EXPECT_EQ(result->firstLine, c.firstLine);
        EXPECT_FALSE(QFile::exists(site + "/update.tmp"));
    }
}

TEST(VersionNumberTest, LongDigitRunsStayLargeAndPositive) {
    EXPECT_EQ(update::readNumber(u"  123456789x"), 123456789);
    const int huge = update::readNumber(u"99999999999999999999999999");
    EXPECT_GE(huge, 1000000000);
    EXPECT_EQ(update::readNumber(u"999999999999999999999999999999999"), huge);
    EXPECT_EQ(update::readNumber(u"2147483648"), huge);
}

TEST_F(UpdateServerTest, ANotFoundPageIsNoNoticeAndNoCatalogue) {
    writeFile(site + "/update.tmp", "3.5\r\n");  // left from before: not read
    EXPECT_EQ(check().checkSystem(), std::nullopt);
    EXPECT_EQ(check().checkExtensions(), std::nullopt);
    EXPECT_FALSE(QFile::exists(site + "/update.tmp"));
}

TEST_F(UpdateServerTest, ExtensionCheckOffersWhatTheSiteLacks) {
    serve("/update/ex.up",
          crlf({"vote.ex |Голосование", "form.ex |Форма связи", "readme.txt |Описание",
                "news.ex |Новости", "no bar at all", "", "x|", "../x.ex |Наверх",
                "/etc/x.ex |Системное", "a\\b.ex |Обратная черта", "tab\tx.ex |Управляющий знак"}));
    // A new site has no extension folder: every plain name is offered.
    const QStringList all{"vote.ex |Голосование", "form.ex |Форма связи", "readme.txt |Описание",
                          "news.ex |Новости"};
    EXPECT_EQ(check().checkExtensions(), all);

    writeFile(extensions() + "/vote.ex", "<?php //Голосование ?>");
    writeFile(extensions() + "/Form.ex", "<?php //Форма ?>");
    writeFile(extensions() + "/readme.txt", "text");
    EXPECT_EQ(check().checkExtensions(),
              (QStringList{"form.ex |Форма связи", "readme.txt |Описание", "news.ex |Новости"}));

    writeFile(extensions() + "/form.ex", "");
    writeFile(extensions() + "/news.ex", "");
    EXPECT_EQ(check().checkExtensions(), QStringList{"readme.txt |Описание"});
}

TEST_F(UpdateServerTest, InstallPutsWholeFilesInPlaceAndReportsTheRest) {
    serve("/update/extentions/a.ex", Body);
    serve("/update/extentions/b.ex", {});
    serve("/update/x.ex", "outside");
    // Installed before: replaced by a good download, kept when the new one stops half way.
    writeFile(extensions() + "/b.ex", "old b");
    writeFile(extensions() + "/stall.ex", "old stall");
    writeFile(extensions() + "/zorod-saving-Ab12Cd", "half of an earlier download");
    http.StallTimeout = std::chrono::seconds(1);

    update::UpdateCheck::InstallReport report;
    check().install({"a.ex |A", "missing.ex |M", "b.ex |B", "stall.ex |S", "../x.ex |X",
                     "/etc/x.ex |Y", "a\\b.ex |Z"},
                    report);

    EXPECT_EQ(report.installed, (QStringList{"a.ex", "b.ex"}));
    EXPECT_EQ(report.failed,
              (QStringList{"missing.ex", "stall.ex", "../x.ex", "/etc/x.ex", "a\\b.ex"}));
    EXPECT_EQ(readFile(extensions() + "/a.ex"), Body);
    EXPECT_EQ(readFile(extensions() + "/b.ex"), "");
    EXPECT_EQ(readFile(extensions() + "/stall.ex"), "old stall");
    EXPECT_EQ(entries(extensions()), (QStringList{"a.ex", "b.ex", "stall.ex"}));
    EXPECT_FALSE(QFile::exists(site + "/x.ex"));
    EXPECT_EQ(server.requests(),
              (QStringList{"/update/extentions/a.ex", "/update/extentions/missing.ex",
                           "/update/extentions/b.ex", "/update/extentions/stall.ex"}));
}

TEST_F(UpdateServerTest, NothingIsWrittenThroughALinkInPlaceOfTheExtensionFolder) {
    serve("/update/extentions/a.ex", "<?php //A ?>\r\n");
    QTemporaryDir elsewhere;
    QFile::link(elsewhere.path(), extensions());
    update::UpdateCheck::InstallReport report;
    EXPECT_THROW(check().install({"a.ex |A"}, report), FileError);
    EXPECT_TRUE(entries(elsewhere.path()).isEmpty());
}
