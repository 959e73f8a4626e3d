// Publishing to a distant server: 500 small files (1-8 KiB) and one 64 MiB file uploaded to a
// loopback vsftpd through bench/latency_relay.py, which delays every byte each way by the given
// one-way delay. Our client (the site upload over 3 sessions and over 1, and over 1 the way it
// worked before small files went out ahead of the start reply), lftp "mirror -R" (plain and
// with --parallel=3) and curl take turns in every round; prints files/s, MiB/s and the ratios.
//
//   latency_upload_bench [rounds = 3] [delays in ms = 0,10,30] [small files = 500] [MiB = 64]
//                        [protocols = ftp,sftp]
//
// Then the same over SFTP to a loopback sshd through the same relay: our client (over 3
// sessions and over 1) against lftp's "sftp://" mirror with --parallel=3 and against scp.
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
#include "platform/SettingsStore.h"
#include "publish/FtpClient.h"
#include "publish/SftpClient.h"
#include "publish/SiteUpload.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"
#include "support/FtpServers.h"
#include "support/SshServer.h"

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

Uploader lftp(int parallel) {
    return [parallel](Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
        const Count& c = big ? b.big : b.small;
        zor::bench::lftpMirror(at, big ? b.bigFolder : b.smallFolder, remote, parallel);
        return c.files;
    };
}

Uploader oursOverSsh(int sessions, const QString& fingerprint) {
    return
        [sessions, fingerprint](Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
            zor::publish::SftpClient sftp;
            sftp.Port = at.port;
            sftp.TrustedFingerprint = fingerprint;
            if (big) {
                sftp.Host = at.host;
                sftp.Username = at.user;
                sftp.Password = at.password;
                sftp.OpenSession();
                const QString name = QDir(b.bigFolder).entryList(QDir::Files).value(0);
                sftp.UploadFile(b.bigFolder + u'/' + name, remote + u'/' + name);
                sftp.CloseSession();
                return 1;
            }
            b.state.ftpAccount = {at.host, at.user, at.password, remote};
            b.state.ftpAccount.protocol = zor::RemoteProtocol::Sftp;
            b.state.ftpAccount.trustedCertificate = fingerprint;
            b.state.ftpAccount.sessions = sessions;
            zor::publish::PublishJob job{b.state, *b.settings, sftp, nullptr};
            return zor::publish::uploadAllFiles(job).sent;
        };
}

const QString NoHostKeyCheck =
    QStringLiteral("-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR");

int lftpOverSsh(Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
    zor::bench::runTool(
        QStringLiteral("lftp"),
        {QStringLiteral("-u"), at.user + u',' + at.password, QStringLiteral("-p"),
         QString::number(at.port), QStringLiteral("-e"),
         QStringLiteral("set sftp:auto-confirm yes; set sftp:connect-program \"ssh -a -x %1\"; "
                        "mirror -R --no-perms --parallel=3 %2 %3; quit")
             .arg(NoHostKeyCheck, big ? b.bigFolder : b.smallFolder, remote),
         QStringLiteral("sftp://") + at.host});
    return (big ? b.big : b.small).files;
}

