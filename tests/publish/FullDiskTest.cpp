#include <gtest/gtest.h>
#include <QDirIterator>
#include <functional>
#include <map>

#include "FtpTestSupport.h"
#include "design/TemplateCompiler.h"
#include "editor/EditorSave.h"
#include "platform/SettingsStore.h"
#include "publish/AccountSettings.h"
#include "publish/FileChangeCache.h"
#include "publish/SiteUpload.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"
#include "site/SiteOpening.h"
#include "support/TempSite.h"
#include "support/TestEditorHost.h"

using namespace zor;
using namespace zor::test;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

namespace {

// These sites remember their accounts in the settings, as where no keyring is.
NoKeyring noKeyring;

using Files = std::map<QString, QByteArray>;

// Every file under folder but the filler, by path.
Files filesIn(const QString& folder) {
    Files files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.endsWith(QStringLiteral("/filler"))) {
            files[path] = readFile(path);
        }
    }
    return files;
}

enum class Fault { Full, ReadOnly };

struct Save {
    const char* what;
    std::function<void(OpenSiteState&)> run;
};

// The saves the program makes into a site, each with content of a new length.
const Save Saves[] = {
    {"page",
     [](OpenSiteState& s) {
         TestEditorHost host(s);
         host.pageSelection = 0;
         editor::savePage(s, host, QString(3000, u'я'), "Новая главная");
     }},
    {"template", [](OpenSiteState& s) { design::saveAndCompile(s, "<p>{{content}}</p>\r\n"); }},
    {"index files",
     [](OpenSiteState& s) {
         s.pageTitles[1] = "Другое название";
         site::writeIndexFiles(s);
     }},
};

class SaveOntoABadDisk : public ::testing::TestWithParam<std::tuple<Fault, int>> {};

INSTANTIATE_TEST_SUITE_P(
    Saves, SaveOntoABadDisk,
    ::testing::Combine(::testing::Values(Fault::Full, Fault::ReadOnly), ::testing::Range(0, 3)),
    [](const auto& info) {
        QString name = QString(std::get<0>(info.param) == Fault::Full ? "full_" : "read_only_") +
                       Saves[std::get<1>(info.param)].what;
        return name.replace(' ', '_').toStdString();
    });

}  // namespace

TEST_P(SaveOntoABadDisk, SaysWhyInRussianAndKeepsTheOldFiles) {
    const auto [fault, row] = GetParam();
    const Save& save = Saves[row];
    SmallFileSystem disk(512 * 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << disk.why().toStdString();
    }
    OpenSiteState state;
    state.sitesRoot = disk.path() + u'/';
    site::createSite(state.sitesRoot, "site");
    TempRoot settingsRoot;
    SettingsStore settings(settingsRoot.settingsPath());
    ASSERT_EQ(publish::loadOpenSite(state, settings, noKeyring, "site"), QStringList());
    state.sitemapEnabled = true;
    state.siteAddress = "http://example.org/";
    design::compileSavedTemplate(state);  // index.php and the rest exist before
    const Files before = filesIn(state.sitePath);
    const QStringList listBefore = state.pageList;

    if (fault == Fault::Full) {
        disk.fill();
    } else {
        ASSERT_TRUE(disk.makeReadOnly());
    }
    EXPECT_THAT([&] { save.run(state); },
                ThrowsMessage<ZorError>(AllOf(
                    StartsWith(("Не удалось записать файл «" + state.sitePath + '/').toStdString()),
                    EndsWith(fault == Fault::Full ? "на диске не осталось места"
                                                  : "диск доступен только для чтения"))))
        << save.what;
    EXPECT_EQ(filesIn(state.sitePath), before);

    // Space again: the next opening finds the site as it was.
    disk.empty();
    OpenSiteState again;
    again.sitesRoot = state.sitesRoot;
    EXPECT_EQ(publish::loadOpenSite(again, settings, noKeyring, "site"), QStringList());
    EXPECT_EQ(again.pageList, listBefore);
    EXPECT_EQ(filesIn(state.sitePath), before);
}

// The upload records what reached the server as it goes; when the settings cannot take a
// record, it stops saying so, and what was recorded before stays.
TEST(UploadWithFullSettings, StopsWithAMessageAndKeepsTheRecords) {
    SmallFileSystem disk(1024 * 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << disk.why().toStdString();
    }
    TempRoot root;
    auto settings = std::make_unique<SettingsStore>(disk.path() + "/settings.db");
    VsftpdServer server;
    publish::FtpClient ftp;
    ftp.Port = server.port();
    ftp.Timeout = std::chrono::seconds(10);
    OpenSiteState state;
    state.sitesRoot = root.root();
    root.makeSite("a");
    ASSERT_EQ(publish::loadOpenSite(state, *settings, noKeyring, "a"), QStringList());
    state.ftpAccount = {server.host(), server.user(), server.password(), server.writableFolder()};
    const QString key = "software\\ZOR-OD\\a\\files";
    auto upload = [&] {
        publish::PublishJob job{state, *settings, ftp, {}};
        return publish::uploadChangedFiles(job);
    };
    ASSERT_GT(upload().sent, 0);
    const auto recorded = settings->values(key);

    writeFile(site::pageFilePath(state.sitePath, 1), "a new text");
    disk.fill();
    EXPECT_THAT(upload,
                ThrowsMessage<SettingsError>(AllOf(StartsWith("Не удалось сохранить настройки"),
                                                   EndsWith("на диске не осталось места"))));
    EXPECT_FALSE(ftp.IsConnected());
    disk.empty();
    EXPECT_EQ(settings->values(key), recorded);

    // The page was not recorded, so it goes again; the database opens intact.
    const publish::UploadResult next = upload();
    ASSERT_EQ(next.files.size(), 1);
    EXPECT_EQ(next.files[0].name, "/mf/pages/1.tq");
    settings.reset();
    SettingsStore reopened(disk.path() + "/settings.db");
    EXPECT_EQ(reopened.values(key).size(), recorded.size());
    EXPECT_NE(reopened.values(key).value("/mf/pages/1.tq"), recorded.value("/mf/pages/1.tq"));
}
