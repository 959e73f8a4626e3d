// The compiled site behind Apache as a shared host runs it: the site's sources are refused,
// its pages and design pictures served; and the upload takes the refusals along.
#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include "design/TemplateCompiler.h"
#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "publish/FtpClient.h"
#include "publish/SiteUpload.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"
#include "site/SiteWorkspace.h"
#include "support/FtpServers.h"
#include "support/Http.h"
#include "support/TempSite.h"

using namespace zor;

namespace {

struct DenyFilesTest : ::testing::Test {
    test::TempRoot root;
    OpenSiteState state;

    void SetUp() override {
        state = root.openNewSite("site");
        textfile::writeLines(site::blockFilePath(state.sitePath, "menu"),
                             {"<?php $password = 'secret'; ?><b>menu</b>"});
        test::writeFile(state.sitePath + "/etc/desing/logo.png", "picture");
        // What a save cut short leaves: a temporary file, named without a dot.
        test::writeFile(state.sitePath + "/etc/headtmp1", "0001 Новый сайт : Главная");
        QStringList theme = site::defaultThemeLines();
        theme.insert(6, "<div>{{bloc=menu}}</div>");
        design::saveAndCompile(state, textfile::joinLines(theme));
    }

    // The site behind Apache: every request, with the status a browser must get.
    void expectServed() {
        const test::ApacheServer apache(state.sitePath);
        ASSERT_TRUE(apache.started()) << "apache2 did not start";
        const struct {
            const char* path;
            int status;
        } requests[] = {
            {"/etc/head.txt", 403},          {"/etc/file.txt", 403},  {"/etc/blocs/menu.tq", 403},
            {"/etc/desing/theme.html", 403}, {"/mf/pages/1.tq", 403}, {"/etc/headtmp1", 403},
            {"/etc/desing/logo.png", 200},
        };
        for (const auto& r : requests) {
            EXPECT_EQ(test::httpGet(apache.port(), r.path).status, r.status) << r.path;
        }
        // The pages include all of these as before.
        const test::HttpResponse page = test::httpGet(apache.port(), "/index.php?in=1");
        EXPECT_EQ(page.status, 200);
        EXPECT_TRUE(page.body.contains(zor::test::cp1251(u"Вы успешно установили TQ!")));
        EXPECT_TRUE(page.body.contains("<b>menu</b>"));
        EXPECT_FALSE(page.body.contains("secret"));
        EXPECT_FALSE(apache.errorLog().contains("PHP ")) << apache.errorLog().constData();
    }
};

// The part of an access file an Apache without the 2.4 authorisation module reads.
QStringList olderServersPart(const QStringList& lines) {
    QStringList out;
    enum { Both, Newer, Older } part = Both;
    for (const QString& line : lines) {
        const QString t = line.trimmed();
        if (t == "<IfModule mod_authz_core.c>") {
            part = Newer;
        } else if (t == "<IfModule !mod_authz_core.c>") {
            part = Older;
        } else if (t == "</IfModule>" && part != Both) {
            part = Both;
        } else if (part != Newer) {
            out.append(line);
        }
    }
    return out;
}

}  // namespace

TEST_F(DenyFilesTest, SourcesAreRefusedAndPagesServed) {
    expectServed();
}

TEST_F(DenyFilesTest, TheOlderServersWordsRefuseTheSame) {
    for (const QString& path :
         {state.sitePath + "/etc/.htaccess", site::pagesFolder(state.sitePath) + "/.htaccess"}) {
        const QStringList older = olderServersPart(textfile::readLines(path));
        ASSERT_TRUE(older.join('\n').contains("Deny from all")) << path.toStdString();
        textfile::writeLines(path, older);
    }
    expectServed();
}

TEST_F(DenyFilesTest, TheUploadSendsThem) {
    test::PyftpdlibServer server;
    SettingsStore settings(root.settingsPath());
    publish::FtpClient ftp;
    ftp.Port = server.port();
    state.ftpAccount = {server.host(), server.user(), server.password(), "/"};
    publish::PublishJob job{state, settings, ftp, {}};
    publish::uploadChangedFiles(job);
    for (const char* file : {"/etc/.htaccess", "/mf/pages/.htaccess"}) {
        EXPECT_EQ(test::readFile(server.localPath(file)), test::readFile(state.sitePath + file))
            << file;
    }
}
