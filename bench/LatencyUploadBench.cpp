// Publishing to a distant server: 500 small files (1-8 KiB) and one 64 MiB file uploaded to a
// loopback vsftpd through bench/latency_relay.py, which delays every byte each way by the given
// one-way delay. Our client (the site upload over 3 sessions and over 1, and over 1 the way it
// worked before small files went out ahead of the start reply; and the site upload by one
// archive, unpacked by `php -S` over the server's folder, its HTTP through a relay of the same
// delay), lftp "mirror -R" (plain and with --parallel=3) and curl take turns in every round;
// prints files/s, MiB/s and the ratios.
//
// Over FTPS the relay cannot read the PASV replies: a vsftpd requiring TLS (with session reuse)
// announces 127.0.0.2 and a range of passive ports, and the relay carries that address's control
// port and the whole range to 127.0.0.1. Our site upload over 3 sessions, lftp with three
// connections and curl (the big file) take turns there, beside our plain upload over 3 sessions.
// The FTPS relay's log (ZOROD_RELAY_LOG=file) counts the round trips a file takes.
//
// Over SFTP a loopback sshd sits behind the relay passing its bytes as they are: our site
// upload over 3 sessions and the big file over 1 against lftp's "sftp://" mirror with
// --parallel=3 and against scp.
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
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "FtpTools.h"
#include "LatencyRelay.h"
#include "platform/Http.h"
#include "platform/SettingsStore.h"
#include "publish/FtpClient.h"
#include "publish/SftpClient.h"
#include "publish/SiteUpload.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"
#include "support/FtpServers.h"
#include "support/Http.h"
#include "support/SshServer.h"

namespace {

using zor::bench::FtpEndpoint;
using zor::bench::median;
using zor::bench::writeRandomFile;
using Clock = std::chrono::steady_clock;

using Relay = zor::bench::LatencyRelay;

// Where the FTPS relay listens: another loopback address, so it can take the server's own port
// numbers.
const QString RelayAddress = QStringLiteral("127.0.0.2");

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
    // What each server's first sessions learned of it, kept as a site keeps it.
    std::map<int, zor::ServerHabits> habits;  // by port
};

// One way of uploading: the files of `what` ("small" or "big") into the remote folder `remote`
// through the relay's port. Returns the files sent.
using Uploader = std::function<int(Bench&, const FtpEndpoint&, bool big, const QString& remote)>;

// The one big file over one session of `client`, set up but for the account.
int uploadBig(zor::publish::RemoteClient& client, const Bench& b, const FtpEndpoint& at,
              const QString& remote) {
    client.Host = at.host;
    client.Username = at.user;
    client.Password = at.password;
    client.OpenSession();
    const QString name = QDir(b.bigFolder).entryList(QDir::Files).value(0);
    client.UploadFile(b.bigFolder + u'/' + name, remote + u'/' + name);
    client.CloseSession();
    return 1;
}

// With a fingerprint, over FTPS, trusting that certificate.
Uploader ours(int sessions, bool early, const QString* fingerprint = nullptr) {
    return [sessions, early, fingerprint](Bench& b, const FtpEndpoint& at, bool big,
                                          const QString& remote) {
        const auto encryption =
            fingerprint ? zor::publish::FtpEncryption::Required : zor::publish::FtpEncryption::Off;
        zor::publish::FtpClient ftp;
        ftp.Port = at.port;
        ftp.SendBeforeStartReply = early;
        if (big) {
            ftp.Encryption = encryption;
            ftp.TrustedFingerprint = fingerprint ? *fingerprint : QString();
            ftp.Habits = b.habits[at.port];
            uploadBig(ftp, b, at, remote);
            b.habits[at.port] = ftp.Habits;
            return 1;
        }
        b.state.ftpAccount = {at.host, at.user, at.password, remote};
        b.state.ftpAccount.encryption = encryption;
        b.state.ftpAccount.trustedCertificate = fingerprint ? *fingerprint : QString();
        b.state.ftpAccount.sessions = sessions;
        b.state.ftpAccount.habits = b.habits[at.port];
        zor::publish::PublishJob job{b.state, *b.settings, ftp, nullptr};
        const int sent = zor::publish::uploadAllFiles(job).sent;
        b.habits[at.port] = ftp.Habits;
        return sent;
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
        b.state.ftpAccount.habits = b.habits[at.port];
        // PHP serves the server's writable folder "/www".
        b.state.siteAddress =
            QStringLiteral("http://127.0.0.1:%1%2/").arg(web.port).arg(remote.mid(4));
        zor::CurlHttpClient http;
        zor::publish::PublishJob job{b.state, *b.settings, ftp, nullptr};
        job.http = &http;
        const zor::publish::UploadResult r = zor::publish::uploadAllFiles(job);
        b.habits[at.port] = ftp.Habits;
        b.state.siteAddress.clear();
        if (r.route != zor::publish::UploadRoute::Archive || !r.fallback.isEmpty()) {
            qFatal("the archive did not do: %s", qPrintable(r.fallback));
        }
        return r.sent;
    };
}

