#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <cstring>
#include <memory>

#include "FtpTestSupport.h"
#include "platform/Http.h"
#include "platform/SettingsStore.h"
#include "publish/ArchiveUpload.h"
#include "publish/FileChangeCache.h"
#include "publish/SiteUpload.h"
#include "site/SiteWorkspace.h"
#include "support/Http.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::publish;
using namespace zor::test;

namespace {

const QString PhpUser = QStringLiteral("ftp");  // the user vsftpd's anonymous login writes as

QStringList routeFilesIn(const QString& folder) {
    return QDir(folder).entryList({UnpackPrefix + u'*'}, QDir::Files | QDir::Hidden);
}

// Every file under `folder`, relative to it.
QStringList filesUnder(const QString& folder) {
    QStringList names;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        names.append(QDir(folder).relativeFilePath(it.next()));
    }
    names.sort();
    return names;
}

// A site of 40 small files besides its own, published to a real vsftpd whose folder a real
// `php -S` serves, as the FTP account's user.
struct ArchiveSite : ::testing::Test {
    TempRoot root;
    SettingsStore settings{root.settingsPath()};
    VsftpdServer server;
    FtpClient ftp;
    CurlHttpClient http;
    OpenSiteState state = root.openNewSite(QStringLiteral("a"));
    QString www = server.localPath(QStringLiteral("/www"));
    std::unique_ptr<LoopbackServer> web;
    QList<Stage> stages;

