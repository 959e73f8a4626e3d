// Publishing over a link that drops connections: a site of 500 small files (1-8 KiB) over three
// sessions, and one 64 MiB file over one, uploaded to a loopback vsftpd through
// bench/latency_relay.py with the given one-way delay. Each round uploads the small files once
// over an undisturbed link and once over one that breaks every 50th data connection, and the big
// file once over a link that cuts it once half way. Every file must arrive in one command; prints
// the times, their ratio and the bytes the big file took.
//
//   badlink_upload_bench [rounds = 3] [delay in ms = 30] [small files = 500] [MiB = 64]
//
// Goals: the broken run at most 1.3 times the undisturbed one; the big file at most 1.1 times its
// size in all.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "FtpTools.h"
#include "LatencyRelay.h"
#include "platform/SettingsStore.h"
#include "publish/FileChangeCache.h"
#include "publish/FtpClient.h"
#include "publish/SiteUpload.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"
#include "support/FtpServers.h"

namespace {

using zor::bench::LatencyRelay;
using zor::bench::median;
using Clock = std::chrono::steady_clock;

struct Site {
    zor::OpenSiteState state;
    qint64 files = 0, bytes = 0;
};

Site makeSite(const QString& root, const QString& name, int small, qint64 bigBytes,
              QRandomGenerator& random) {
    zor::site::createSite(root, name);
    Site s;
    s.state.sitesRoot = root;
    s.state.siteName = name;
    s.state.sitePath = root + name;
    zor::site::readPageTitleIndex(s.state);
    const QString folder = s.state.sitePath + QStringLiteral("/mf/other");
    QDir().mkpath(folder);
    for (int i = 0; i < small; ++i) {
        zor::bench::writeRandomFile(
            QStringLiteral("%1/f%2.bin").arg(folder).arg(i, 4, 10, QLatin1Char('0')),
            random.bounded(1024, 8 * 1024 + 1), random);
    }
    if (bigBytes > 0) {
        zor::bench::writeRandomFile(folder + QStringLiteral("/big.bin"), bigBytes, random);
    }
    // As every upload writes them first.
    zor::site::writeIndexFiles(s.state);
    for (const zor::publish::SiteFile& f : zor::publish::uploadCandidates(s.state.sitePath)) {
        ++s.files;
        s.bytes += QFileInfo(f.localPath).size();
    }
    return s;
}

// One upload of every file of `site` through `relay` into a new remote folder; the seconds it
// took. Every file must be there afterwards, whole.
double uploadAll(Site& site, zor::SettingsStore& settings, const zor::test::VsftpdServer& server,
                 const LatencyRelay& relay, int sessions, int run) {
    QString local;
    const QString remote = zor::bench::newRunFolder(server, run, local);
    zor::publish::FtpClient ftp;
    ftp.Port = relay.port();
    site.state.ftpAccount = {server.host(), server.user(), server.password(), remote};
    site.state.ftpAccount.encryption = zor::FtpEncryption::Off;
    site.state.ftpAccount.sessions = sessions;
    zor::publish::PublishJob job{site.state, settings, ftp, nullptr};
    const auto start = Clock::now();
    const zor::publish::UploadResult r = zor::publish::uploadAllFiles(job);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    qint64 files = 0, bytes = 0;
    for (QDirIterator it(local, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        it.next();
        ++files;
        bytes += it.fileInfo().size();
    }
    if (files != site.files || bytes != site.bytes || r.sent != site.files) {
        for (const zor::publish::SiteFile& f :
             zor::publish::uploadCandidates(site.state.sitePath)) {
            const qint64 there = QFileInfo(local + f.name).size();
            if (there != QFileInfo(f.localPath).size()) {
                std::fprintf(stderr, "%s: %lld bytes on the server of %lld\n", qPrintable(f.name),
                             static_cast<long long>(there),
                             static_cast<long long>(QFileInfo(f.localPath).size()));
            }
        }
        qFatal("run %d: %lld files, %lld bytes arrived of %lld, %lld", run,
               static_cast<long long>(files), static_cast<long long>(bytes),
               static_cast<long long>(site.files), static_cast<long long>(site.bytes));
    }
    QDir(local).removeRecursively();
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const int delay = argc > 2 ? std::atoi(argv[2]) : 30;
    const int smallCount = argc > 3 ? std::atoi(argv[3]) : 500;
    const qint64 bigBytes = (argc > 4 ? std::atoll(argv[4]) : 64) * 1024 * 1024;

    QTemporaryDir work;
    const QString root = work.path() + u'/';
    QRandomGenerator random(20261210);
    Site small = makeSite(root, QStringLiteral("small"), smallCount, 0, random);
    Site big = makeSite(root, QStringLiteral("big"), 0, bigBytes, random);
    zor::SettingsStore settings(work.filePath(QStringLiteral("settings.db")));

    zor::test::VsftpdServer server;
    LatencyRelay calm(server.port(), delay);
    LatencyRelay dropping(server.port(), delay, {QStringLiteral("--drop-data-every"), "50"});
    std::vector<double> calmSeconds, droppingSeconds, bigShare;
    int run = 0;
    for (int round = 1; round <= rounds; ++round) {
        const double c = uploadAll(small, settings, server, calm, 3, ++run);
        const double d = uploadAll(small, settings, server, dropping, 3, ++run);
        // A new relay each round: it cuts its first big transfer once.
        LatencyRelay cutting(server.port(), delay,
                             {QStringLiteral("--cut-once-at"), QString::number(bigBytes / 2)});
        cutting.takeBytesUp();
        const double b = uploadAll(big, settings, server, cutting, 1, ++run);
        const qint64 up = cutting.takeBytesUp();
        calmSeconds.push_back(c);
        droppingSeconds.push_back(d);
        bigShare.push_back(static_cast<double>(up) / static_cast<double>(big.bytes));
        std::printf(
            "%d ms  round %d  %lld files: undisturbed %.2f s, every 50th connection "
            "broken %.2f s (%.2f)  |  %lld MiB cut once: %.2f s, %.3f of its size sent\n",
            delay, round, static_cast<long long>(small.files), c, d, d / c,
            static_cast<long long>(bigBytes >> 20), b, bigShare.back());
        std::fflush(stdout);
    }
    std::printf("\nMedians of %d rounds at %d ms one way:\n", rounds, delay);
    std::printf("  small files: undisturbed %.2f s, broken %.2f s, ratio %.2f (goal <= 1.3)\n",
                median(calmSeconds), median(droppingSeconds),
                median(droppingSeconds) / median(calmSeconds));
    std::printf("  big file: %.3f of its size sent in all (goal <= 1.1)\n", median(bigShare));
    return 0;
}
