// Publishing to a distant server: 500 small files (1-8 KiB) and one 64 MiB file uploaded to a
// loopback vsftpd through bench/latency_relay.py, which delays every byte each way by the given
// one-way delay. Our client (the site upload over 3 sessions and over 1, and over 1 the way it
// worked before small files went out ahead of the start reply; and the site upload by one
// archive, unpacked by `php -S` over the server's folder, its HTTP through a relay of the same
// delay), lftp "mirror -R" (plain and with --parallel=3) and curl take turns in every round;
// prints files/s, MiB/s and the ratios.
//
//   latency_upload_bench [rounds = 3] [delays in ms = 0,10,30] [small files = 500] [MiB = 64]
//                        [tools = all, or some of the names below joined by ","]
//
// Figures swing between runs on a shared machine; only the ratios of one run compare.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "FtpTools.h"
#include "LatencyRelay.h"
#include "platform/Http.h"
#include "platform/SettingsStore.h"
#include "publish/FtpClient.h"
#include "publish/SiteUpload.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"
#include "support/FtpServers.h"
#include "support/Http.h"

namespace {

using zor::bench::FtpEndpoint;
using zor::bench::median;
using zor::bench::writeRandomFile;
using Clock = std::chrono::steady_clock;

using Relay = zor::bench::LatencyRelay;

struct Count {
    int files = 0;
    qint64 bytes = 0;
};

Count measure(const QString& folder) {
    Count c;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        it.next();
        ++c.files;
        c.bytes += it.fileInfo().size();
    }
    return c;
}

struct Bench {
    zor::OpenSiteState state;
    zor::SettingsStore* settings = nullptr;
    QString smallFolder;  // the 500 files, inside the site
    QString bigFolder;    // the one big file
    Count site, small, big;
};

// One way of uploading: the files of `what` ("small" or "big") into the remote folder `remote`
// through the relay's port. Returns the files sent.
using Uploader = std::function<int(Bench&, const FtpEndpoint&, bool big, const QString& remote)>;

Uploader ours(int sessions, bool early) {
    return [sessions, early](Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
        zor::publish::FtpClient ftp;
        ftp.Port = at.port;
        ftp.SendBeforeStartReply = early;
        if (big) {
            ftp.Host = at.host;
            ftp.Username = at.user;
            ftp.Password = at.password;
            ftp.OpenSession();
            const QString name = QDir(b.bigFolder).entryList(QDir::Files).value(0);
            ftp.UploadFile(b.bigFolder + u'/' + name, remote + u'/' + name);
            ftp.CloseSession();
            return 1;
        }
        b.state.ftpAccount = {at.host, at.user, at.password, remote};
        b.state.ftpAccount.encryption = zor::publish::FtpEncryption::Off;
        b.state.ftpAccount.sessions = sessions;
        zor::publish::PublishJob job{b.state, *b.settings, ftp, nullptr};
        return zor::publish::uploadAllFiles(job).sent;
    };
}

// The port of the relay in front of the site's PHP, for the delay of the running round.
struct Web {
    int port = 0;
};

// The site upload by one archive; the big file goes as ours(3) sends it.
Uploader oursByArchive(const Web& web) {
    return [&web](Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
        if (big) {
            return ours(3, true)(b, at, big, remote);
        }
        zor::publish::FtpClient ftp;
        ftp.Port = at.port;
        b.state.ftpAccount = {at.host, at.user, at.password, remote};
        b.state.ftpAccount.encryption = zor::publish::FtpEncryption::Off;
        b.state.ftpAccount.sessions = 3;
        // PHP serves the server's writable folder "/www".
        b.state.siteAddress =
            QStringLiteral("http://127.0.0.1:%1%2/").arg(web.port).arg(remote.mid(4));
        zor::CurlHttpClient http;
        zor::publish::PublishJob job{b.state, *b.settings, ftp, nullptr};
        job.http = &http;
        const zor::publish::UploadResult r = zor::publish::uploadAllFiles(job);
        if (r.route != zor::publish::UploadRoute::Archive || !r.fallback.isEmpty()) {
            qFatal("the archive did not do: %s", qPrintable(r.fallback));
        }
        return r.sent;
    };
}

Uploader lftp(int parallel) {
    return [parallel](Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
        const Count& c = big ? b.big : b.small;
        zor::bench::lftpMirror(at, big ? b.bigFolder : b.smallFolder, remote, parallel);
        return c.files;
    };
}

int curl(Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
    zor::bench::curlUpload(at, big ? b.bigFolder : b.smallFolder, remote);
    return (big ? b.big : b.small).files;
}

