// "Закачать изменённые файлы" with nothing changed, on a generated site of 10,000 files / 1 GiB
// spread over the nine folders, against a loopback vsftpd; compared in the same run with what
// the command cannot do without: md5sum over the same files plus one login and LIST by curl.
// Everything is in the page cache; both take turns in every round.
//
//   nochange_upload_bench [rounds = 5]
//
// Figures swing between runs on a shared machine; only the ratios of one run compare.
#include <sys/stat.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "platform/SettingsStore.h"
#include "publish/FtpClient.h"
#include "publish/SiteUpload.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"
#include "site/SiteWorkspace.h"
#include "support/FtpServers.h"

namespace {

using zor::bench::median;
using zor::bench::writeRandomFile;

using Clock = std::chrono::steady_clock;
constexpr qint64 SiteBytes = 1024LL * 1024 * 1024;
constexpr int Pages = 3000;

// Files of a small site grown large: pages, blocks, pictures, downloads and a few big recordings
// that bring the whole to 1 GiB. Returns the bytes written.
qint64 makeSite(const QString& site, QRandomGenerator& random) {
    qint64 bytes = 0;
    auto add = [&](const QString& name, qint64 size) {
        writeRandomFile(site + u'/' + name, size, random);
        bytes += size;
    };
    auto many = [&](const QString& pattern, int count, int minKiB, int maxKiB) {
        for (int i = 1; i <= count; ++i) {
            add(pattern.arg(i), random.bounded(minKiB * 1024, maxKiB * 1024 + 1));
        }
    };
    for (const char* name :
         {"index.php", "sitemap.xml", "robots.txt", ".htaccess", "favicon.ico"}) {
        add(QLatin1String(name), random.bounded(200, 20000));
    }
    many(QStringLiteral("mf/style%1.css"), 50, 1, 20);
    many(QStringLiteral("mf/img/photo%1.jpg"), 5000, 4, 120);
    many(QStringLiteral("mf/other/file%1.zip"), 1000, 1, 64);
    many(QStringLiteral("mf/pages/%1.tq"), Pages, 1, 16);
    many(QStringLiteral("etc/blocs/block%1.tq"), 900, 1, 8);
    many(QStringLiteral("etc/desing/part%1.png"), 30, 10, 90);
    const int recordings = 12;
    const qint64 each = (SiteBytes - bytes) / recordings;
    for (int i = 1; i <= recordings; ++i) {
        add(QStringLiteral("mf/music/song%1.mp3").arg(i), each);
    }
    return bytes;
}

void runTool(const QString& program, const QStringList& arguments, const QString& folder) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, arguments);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qFatal("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;

    QTemporaryDir work;
    const QString sitesRoot = work.path() + u'/';
    zor::site::createSite(sitesRoot, QStringLiteral("bench"));
    zor::OpenSiteState state;
    state.sitesRoot = sitesRoot;
    state.siteName = QStringLiteral("bench");
    state.sitePath = sitesRoot + state.siteName;
    std::printf("Preparing the site in %s...\n", qPrintable(state.sitePath));
    QRandomGenerator random(20240603);
    const qint64 bytes = makeSite(state.sitePath, random);
    state.siteTitle = QStringLiteral("Сайт");
    for (int n = 1; n <= Pages; ++n) {
        state.pageTitles[n] = QStringLiteral("Страница %1").arg(n);
        state.pageList.append(QStringLiteral("%1 - Страница %1").arg(n));
    }
    state.pageList.append(zor::NewItemEntry);
    state.pageIndexLoaded = true;
    zor::site::writeIndexFiles(state);
    zor::site::readPageTitleIndex(state);

    QStringList names;
    for (const zor::publish::SiteFile& f : zor::publish::uploadCandidates(state.sitePath)) {
        names.append(f.name.mid(1));
    }
    std::printf("%lld files, %.1f MiB\n", static_cast<long long>(names.size()),
                static_cast<double>(bytes) / (1024.0 * 1024.0));

    zor::test::VsftpdServer server;
    state.ftpAccount = {server.host(), server.user(), server.password(), server.writableFolder()};
    zor::SettingsStore settings(work.path() + QStringLiteral("/settings.db"));
    zor::publish::FtpClient ftp;
    ftp.Port = server.port();
    zor::publish::PublishJob job{state, settings, ftp, nullptr};

    auto start = Clock::now();
    zor::publish::UploadResult first = zor::publish::uploadChangedFiles(job);
    std::printf("first upload: %d files sent in %.1f s\n", first.sent,
                std::chrono::duration<double>(Clock::now() - start).count());
    if (first.sent != names.size()) {
        qFatal("the first upload sent %d of %lld files", first.sent,
               static_cast<long long>(names.size()));
    }

    const QString listing = QStringLiteral("ftp://%1:%2%3/")
                                .arg(server.host())
                                .arg(server.port())
                                .arg(server.writableFolder());
    const QStringList curlArguments{QStringLiteral("-sS"), QStringLiteral("-u"),
                                    server.user() + u':' + server.password(), listing};
    std::vector<double> ours, tools;
    for (int round = 1; round <= rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            // Rounds alternate which one goes first.
            const bool runOurs = (round + turn) % 2 == 0;
            start = Clock::now();
            if (runOurs) {
                const zor::publish::UploadResult r = zor::publish::uploadChangedFiles(job);
                if (r.sent != 0 || r.considered != names.size()) {
                    qFatal("a no-change upload sent %d files of %d", r.sent, r.considered);
                }
            } else {
                runTool(QStringLiteral("md5sum"), names, state.sitePath);
                runTool(QStringLiteral("curl"), curlArguments, state.sitePath);
            }
            const double s = std::chrono::duration<double>(Clock::now() - start).count();
            (runOurs ? ours : tools).push_back(s);
        }
        std::printf("round %d  no-change upload %.3f s   md5sum + curl login and LIST %.3f s\n",
                    round, ours.back(), tools.back());
        std::fflush(stdout);
    }
    std::printf(
        "\nMedians of %d rounds: no-change upload %.3f s, md5sum + curl %.3f s, "
        "ratio %.2f (goal <= 1.15)\n",
        rounds, median(ours), median(tools), median(ours) / median(tools));
    return 0;
}
