// Uploads many small files and one big file to a loopback vsftpd through FtpClient (also with
// the digest of what it sends, as the site upload does), lftp ("mirror -R", transfers only) and
// curl, taking turns in every round, and prints files/s, MiB/s and the ratios. It does so over
// plain FTP and over explicit TLS, on a second vsftpd that requires TLS for the login and every
// data connection, with session reuse, as the tests' TLS server does.
//
//   ftp_upload_bench [rounds = 3] [small files = 2000] [big file MiB = 512] [plain|tls|both]
//
// Figures swing between runs on a shared machine; only the ratios of one run compare.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include "BenchSupport.h"
#include "FtpTools.h"
#include "publish/FtpClient.h"
#include "support/FtpServers.h"

using zor::test::FtpServer;

namespace {

using zor::bench::median;
using zor::bench::writeRandomFile;

using Clock = std::chrono::steady_clock;

struct Tree {
    QString folder;
    int files = 0;
    qint64 bytes = 0;
};

Tree makeSmallFiles(const QString& folder, int count, QRandomGenerator& random) {
    QDir().mkpath(folder);
    Tree tree{folder};
    for (int i = 0; i < count; ++i) {
        const qint64 size = random.bounded(1024, 8 * 1024 + 1);
        writeRandomFile(QStringLiteral("%1/f%2.bin").arg(folder).arg(i, 4, 10, QLatin1Char('0')),
                        size, random);
        ++tree.files;
        tree.bytes += size;
    }
    return tree;
}

Tree measure(const QString& folder) {
    Tree tree{folder};
    for (QDirIterator it(folder, QDir::Files); it.hasNext();) {
        it.next();
        ++tree.files;
        tree.bytes += it.fileInfo().size();
    }
    return tree;
}

// A server and how to reach it: over TLS when it has a certificate, whose fingerprint the
// client trusts, as a user would after answering "Да, всегда для этого сайта".
struct Target {
    const FtpServer& server;
    QString fingerprint;  // empty: plain FTP
    bool tls() const { return !fingerprint.isEmpty(); }
};

// Each tool uploads the files of `local` into the remote folder `remote` (which exists).
using Uploader = std::function<void(const Target&, const Tree& local, const QString& remote)>;

// As the site upload sends: with the MD5 of the bytes sent, which it records.
void ftpClientUpload(const Target& target, const Tree& local, const QString& remote, bool digest) {
    zor::publish::FtpClient client;
    client.Host = target.server.host();
    client.Port = target.server.port();
    client.Username = target.server.user();
    client.Password = target.server.password();
    client.Encryption =
        target.tls() ? zor::publish::FtpEncryption::Required : zor::publish::FtpEncryption::Off;
    client.TrustedFingerprint = target.fingerprint;
    client.OpenSession();
    QString sent;
    for (const QString& name : QDir(local.folder).entryList(QDir::Files, QDir::Name)) {
        client.UploadFile(local.folder + u'/' + name, remote + u'/' + name,
                          digest ? &sent : nullptr);
    }
    client.CloseSession();
}

void withFtpClient(const Target& target, const Tree& local, const QString& remote) {
    ftpClientUpload(target, local, remote, false);
}

void withFtpClientMd5(const Target& target, const Tree& local, const QString& remote) {
    ftpClientUpload(target, local, remote, true);
}

zor::bench::FtpEndpoint endpoint(const Target& target) {
    const FtpServer& s = target.server;
    return {s.host(), s.port(), s.user(), s.password()};
}

void withLftp(const Target& target, const Tree& local, const QString& remote) {
    zor::bench::lftpMirror(endpoint(target), local.folder, remote, 1,
                           target.tls() ? QStringLiteral("set ftp:ssl-force true; "
                                                         "set ssl:verify-certificate no;")
                                        : QStringLiteral("set ftp:ssl-allow no;"));
}

void withCurl(const Target& target, const Tree& local, const QString& remote) {
    QStringList extra;
    if (target.tls()) {
        // Over TLS 1.3 curl offers data connections a session the server does not take for the
        // control connection's ("522 … session reuse required") now and then; over TLS 1.2 it
        // keeps to the control connection's session.
        extra << QStringLiteral("--ssl-reqd") << QStringLiteral("-k") << QStringLiteral("--tls-max")
              << QStringLiteral("1.2");
    }
    zor::bench::curlUpload(endpoint(target), local.folder, remote, extra);
}

const std::vector<std::pair<const char*, Uploader>> Tools{{"FtpClient", withFtpClient},
                                                          {"FtpClient+MD5", withFtpClientMd5},
                                                          {"lftp", withLftp},
                                                          {"curl", withCurl}};

// One server's figures: per tool, one value a round.
struct Figures {
    const char* title;
    Target target;
    std::map<std::string, std::vector<double>> filesPerSecond, mibPerSecond;
};

void report(const Figures& f, int rounds) {
    std::printf("\n%s, medians of %d rounds:\n", f.title, rounds);
    for (const auto& [name, upload] : Tools) {
        std::printf("  %-13s  %7.0f files/s  %7.0f MiB/s\n", name,
                    median(f.filesPerSecond.at(name)), median(f.mibPerSecond.at(name)));
    }
    std::vector<double> smallRatio, bigRatio;
    for (int i = 0; i < rounds; ++i) {
        smallRatio.push_back(f.filesPerSecond.at("FtpClient")[i] / f.filesPerSecond.at("lftp")[i]);
        bigRatio.push_back(f.mibPerSecond.at("FtpClient")[i] / f.mibPerSecond.at("curl")[i]);
    }
    std::printf("  Small files, FtpClient / lftp: %.2f (goal >= 1.10); per round:",
                median(smallRatio));
    for (double r : smallRatio) {
        std::printf(" %.2f", r);
    }
    std::printf("\n  Big file, FtpClient / curl:    %.2f (goal >= 0.90); per round:",
                median(bigRatio));
    for (double r : bigRatio) {
        std::printf(" %.2f", r);
    }
    std::printf("\n  For reference, FtpClient / curl on small files: %.2f\n",
                median(f.filesPerSecond.at("FtpClient")) / median(f.filesPerSecond.at("curl")));
    std::printf(
        "  With the digest of what is sent, as the site upload runs: small files / lftp "
        "%.2f, big file / curl %.2f\n",
        median(f.filesPerSecond.at("FtpClient+MD5")) / median(f.filesPerSecond.at("lftp")),
        median(f.mibPerSecond.at("FtpClient+MD5")) / median(f.mibPerSecond.at("curl")));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const int smallCount = argc > 2 ? std::atoi(argv[2]) : 2000;
    const qint64 bigMiB = argc > 3 ? std::atoll(argv[3]) : 512;

    QTemporaryDir work;
    QRandomGenerator random(20240601);
    std::printf("Preparing %d small files and a %lld MiB file...\n", smallCount, bigMiB);
    const Tree small = makeSmallFiles(work.filePath(QStringLiteral("small")), smallCount, random);
    QDir().mkpath(work.filePath(QStringLiteral("big")));
    writeRandomFile(work.filePath(QStringLiteral("big/big.bin")), bigMiB * 1024 * 1024, random);
    const Tree big = measure(work.filePath(QStringLiteral("big")));

    const QString mode = argc > 4 ? QString::fromLatin1(argv[4]) : QStringLiteral("both");
    if (mode != u"plain" && mode != u"tls" && mode != u"both") {
        qFatal("the mode is plain, tls or both, not %s", argv[4]);
    }
    std::vector<std::unique_ptr<zor::test::VsftpdServer>> servers;
    std::vector<Figures> figures;
    if (mode != u"tls") {
        servers.push_back(std::make_unique<zor::test::VsftpdServer>());
        figures.push_back({"Plain FTP", {*servers.back(), {}}, {}, {}});
    }
    zor::test::TestCertificates certificates;
    if (mode != u"plain") {
        const zor::test::ServerTls tls = certificates.selfSigned(QStringLiteral("IP:127.0.0.1"));
        servers.push_back(std::make_unique<zor::test::VsftpdServer>(0, tls));
        figures.push_back(
            {"FTP over TLS",
             {*servers.back(), zor::test::TestCertificates::fingerprint(tls.certificate)},
             {},
             {}});
    }

    int run = 0;
    for (int round = 1; round <= rounds; ++round) {
        for (Figures& f : figures) {
            const FtpServer& server = f.target.server;
            for (size_t turn = 0; turn < Tools.size(); ++turn) {
                // Each round starts with another tool, so no tool always follows the same one.
                const auto& [name, upload] =
                    Tools[(turn + static_cast<size_t>(round) - 1) % Tools.size()];
                for (const Tree* tree : {&small, &big}) {
                    QString onServer;
                    const QString remote = zor::bench::newRunFolder(server, ++run, onServer);

                    const auto start = Clock::now();
                    upload(f.target, *tree, remote);
                    const double seconds =
                        std::chrono::duration<double>(Clock::now() - start).count();

                    const Tree arrived = measure(onServer);
                    if (arrived.files != tree->files || arrived.bytes != tree->bytes) {
                        qFatal("%s: %d files, %lld bytes arrived of %d, %lld", name, arrived.files,
                               arrived.bytes, tree->files, tree->bytes);
                    }
                    QDir(onServer).removeRecursively();
                    const double mib = static_cast<double>(tree->bytes) / (1024.0 * 1024.0);
                    const char* over = f.target.tls() ? "TLS  " : "plain";
                    if (tree == &small) {
                        f.filesPerSecond[name].push_back(tree->files / seconds);
                        std::printf(
                            "round %d  %s  %-13s  %5d small files  %6.2f s  %7.0f files/s  "
                            "%6.1f MiB/s\n",
                            round, over, name, tree->files, seconds, tree->files / seconds,
                            mib / seconds);
                    } else {
                        f.mibPerSecond[name].push_back(mib / seconds);
                        std::printf(
                            "round %d  %s  %-13s  %5.0f MiB file     %6.2f s  %7.0f MiB/s\n", round,
                            over, name, mib, seconds, mib / seconds);
                    }
                    std::fflush(stdout);
                }
            }
        }
    }
    for (const Figures& f : figures) {
        report(f, rounds);
    }
    return 0;
}