Uploader lftp(int parallel, bool tls = false) {
    return [parallel, tls](Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
        const Count& c = big ? b.big : b.small;
        zor::bench::lftpMirror(at, big ? b.bigFolder : b.smallFolder, remote, parallel,
                               tls ? QStringLiteral("set ftp:ssl-force true; "
                                                    "set ftp:ssl-protect-data true; "
                                                    "set ssl:verify-certificate no;")
                                   : QStringLiteral("set ftp:ssl-allow no;"));
        return c.files;
    };
}

Uploader curl(bool tls = false) {
    return [tls](Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
        // Over TLS 1.3 curl offers data connections a session vsftpd does not take for the
        // control connection's now and then; over TLS 1.2 it keeps to it.
        const QStringList extra =
            tls ? QStringList{QStringLiteral("--ssl-reqd"), QStringLiteral("-k"),
                              QStringLiteral("--tls-max"), QStringLiteral("1.2")}
                : QStringList{};
        zor::bench::curlUpload(at, big ? b.bigFolder : b.smallFolder, remote, extra);
        return (big ? b.big : b.small).files;
    };
}

// The loopback sshd, started only when an SFTP tool runs.
using SshServerRef = std::unique_ptr<zor::test::SshServer>;

Uploader oursOverSsh(int sessions, const SshServerRef& server) {
    return [sessions, &server](Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
        const QString fingerprint = server->hostFingerprint();
        zor::publish::SftpClient sftp;
        sftp.Port = at.port;
        sftp.TrustedFingerprint = fingerprint;
        sftp.KnownHostsFile.clear();
        if (big) {
            return uploadBig(sftp, b, at, remote);
        }
        b.state.ftpAccount = {at.host, at.user, at.password, remote};
        b.state.ftpAccount.protocol = zor::RemoteProtocol::Sftp;
        b.state.ftpAccount.trustedCertificate = fingerprint;
        b.state.ftpAccount.sessions = sessions;
        zor::publish::PublishJob job{b.state, *b.settings, sftp, nullptr};
        return zor::publish::uploadAllFiles(job).sent;
    };
}

const QStringList NoHostKeyCheck{
    QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=no"),
    QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=/dev/null"),
    QStringLiteral("-o"), QStringLiteral("LogLevel=ERROR")};

int lftpOverSsh(Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
    zor::bench::runTool(
        QStringLiteral("lftp"),
        {QStringLiteral("-u"), at.user + u',' + at.password, QStringLiteral("-p"),
         QString::number(at.port), QStringLiteral("-e"),
         QStringLiteral("set sftp:auto-confirm yes; set sftp:connect-program \"ssh -a -x %1\"; "
                        "mirror -R --no-perms --parallel=3 %2 %3; quit")
             .arg(NoHostKeyCheck.join(u' '), big ? b.bigFolder : b.smallFolder, remote),
         QStringLiteral("sftp://") + at.host});
    return (big ? b.big : b.small).files;
}

