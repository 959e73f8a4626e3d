#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <memory>

#include "design/TemplateCompiler.h"
#include "platform/Http.h"
#include "platform/SettingsStore.h"
#include "publish/FtpClient.h"
#include "publish/SiteCheck.h"
#include "site/PageIndex.h"
#include "site/SiteWorkspace.h"
#include "support/FtpServers.h"
#include "support/Http.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::publish;
using namespace zor::test;
using Failure = HttpPage::Failure;

TEST(SiteCheck, EachAnswerIsJudgedByStatusTitleAndPhpErrorText) {
    struct Case {
        const char* name;
        long status;  // 0: no answer came
        QByteArray contentType;
        QByteArray body;
        bool titleRequired;
        QString cause;  // empty: the page passes
        QString seen;
    };
    const QString fatal =
        "<br />\n<b>Fatal error</b>:  Uncaught Error: Call to undefined "
        "function nope() in /s/mf/pages/2.tq:1\nStack trace:";
    const Case cases[] = {
        {"declared windows-1251", 200, "text/html; charset=windows-1251",
         cp1251(u"<html><head><title>Сайт : Главная\r\n</title></head>"), true, "", ""},
        {"utf-8 in a meta", 200, "text/html",
         QString("<meta charset=\"utf-8\"><title>Главная</title>").toUtf8(), true, "", ""},
        {"references", 200, "text/html",
         "<title>&#1043;&#1083;&#x430;&#x432;&#1085;&#1072;&#1103;</title>", true, "", ""},
        {"another title", 200, "text/html", cp1251(u"<title>Другой</title>"), true,
         "в заголовке страницы нет её названия «Главная»: возможно, по этому адресу другой "
         "сайт или на сервере не те файлы",
         "заголовок «Другой»"},
        {"a template without the title", 200, "", "<title>Другой</title>", false, "", ""},
        {"not found", 404, "text/html", "<h1>Not Found</h1>", true,
         "index.php не найден по адресу http://h/index.php: возможно, папка на сервере не "
         "совпадает с корнем сайта",
         "ответ 404"},
        {"php not run", 200, "application/octet-stream",
         "<?php header(\"Content-Type: text/html; charset=windows-1251\"); ?>\r\n<title>", true,
         "сервер не выполняет PHP", "вместо страницы пришёл текст программы index.php"},
        {"fatal error", 500, "text/html", fatal.toUtf8(), true,
         "Fatal error: Uncaught Error: Call to undefined function nope() in /s/mf/pages/2.tq:1",
         "ответ 500, в странице — сообщение PHP об ошибке"},
        {"warning in a page that came", 200, "text/html; charset=utf-8",
         "<title>Главная</title><p>x</p>\n<b>Warning</b>:  Undefined variable $x in "
         "<b>/s/1.tq</b> on line <b>2</b><br />",
         true, "Warning: Undefined variable $x in /s/1.tq on line 2",
         "ответ 200, в странице — сообщение PHP об ошибке"},
        {"the word in the text", 200, "text/html; charset=utf-8",
         "<title>Главная</title>\n<p>Warning: wet floor</p>", true, "", ""},
        {"500 without a word", 500, "text/html", "", true,
         "страница не выполнилась на сервере; подробности — в журнале ошибок сервера", "ответ 500"},
        {"forbidden", 403, "text/html", "<title>Главная</title>", true, "сервер не отдаёт страницу",
         "ответ 403"},
        {"no answer", 0, "", "", true, "сайт не отвечает", "соединение не установлено"},
    };
    const CheckedPage page{1, "http://h/index.php?in=1", "Главная"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpPage answer;
        answer.failure = c.status == 0 ? Failure::NoAnswer : Failure::None;
        answer.failureText = c.status == 0 ? "соединение не установлено" : "";
        answer.status = c.status;
        answer.contentType = c.contentType;
        answer.body = c.body;
        const PageFailure f = judgePage(answer, page, "http://h/", c.titleRequired);
        EXPECT_EQ(f.cause, c.cause);
        EXPECT_EQ(f.seen, c.seen);
    }
}

TEST(SiteCheck, PagesAndAddressesChecked) {
    const auto sent = [](const QStringList& names) {
        QList<SiteFile> files;
        for (const QString& n : names) {
            files.append({"/local" + n, n});
        }
        return files;
    };
    EXPECT_EQ(pagesToCheck(sent({"/index.php", "/mf/pages/5.tq", "/mf/pages/1.tq", "/mf/pages/3.tq",
                                 "/mf/pages/9.tq", "/mf/pages/x.tq", "/mf/pages/4.tq"}),
                           5),
              (QList<int>{1, 3, 4}));
    EXPECT_EQ(pagesToCheck(sent({"/etc/head.txt"}), 5), QList<int>{1});

    EXPECT_FALSE(siteAddressSet("http://"));
    EXPECT_TRUE(siteAddressSet("http://a.ru/"));

    TempRoot root;
    SettingsStore store(root.settingsPath());
    EXPECT_TRUE(siteCheckEnabled(store, "a"));  // on until switched off
    storeSiteCheckEnabled(store, "a", false);
    EXPECT_FALSE(siteCheckEnabled(store, "a"));
    EXPECT_TRUE(siteCheckEnabled(store, "b"));
}