    void SetUp() override {
        ftp.Port = server.port();
        ftp.Timeout = std::chrono::seconds(10);
        state.ftpAccount = {server.host(), server.user(), server.password(),
                            QStringLiteral("/www")};
        for (int i = 0; i < 40; ++i) {
            writeFile(state.sitePath + QStringLiteral("/mf/other/f%1.txt").arg(i),
                      randomBytes(1024 + i * 150, static_cast<quint32>(i)));
        }
        serveWithPhp(www);
    }
    void serveWithPhp(const QString& folder, const QString& user = PhpUser,
                      const QString& router = {}) {
        auto php = std::make_unique<PhpServer>(folder, user, router);
        ASSERT_TRUE(php->started());
        state.siteAddress = php->address();
        web = std::move(php);
    }
    UploadResult upload() {
        stages.clear();
        PublishJob job{state, settings, ftp,
                       [this](Stage s, int, int, const QString&, qint64) { stages.append(s); }};
        job.http = &http;
        return uploadChangedFiles(job);
    }
    // Every file of the site is on the server as it is here, and recorded with its digest.
    void expectPublished() {
        FileChangeCache cache(settings, state.siteName);
        for (const SiteFile& f : uploadCandidates(state.sitePath)) {
            const QByteArray bytes = readFile(f.localPath);
            EXPECT_EQ(readFile(www + f.name), bytes) << f.name.toStdString();
            EXPECT_EQ(cache.recorded(f.name),
                      QString::fromLatin1(
                          QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
        }
        EXPECT_TRUE(routeFilesIn(www).isEmpty()) << routeFilesIn(www).join(u' ').toStdString();
    }
};

TEST_F(ArchiveSite, OneArchiveBringsTheSiteThenOnlyChangesGoAndLeftoversAreDeleted) {
    // What a killed program left behind goes with the next upload.
    const QString left = UnpackPrefix + QString(32, u'a') + QStringLiteral(".php");
    writeFile(www + u'/' + left, "<?php echo 1;");

    const UploadResult first = upload();
    EXPECT_EQ(first.route, UploadRoute::Archive);
    EXPECT_TRUE(first.fallback.isEmpty()) << first.fallback.toStdString();
    EXPECT_EQ(first.sent, first.considered);
    EXPECT_GE(first.archived, 40);
    EXPECT_TRUE(stages.contains(Stage::Unpacking));
    expectPublished();
    EXPECT_FALSE(QFileInfo::exists(www + u'/' + left));
    EXPECT_EQ(QFileInfo(www + QStringLiteral("/mf/other/f1.txt")).permissions() & 0x7777,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser |
                  QFile::ReadGroup | QFile::ReadOther);

    EXPECT_EQ(upload().sent, 0);

    writeFile(state.sitePath + QStringLiteral("/mf/other/f7.txt"), "changed");
    const UploadResult second = upload();
    EXPECT_EQ(second.sent, 1);
    EXPECT_EQ(second.route, UploadRoute::Files);  // too few files to pack
    expectPublished();
}

// The route fails in each of these ways; the same command sends everything file by file.
struct Fallback {
    const char* name;
    std::function<void(ArchiveSite&)> serve;
    const char* reason;
    bool remembered;
};

void PrintTo(const Fallback& row, std::ostream* os) {
    *os << row.name;
}

class ArchiveFallback : public ArchiveSite, public ::testing::WithParamInterface<Fallback> {};

TEST_P(ArchiveFallback, SendsEverythingFileByFileAndLeavesNothingBehind) {
    GetParam().serve(*this);
    const UploadResult r = upload();
    EXPECT_EQ(r.route, UploadRoute::Files);
    EXPECT_TRUE(r.fallback.contains(QString::fromUtf8(GetParam().reason)))
        << r.fallback.toStdString();
    EXPECT_EQ(r.sent, r.considered);
    expectPublished();
    EXPECT_EQ(archiveUnavailable(settings, state.siteName, state.ftpAccount).has_value(),
              GetParam().remembered);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ArchiveFallback,
    ::testing::Values(Fallback{"NotTheWebRoot",
                               [](ArchiveSite& s) { s.serveWithPhp(s.server.localPath("/")); },
                               "не найден по адресу", true},
                      Fallback{"NoPhp",
                               [](ArchiveSite& s) {
                                   auto files = std::make_unique<HttpFileServer>(s.www);
                                   s.state.siteAddress = files->address() + u'/';
                                   s.web = std::move(files);
                               },
                               "не выполняет PHP", true},
                      Fallback{"AnswerNotJson",
                               [](ArchiveSite& s) {
                                   // Answers every request, the script's too, with half an answer.
                                   const QString router = s.www + QStringLiteral("/router.php");
                                   writeFile(router,
                                             "<?php echo '{\"zorodUnpack\": 1, \"files\": [';");
                                   s.serveWithPhp(s.www, PhpUser, router);
                               },
                               "не то, что ждали", false},
                      Fallback{"PhpRunsAsAnotherUser",
                               [](ArchiveSite& s) {
                                   auto apache = std::make_unique<ApacheServer>(s.www);
                                   ASSERT_TRUE(apache->started());
                                   s.state.siteAddress =
                                       QStringLiteral("http://127.0.0.1:%1/").arg(apache->port());
                                   s.web = std::move(apache);
                               },
                               "от имени другого пользователя", true}),
    [](const auto& info) { return std::string(info.param.name); });

// Cancel at each stage of the route: the command ends cancelled and nothing of the route stays.
class ArchiveCancel : public ArchiveSite, public ::testing::WithParamInterface<Stage> {};

TEST_P(ArchiveCancel, LeavesNeitherFile) {
    bool cancel = false;
    ftp.Pump = [&] {
        if (cancel) {
            throw Cancelled();
        }
    };
    PublishJob job{state, settings, ftp, [&](Stage s, int, int, const QString&, qint64) {
                       cancel = cancel || s == GetParam();
                   }};
    job.http = &http;
    EXPECT_THROW(uploadChangedFiles(job), Cancelled);
    // The script may still be finishing its run; once done, nothing of the route is left.
    EXPECT_TRUE(QTest::qWaitFor([&] { return routeFilesIn(www).isEmpty(); }, 10000))
        << routeFilesIn(www).join(u' ').toStdString();
    EXPECT_TRUE(FileChangeCache(settings, state.siteName).names().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Stages, ArchiveCancel,
                         ::testing::Values(Stage::Packing, Stage::SendingArchive, Stage::Unpacking),
                         [](const auto& info) {
                             return std::string(info.param == Stage::Packing ? "Packing"
                                                : info.param == Stage::Unpacking
                                                    ? "Unpacking"
                                                    : "SendingArchive");
                         });

// One tar entry as a hostile archive might hold it: any name bytes (NULs too), any type.
QByteArray tarEntry(const QByteArray& name, char type, const QByteArray& data,
                    const QByteArray& link = {}) {
    QByteArray h(512, '\0');
    std::memcpy(h.data(), name.constData(),
                static_cast<size_t>(std::min<qsizetype>(name.size(), 100)));
    const auto put = [&h](int at, const QByteArray& text) {
        std::memcpy(h.data() + at, text.constData(), static_cast<size_t>(text.size()));
    };
    put(100, "0000644");
    put(108, "0000000");
    put(116, "0000000");
    put(124, QByteArray::number(data.size(), 8).rightJustified(11, '0'));
    put(136, "14000000000");
    put(148, "        ");
    h[156] = type;
    put(157, link);
    put(257, QByteArray("ustar\0"
                        "00",
                        8));
    int sum = 0;
    for (char c : h) {
        sum += static_cast<unsigned char>(c);
    }
    put(148, QByteArray::number(sum, 8).rightJustified(6, '0') + '\0');
    QByteArray padded = data;
    padded.resize((data.size() + 511) / 512 * 512, '\0');
    return h + padded;
}

struct Refusal {
    const char* name;
    QByteArray entryName;  // "OUT" stands for the folder beside the site's
    char type;
    enum { Right, None, Wrong } secret;
    bool old;
};

void PrintTo(const Refusal& row, std::ostream* os) {
    *os << row.name;
}

class ScriptRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(ScriptRefuses, WritesNothingOutsideAndDeletesBothFiles) {
    const Refusal& row = GetParam();
    QTemporaryDir top;
    const QString site = top.filePath(QStringLiteral("site"));
    const QString outside = top.filePath(QStringLiteral("out"));
    QDir().mkpath(site + QStringLiteral("/mf"));
    QDir().mkpath(outside);
    const passwd* user = ::getpwnam("ftp");
    ASSERT_NE(user, nullptr);
    for (const QString& folder : {site, site + QStringLiteral("/mf"), outside}) {
        ::chown(QFile::encodeName(folder).constData(), user->pw_uid, user->pw_gid);
    }

    QByteArray name = row.entryName;
    name.replace("OUT", QFile::encodeName(outside));
    const QByteArray secret = randomHex(32);
    const QString base = site + u'/' + UnpackPrefix + QString::fromLatin1(randomHex(16));
    writeFile(base + QStringLiteral(".php"), unpackScript(secret));
    writeFile(base + QStringLiteral(".tar"),
              tarEntry(name, row.type, "hostile", QFile::encodeName(outside) + "/linked") +
                  tarEntry("mf/kept.txt", '0', "kept") + QByteArray(1024, '\0'));
    for (const char* ext : {".php", ".tar"}) {
        ::chown(QFile::encodeName(base + QLatin1String(ext)).constData(), user->pw_uid,
                user->pw_gid);
    }
    if (row.old) {
        const utimbuf old{::time(nullptr) - 11 * 60, ::time(nullptr) - 11 * 60};
        ::utime(QFile::encodeName(base + QStringLiteral(".php")).constData(), &old);
    }

    PhpServer php(site, PhpUser);
    ASSERT_TRUE(php.started());
    CurlHttpClient http;
    QList<std::pair<QByteArray, QByteArray>> fields;
    if (row.secret != Refusal::None) {
        fields.append({"secret", row.secret == Refusal::Right ? secret : randomHex(32)});
    }
    const HttpPage page = http.Post(php.address() + QFileInfo(base).fileName() + ".php", fields,
                                    MaxUnpackAnswerBytes);
    const QJsonObject answer = QJsonDocument::fromJson(page.body).object();
    EXPECT_EQ(answer.value("zorodUnpack").toInt(), 1) << page.body.toStdString();

    EXPECT_TRUE(filesUnder(outside).isEmpty()) << filesUnder(outside).join(u' ').toStdString();
    EXPECT_FALSE(QFileInfo::exists(site + QStringLiteral("/mf/link.txt")));
    EXPECT_FALSE(QFileInfo::exists(site + QStringLiteral("/mf/a.txt")));
    // The good entry beside a bad one is written only when the request itself was good.
    const bool requestGood = row.secret == Refusal::Right && !row.old;
    EXPECT_EQ(QFileInfo::exists(site + QStringLiteral("/mf/kept.txt")), requestGood);
    EXPECT_EQ(filesUnder(site), requestGood ? QStringList{"mf/kept.txt"} : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ScriptRefuses,
    ::testing::Values(Refusal{"NoSecret", "mf/a.txt", '0', Refusal::None, false},
                      Refusal{"WrongSecret", "mf/a.txt", '0', Refusal::Wrong, false},
                      Refusal{"Parent", "../out/x.txt", '0', Refusal::Right, false},
                      Refusal{"Absolute", "OUT/x.txt", '0', Refusal::Right, false},
                      Refusal{"UpAndOut", "mf/../../out/x.txt", '0', Refusal::Right, false},
                      Refusal{"Link", "mf/link.txt", '2', Refusal::Right, false},
                      Refusal{"HardLink", "mf/link.txt", '1', Refusal::Right, false},
                      Refusal{"NulInName", QByteArray("mf/a.txt\0/../../out/x.txt", 25), '0',
                              Refusal::Right, false},
                      Refusal{"OlderThanTenMinutes", "mf/a.txt", '0', Refusal::Right, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ArchiveUnavailable, HoldsForTheSameAccountThirtyDays) {
    TempRoot root;
    SettingsStore settings(root.settingsPath());
    const FtpAccount account{"ftp.example.org", "u", "p", "/"};
    FtpAccount other = account;
    other.userName = "v";
    const QDateTime found = QDateTime::fromString("2026-01-01T00:00:00Z", Qt::ISODate);
    rememberArchiveUnavailable(settings, "a", account, "why", found);
    EXPECT_EQ(archiveUnavailable(settings, "a", account, found.addDays(29)), "why");
    EXPECT_FALSE(archiveUnavailable(settings, "a", account, found.addDays(30)));
    EXPECT_FALSE(archiveUnavailable(settings, "a", other, found.addDays(1)));
}

}  // namespace