std::vector<int> parseDelays(const char* text) {
    std::vector<int> delays;
    for (const QString& d : QString::fromLatin1(text).split(u',', Qt::SkipEmptyParts)) {
        delays.push_back(d.toInt());
    }
    return delays;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const std::vector<int> delays = parseDelays(argc > 2 ? argv[2] : "0,10,30");
    const int smallCount = argc > 3 ? std::atoi(argv[3]) : 500;
    const qint64 bigMiB = argc > 4 ? std::atoll(argv[4]) : 64;

    QTemporaryDir work;
    const QString sitesRoot = work.path() + u'/';
    zor::site::createSite(sitesRoot, QStringLiteral("bench"));
    Bench b;
    b.state.sitesRoot = sitesRoot;
    b.state.siteName = QStringLiteral("bench");
    b.state.sitePath = sitesRoot + b.state.siteName;
    zor::site::readPageTitleIndex(b.state);
    b.smallFolder = b.state.sitePath + QStringLiteral("/mf/other");
    b.bigFolder = work.filePath(QStringLiteral("big"));
    QDir().mkpath(b.smallFolder);
    QDir().mkpath(b.bigFolder);
    QRandomGenerator random(20261210);
    for (int i = 0; i < smallCount; ++i) {
        writeRandomFile(
            QStringLiteral("%1/f%2.bin").arg(b.smallFolder).arg(i, 4, 10, QLatin1Char('0')),
            random.bounded(1024, 8 * 1024 + 1), random);
    }
    writeRandomFile(b.bigFolder + QStringLiteral("/big.bin"), bigMiB * 1024 * 1024, random);
    b.small = measure(b.smallFolder);
    b.big = measure(b.bigFolder);
    zor::SettingsStore settings(work.filePath(QStringLiteral("settings.db")));
    b.settings = &settings;

    zor::test::VsftpdServer server;
    // As the FTP account's user, whose files the archive's script may then write over.
    zor::test::PhpServer php(server.localPath(QStringLiteral("/www")), QStringLiteral("ftp"));
    if (!php.started()) {
        qFatal("php -S did not start");
    }
    Web web;
    const std::vector<std::pair<std::string, Uploader>> allTools{
        {"ZOR OD x3", ours(3, true)},
        {"ZOR OD x1", ours(1, true)},
        {"ZOR OD x1 before", ours(1, false)},
        {"ZOR OD archive", oursByArchive(web)},
        {"lftp", lftp(1)},
        {"lftp --parallel=3", lftp(3)},
        {"curl", curl}};
    const QStringList chosen =
        argc > 5 ? QString::fromLocal8Bit(argv[5]).split(u',', Qt::SkipEmptyParts) : QStringList();
    std::vector<std::pair<std::string, Uploader>> tools;
    for (const auto& tool : allTools) {
        if (chosen.isEmpty() || chosen.contains(QString::fromStdString(tool.first))) {
            tools.push_back(tool);
        }
    }
    // [delay][tool]: files/s and MiB/s of each round.
    std::map<int, std::map<std::string, std::vector<double>>> filesPerSecond, mibPerSecond;
    int run = 0;
    for (int delay : delays) {
        const Relay relay(server.port(), delay);
        const Relay webRelay(php.port(), delay);
        web.port = webRelay.port();
        const FtpEndpoint at{server.host(), relay.port(), server.user(), server.password()};
        for (int round = 1; round <= rounds; ++round) {
            for (size_t turn = 0; turn < tools.size(); ++turn) {
                // Each round starts with another tool, so no tool always follows the same one.
                const auto& [name, upload] =
                    tools[(turn + static_cast<size_t>(round) - 1) % tools.size()];
                for (const bool big : {false, true}) {
                    // lftp and curl send the small files only; the site upload sends the
                    // site's own few files besides, and its figure counts them.
                    QString onServer;
                    const QString remote = zor::bench::newRunFolder(server, ++run, onServer);
                    const auto start = Clock::now();
                    const int sent = upload(b, at, big, remote);
                    const double s = std::chrono::duration<double>(Clock::now() - start).count();
                    const Count arrived = measure(onServer);
                    const Count& expected = big ? b.big : b.small;
                    if (arrived.files < expected.files || arrived.bytes < expected.bytes ||
                        sent < expected.files) {
                        qFatal("%s: %d files, %lld bytes arrived of %d, %lld", name.c_str(),
                               arrived.files, static_cast<long long>(arrived.bytes), expected.files,
                               static_cast<long long>(expected.bytes));
                    }
                    QDir(onServer).removeRecursively();
                    const double mib = static_cast<double>(arrived.bytes) / (1024.0 * 1024.0);
                    if (big) {
                        mibPerSecond[delay][name].push_back(mib / s);
                        std::printf("%2d ms  round %d  %-18s  %4lld MiB     %7.2f s  %7.1f MiB/s\n",
                                    delay, round, name.c_str(), static_cast<long long>(bigMiB), s,
                                    mib / s);
                    } else {
                        filesPerSecond[delay][name].push_back(sent / s);
                        std::printf("%2d ms  round %d  %-18s  %4d files   %7.2f s  %7.1f files/s\n",
                                    delay, round, name.c_str(), sent, s, sent / s);
                    }
                    std::fflush(stdout);
                }
            }
        }
    }

    std::printf("\nMedians of %d rounds:\n", rounds);
    for (int delay : delays) {
        auto& f = filesPerSecond[delay];
        auto& m = mibPerSecond[delay];
        std::printf("%d ms one way:\n", delay);
        for (const auto& [name, upload] : tools) {
            std::printf("  %-18s  %7.1f files/s  %7.1f MiB/s\n", name.c_str(), median(f[name]),
                        median(m[name]));
        }
        const double x3 = median(f["ZOR OD x3"]);
        std::printf(
            "  small files: x3 / lftp %.2f (goal at 30 ms >= 2.5), x3 / lftp --parallel=3 "
            "%.2f (goal at 30 ms >= 1.3), x3 / before %.2f, x1 / before %.2f "
            "(goal at 0 ms >= 0.95)\n",
            x3 / median(f["lftp"]), x3 / median(f["lftp --parallel=3"]),
            x3 / median(f["ZOR OD x1 before"]),
            median(f["ZOR OD x1"]) / median(f["ZOR OD x1 before"]));
        const double archive = median(f["ZOR OD archive"]);
        std::printf(
            "  by archive: / lftp --parallel=3 %.2f (goal at 30 ms >= 10), / x3 %.2f (goal at "
            "30 ms >= 5, at 0 ms >= 0.9)\n",
            archive / median(f["lftp --parallel=3"]), archive / x3);
        std::printf("  big file: ours / curl %.2f (goal at 30 ms >= 0.9)\n",
                    median(m["ZOR OD x1"]) / median(m["curl"]));
    }
    return 0;
}