TEST(SiteCheck, AFetchIsCutAtItsLimitAndGivesUpAtItsTimeOut) {
    QTemporaryDir folder;
    HttpFileServer server(folder.path());
    ASSERT_TRUE(server.started());
    CurlHttpClient http;
    http.TotalTimeout = std::chrono::milliseconds(300);

    const HttpPage endless = http.Fetch(server.address() + "/endless", 100000);
    EXPECT_EQ(endless.failure, Failure::None);
    EXPECT_EQ(endless.status, 200);
    EXPECT_TRUE(endless.truncated);
    EXPECT_EQ(endless.body.size(), 100000);

    const HttpPage silent = http.Fetch(server.address() + "/silent", 100000);
    EXPECT_EQ(silent.failure, Failure::NoAnswer);
    EXPECT_EQ(silent.failureText, "нет ответа за 1 с");
}

namespace {

// A site of three pages published by vsftpd into a folder that PHP's web server, or a plain
// one, serves.
struct SiteCheckServers : ::testing::Test {
    TempRoot root;
    SettingsStore settings{root.settingsPath()};
    VsftpdServer ftpServer;
    FtpClient ftp;
    OpenSiteState state;

    // A folder on the server, made as the server's anonymous user may write into it.
    QString serverFolder(const QString& remote) {
        const QString local = ftpServer.localPath(remote);
        QDir().mkpath(local);
        ::chmod(QFile::encodeName(local).constData(), 0777);
        return local;
    }

    void SetUp() override {
        ftp.Port = ftpServer.port();
        ftp.Timeout = std::chrono::seconds(10);
        state = root.openNewSite("a");
        state.pageTitles[2] = "Вторая";
        state.pageTitles[3] = "Третья";
        state.pageList = {"1 - Главная", "2 - Вторая", "3 - Третья", "..."};
        for (int n : {2, 3}) {
            writeFile(site::pageFilePath(state.sitePath, n), "<p>page</p>\r\n");
        }
        design::compileSavedTemplate(state);
    }
    SiteCheckResult publishAndCheck(const QString& folder, const QString& address) {
        state.ftpAccount = {ftpServer.host(), ftpServer.user(), ftpServer.password(), folder};
        PublishJob job{state, settings, ftp, {}};
        const UploadResult sent = uploadAllFiles(job);
        state.siteAddress = address;
        CurlHttpClient http;
        return checkPublishedSite(http, state, pagesToCheck(sent.files, state.pageCount()));
    }
};

}  // namespace

TEST_F(SiteCheckServers, ThePublishedSiteIsAskedForAsAVisitorWould) {
    enum Serve { Php, Static, Nothing };
    struct Case {
        const char* name;
        Serve serve;
        QString folder;    // the remote folder uploaded into
        QString served;    // the one the web server serves
        QByteArray page2;  // empty: as written above
        bool passed;
        QString text;  // %1: the address the site is asked under
    };
    const Case cases[] = {
        {"published into the web root", Php, "/www/a", "/www/a", "", true,
         "Сайт работает: страница 1 «Главная» открывается (проверено страниц: 3)"},
        {"beside the web root", Php, "/www/b", "/www/c", "", false,
         "Проверка сайта не прошла: index.php не найден по адресу %1index.php: возможно, папка "
         "на сервере не совпадает с корнем сайта\nСтраница 1, %1index.php?in=1: ответ 404"},
        {"no PHP", Static, "/www/a", "/www/a", "", false,
         "Проверка сайта не прошла: сервер не выполняет PHP\nСтраница 1, %1index.php?in=1: "
         "вместо страницы пришёл текст программы index.php"},
        {"a page PHP cannot run", Php, "/www/d", "/www/d", "<?php nope(); ?>\r\n", false,
         "Проверка сайта не прошла: Fatal error: Uncaught Error: Call to undefined function "
         "nope() in "},
        {"nothing listens", Nothing, "/www/a", "/www/a", "", false,
         "Проверка сайта не прошла: сайт не отвечает\nСтраница 1, %1index.php?in=1: соединение не "
         "установлено"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.page2.isEmpty()) {
            writeFile(site::pageFilePath(state.sitePath, 2), c.page2);
        }
        serverFolder(c.folder);
        const QString webRoot = serverFolder(c.served);
        std::unique_ptr<PhpServer> php;
        std::unique_ptr<HttpFileServer> plain;
        QString address;
        if (c.serve == Php) {
            php = std::make_unique<PhpServer>(webRoot);
            ASSERT_TRUE(php->started());
            address = QString("http://127.0.0.1:%1/").arg(php->port());
        } else if (c.serve == Static) {
            plain = std::make_unique<HttpFileServer>(webRoot);
            ASSERT_TRUE(plain->started());
            address = plain->address() + '/';
        } else {
            address = QString("http://127.0.0.1:%1/").arg(freeLoopbackPort());
        }
        const SiteCheckResult r = publishAndCheck(c.folder, address);
        EXPECT_EQ(r.passed, c.passed);
        EXPECT_FALSE(r.cancelled);
        const QString expected = QString(c.text).replace("%1", address);
        EXPECT_TRUE(r.text.startsWith(expected)) << r.text.toStdString();
    }
}