Uploader scp(const SshServerRef& server) {
    return [&server](Bench& b, const FtpEndpoint& at, bool big, const QString& remote) {
        const QString keyFile = server->keyFile();
        const QString folder = big ? b.bigFolder : b.smallFolder;
        QStringList arguments{QStringLiteral("-q"), QStringLiteral("-B"),
                              QStringLiteral("-i"), keyFile,
                              QStringLiteral("-P"), QString::number(at.port)};
        arguments += NoHostKeyCheck;
        for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name)) {
            arguments << folder + u'/' + name;
        }
        arguments << QStringLiteral("%1@%2:%3/").arg(at.user, at.host, remote);
        zor::bench::runTool(QStringLiteral("scp"), arguments);
        return (big ? b.big : b.small).files;
    };
}

// The server a tool sends to.
enum class Endpoint { Plain, Tls, Ssh };

struct Tool {
    std::string name;
    Uploader upload;
    Endpoint endpoint = Endpoint::Plain;
    bool small = true, big = true;  // which of the two it sends
};

// A range of passive ports for the FTPS server, away from the ephemeral ports of the system.
zor::test::PassivePorts passivePorts() {
    const int low = 20000 + static_cast<int>(QRandomGenerator::global()->bounded(200)) * 50;
    return {RelayAddress, low, low + 49};
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

    zor::test::TestCertificates certificates;
    const zor::test::ServerTls tls = certificates.selfSigned(QStringLiteral("IP:127.0.0.2"));
    const QString fingerprint = zor::test::TestCertificates::fingerprint(tls.certificate);
    const zor::test::PassivePorts passive = passivePorts();
    zor::test::VsftpdServer server;
    zor::test::VsftpdServer tlsServer(0, tls, 0, passive);
    // As the FTP account's user, whose files the archive's script may then write over.
    zor::test::PhpServer php(server.localPath(QStringLiteral("/www")), QStringLiteral("ftp"));
    if (!php.started()) {
        qFatal("php -S did not start");
    }
    Web web;
    SshServerRef ssh;
    const std::vector<Tool> allTools{{"ZOR OD x3", ours(3, true)},
                                     {"ZOR OD x1", ours(1, true)},
                                     {"ZOR OD x1 before", ours(1, false)},
                                     {"ZOR OD archive", oursByArchive(web)},
                                     {"lftp", lftp(1)},
                                     {"lftp --parallel=3", lftp(3)},
                                     {"curl", curl()},
                                     {"ZOR OD x3 FTPS", ours(3, true, &fingerprint), Endpoint::Tls},
                                     {"lftp -P3 FTPS", lftp(3, true), Endpoint::Tls, true, false},
                                     {"curl FTPS", curl(true), Endpoint::Tls, false, true},
                                     {"ZOR OD x3 SFTP", oursOverSsh(3, ssh), Endpoint::Ssh},
                                     {"lftp -P3 SFTP", lftpOverSsh, Endpoint::Ssh},
                                     {"scp", scp(ssh), Endpoint::Ssh}};
    const QStringList chosen =
        argc > 5 ? QString::fromLocal8Bit(argv[5]).split(u',', Qt::SkipEmptyParts) : QStringList();
    std::vector<Tool> tools;
    for (const Tool& tool : allTools) {
        if (chosen.isEmpty() || chosen.contains(QString::fromStdString(tool.name))) {
            tools.push_back(tool);
        }
    }
    if (std::any_of(tools.begin(), tools.end(),
                    [](const Tool& t) { return t.endpoint == Endpoint::Ssh; })) {
        ssh = std::make_unique<zor::test::SshServer>();
    }
    const auto has = [&](const char* name) {
        return std::any_of(tools.begin(), tools.end(),
                           [&](const Tool& t) { return t.name == name; });
    };
    // [delay][tool]: files/s and MiB/s of each round.
    std::map<int, std::map<std::string, std::vector<double>>> filesPerSecond, mibPerSecond;
    int run = 0;
    const QByteArray relayLog = qgetenv("ZOROD_RELAY_LOG");
    for (int delay : delays) {
        const Relay relay(server.port(), delay);
        const Relay webRelay(php.port(), delay);
        web.port = webRelay.port();
        QStringList tlsOptions{QStringLiteral("--address"), RelayAddress, QStringLiteral("--ports"),
                               QStringLiteral("%1-%2").arg(passive.low).arg(passive.high)};
        if (!relayLog.isEmpty()) {
            tlsOptions
                << QStringLiteral("--log")
                << QStringLiteral("%1.%2ms").arg(QString::fromLocal8Bit(relayLog)).arg(delay);
        }
        const Relay tlsRelay(tlsServer.port(), delay, tlsOptions);
        std::unique_ptr<Relay> sshRelay;
        if (ssh) {
            sshRelay =
                std::make_unique<Relay>(ssh->port(), delay, QStringList{QStringLiteral("--plain")});
        }
        const FtpEndpoint plainAt{server.host(), relay.port(), server.user(), server.password()};
        const FtpEndpoint tlsAt{RelayAddress, tlsRelay.port(), tlsServer.user(),
                                tlsServer.password()};
        const FtpEndpoint sshAt =
            ssh ? FtpEndpoint{ssh->host(), sshRelay->port(), ssh->user(), ssh->password()}
                : FtpEndpoint{};
        for (int round = 1; round <= rounds; ++round) {
            for (size_t turn = 0; turn < tools.size(); ++turn) {
                // Each round starts with another tool, so no tool always follows the same one.
                const Tool& tool = tools[(turn + static_cast<size_t>(round) - 1) % tools.size()];
                const std::string& name = tool.name;
                const zor::test::FtpServer& to =
                    tool.endpoint == Endpoint::Tls   ? static_cast<zor::test::FtpServer&>(tlsServer)
                    : tool.endpoint == Endpoint::Ssh ? static_cast<zor::test::FtpServer&>(*ssh)
                                                     : server;
                const FtpEndpoint& at = tool.endpoint == Endpoint::Tls   ? tlsAt
                                        : tool.endpoint == Endpoint::Ssh ? sshAt
                                                                         : plainAt;
                for (const bool big : {false, true}) {
                    if (big ? !tool.big : !tool.small) {
                        continue;
                    }
                    // lftp and curl send the small files only; the site upload sends the
                    // site's own few files besides, and its figure counts them.
                    QString onServer;
                    const QString remote = zor::bench::newRunFolder(to, ++run, onServer);
                    const auto start = Clock::now();
                    const int sent = tool.upload(b, at, big, remote);
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
        for (const Tool& tool : tools) {
            std::printf("  %-18s  %7.1f files/s  %7.1f MiB/s\n", tool.name.c_str(),
                        median(f[tool.name]), median(m[tool.name]));
        }
        const double x3 = median(f["ZOR OD x3"]);
        if (has("lftp") && has("ZOR OD x1 before")) {
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
        if (has("ZOR OD archive")) {
            const double archive = median(f["ZOR OD archive"]);
            std::printf(
                "  by archive: / lftp --parallel=3 %.2f (goal at 30 ms >= 10), / x3 %.2f (goal at "
                "30 ms >= 5, at 0 ms >= 0.9)\n",
                archive / median(f["lftp --parallel=3"]), archive / x3);
        }
        if (has("ZOR OD x3 FTPS")) {
            const double tlsX3 = median(f["ZOR OD x3 FTPS"]);
            std::printf(
                "  FTPS small files: x3 / lftp -P3 FTPS %.2f (goal at 30 ms >= 1.3), x3 FTPS / "
                "x3 plain %.2f (goal at 30 ms >= 0.8); %.1f round trips a file a session\n",
                tlsX3 / median(f["lftp -P3 FTPS"]), tlsX3 / x3,
                delay > 0 ? 3.0 / tlsX3 / (2.0 * delay / 1000.0) : 0.0);
            std::printf("  FTPS big file: ours / curl %.2f (goal at 30 ms >= 0.9)\n",
                        median(m["ZOR OD x3 FTPS"]) / median(m["curl FTPS"]));
        }
        if (has("ZOR OD x3 SFTP")) {
            std::printf(
                "  SFTP small files: x3 / lftp -P3 SFTP %.2f (goal at 30 ms >= 1.5); big file: "
                "ours / scp %.2f (goal at 30 ms >= 0.9)\n",
                median(f["ZOR OD x3 SFTP"]) / median(f["lftp -P3 SFTP"]),
                median(m["ZOR OD x3 SFTP"]) / median(m["scp"]));
        }
    }
    return 0;
}