Uploader scp(const QString& keyFile) {
    return [keyFile](Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
        const QString folder = big ? b.bigFolder : b.smallFolder;
        QStringList arguments{QStringLiteral("-q"), QStringLiteral("-B"),
                              QStringLiteral("-i"), keyFile,
                              QStringLiteral("-P"), QString::number(at.port)};
        arguments += NoHostKeyCheck.split(u' ');
        for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name)) {
            arguments << folder + u'/' + name;
        }
        arguments << QStringLiteral("%1@%2:%3/").arg(at.user, at.host, remote);
        zor::bench::runTool(QStringLiteral("scp"), arguments);
        return (big ? b.big : b.small).files;
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

    const QStringList protocols =
        QString::fromLatin1(argc > 5 ? argv[5] : "ftp,sftp").split(u',', Qt::SkipEmptyParts);
    using Tools = std::vector<std::pair<std::string, Uploader>>;
    using Table = std::map<int, std::map<std::string, std::vector<double>>>;
    int run = 0;
    // [delay][tool]: files/s and MiB/s of each round.
    const auto measureAll = [&](const zor::test::FtpServer& server, const Tools& tools,
                                Table& filesPerSecond, Table& mibPerSecond, bool plain) {
        for (int delay : delays) {
            const Relay relay(server.port(), delay,
                              plain ? QStringList{QStringLiteral("--plain")} : QStringList());
            const FtpEndpoint at{server.host(), relay.port(), server.user(), server.password()};
            for (int round = 1; round <= rounds; ++round) {
                for (size_t turn = 0; turn < tools.size(); ++turn) {
                    // Each round starts with another tool, so no tool always follows the same one.
                    const auto& [name, upload] =
                        tools[(turn + static_cast<size_t>(round) - 1) % tools.size()];
                    for (const bool big : {false, true}) {
                        // The others send the small files only; the site upload sends the
                        // site's own few files besides, and its figure counts them.
                        QString onServer;
                        const QString remote = zor::bench::newRunFolder(server, ++run, onServer);
                        const auto start = Clock::now();
                        const int sent = upload(b, at, big, remote);
                        const double s =
                            std::chrono::duration<double>(Clock::now() - start).count();
                        const Count arrived = measure(onServer);
                        const Count& expected = big ? b.big : b.small;
                        if (arrived.files < expected.files || arrived.bytes < expected.bytes ||
                            sent < expected.files) {
                            qFatal("%s: %d files, %lld bytes arrived of %d, %lld", name.c_str(),
                                   arrived.files, static_cast<long long>(arrived.bytes),
                                   expected.files, static_cast<long long>(expected.bytes));
                        }
                        QDir(onServer).removeRecursively();
                        const double mib = static_cast<double>(arrived.bytes) / (1024.0 * 1024.0);
                        if (big) {
                            mibPerSecond[delay][name].push_back(mib / s);
                            std::printf(
                                "%2d ms  round %d  %-22s  %4lld MiB     %7.2f s  %7.1f MiB/s\n",
                                delay, round, name.c_str(), static_cast<long long>(bigMiB), s,
                                mib / s);
                        } else {
                            filesPerSecond[delay][name].push_back(sent / s);
                            std::printf(
                                "%2d ms  round %d  %-22s  %4d files   %7.2f s  %7.1f files/s\n",
                                delay, round, name.c_str(), sent, s, sent / s);
                        }
                        std::fflush(stdout);
                    }
                }
            }
        }
    };
    const auto printMedians = [&](const Tools& tools, Table& f, Table& m, int delay) {
        std::printf("%d ms one way:\n", delay);
        for (const auto& [name, upload] : tools) {
            std::printf("  %-22s  %7.1f files/s  %7.1f MiB/s\n", name.c_str(),
                        median(f[delay][name]), median(m[delay][name]));
        }
    };

    if (protocols.contains(QStringLiteral("ftp"))) {
        zor::test::VsftpdServer server;
        const Tools tools{{"ZOR OD x3", ours(3, true)},         {"ZOR OD x1", ours(1, true)},
                          {"ZOR OD x1 before", ours(1, false)}, {"lftp", lftp(1)},
                          {"lftp --parallel=3", lftp(3)},       {"curl", curl}};
        Table filesPerSecond, mibPerSecond;
        measureAll(server, tools, filesPerSecond, mibPerSecond, false);
        std::printf("\nFTP, medians of %d rounds:\n", rounds);
        for (int delay : delays) {
            printMedians(tools, filesPerSecond, mibPerSecond, delay);
            auto& f = filesPerSecond[delay];
            auto& m = mibPerSecond[delay];
            const double x3 = median(f["ZOR OD x3"]);
            std::printf(
                "  small files: x3 / lftp %.2f (goal at 30 ms >= 2.5), x3 / lftp --parallel=3 "
                "%.2f (goal at 30 ms >= 1.3), x3 / before %.2f, x1 / before %.2f "
                "(goal at 0 ms >= 0.95)\n",
                x3 / median(f["lftp"]), x3 / median(f["lftp --parallel=3"]),
                x3 / median(f["ZOR OD x1 before"]),
                median(f["ZOR OD x1"]) / median(f["ZOR OD x1 before"]));
            std::printf("  big file: ours / curl %.2f (goal at 30 ms >= 0.9)\n",
                        median(m["ZOR OD x1"]) / median(m["curl"]));
        }
    }
    if (protocols.contains(QStringLiteral("sftp"))) {
        zor::test::SshServer server;
        const Tools tools{{"ZOR OD sftp x3", oursOverSsh(3, server.hostFingerprint())},
                          {"ZOR OD sftp x1", oursOverSsh(1, server.hostFingerprint())},
                          {"lftp sftp --parallel=3", lftpOverSsh},
                          {"scp", scp(server.keyFile())}};
        Table filesPerSecond, mibPerSecond;
        measureAll(server, tools, filesPerSecond, mibPerSecond, true);
        std::printf("\nSFTP, medians of %d rounds:\n", rounds);
        for (int delay : delays) {
            printMedians(tools, filesPerSecond, mibPerSecond, delay);
            auto& f = filesPerSecond[delay];
            auto& m = mibPerSecond[delay];
            std::printf("  small files: x3 / lftp sftp --parallel=3 %.2f (goal at 30 ms >= 1.5)\n",
                        median(f["ZOR OD sftp x3"]) / median(f["lftp sftp --parallel=3"]));
            std::printf("  big file: ours / scp %.2f (goal at 30 ms >= 0.9)\n",
                        median(m["ZOR OD sftp x1"]) / median(m["scp"]));
        }
    }
    return 0;
}
