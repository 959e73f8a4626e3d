// Uploads many small files and one big file to a loopback vsftpd through FtpClient (also with
// the digest of what it sends, as the site upload does), lftp ("mirror -R", transfers only) and
// curl, taking turns in every round, and prints files/s, MiB/s and the ratios.
//
//   ftp_upload_bench [rounds = 3] [small files = 2000] [big file MiB = 512]
//
// Figures swing between runs on a shared machine; only the ratios of one run compare.
#include <sys/stat.h>
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

#include "BenchSupport.h"
#include "FtpTools.h"
#include "publish/FtpClient.h"
#include "support/FtpServers.h"

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

// Each tool uploads the files of `local` into the remote folder `remote` (which exists).
using Uploader =
    std::function<void(const zor::test::FtpServer&, const Tree& local, const QString& remote)>;

// As the site upload sends: with the MD5 of the bytes sent, which it records.
void ftpClientUpload(const zor::test::FtpServer& server, const Tree& local, const QString& remote,
                     bool digest) {
    zor::publish::FtpClient client;
    client.Host = server.host();
    client.Port = server.port();
    client.Username = server.user();
    client.Password = server.password();
    client.OpenSession();
    QString sent;
    for (const QString& name : QDir(local.folder).entryList(QDir::Files, QDir::Name)) {
        client.UploadFile(local.folder + u'/' + name, remote + u'/' + name,
                          digest ? &sent : nullptr);
    }
    client.CloseSession();
}

void withFtpClient(const zor::test::FtpServer& server, const Tree& local, const QString& remote) {
    ftpClientUpload(server, local, remote, false);
}

void withFtpClientMd5(const zor::test::FtpServer& server, const Tree& local,
                      const QString& remote) {
    ftpClientUpload(server, local, remote, true);
}

zor::bench::FtpEndpoint endpoint(const zor::test::FtpServer& server) {
    return {server.host(), server.port(), server.user(), server.password()};
}

void withLftp(const zor::test::FtpServer& server, const Tree& local, const QString& remote) {
    zor::bench::lftpMirror(endpoint(server), local.folder, remote);
}

void withCurl(const zor::test::FtpServer& server, const Tree& local, const QString& remote) {
    zor::bench::curlUpload(endpoint(server), local.folder, remote);
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

    zor::test::VsftpdServer server;
    const std::vector<std::pair<const char*, Uploader>> tools{{"FtpClient", withFtpClient},
                                                              {"FtpClient+MD5", withFtpClientMd5},
                                                              {"lftp", withLftp},
                                                              {"curl", withCurl}};
    std::map<std::string, std::vector<double>> filesPerSecond, mibPerSecond;

    int run = 0;
    for (int round = 1; round <= rounds; ++round) {
        for (size_t turn = 0; turn < tools.size(); ++turn) {
            // Each round starts with another tool, so no tool always follows the same one.
            const auto& [name, upload] =
                tools[(turn + static_cast<size_t>(round) - 1) % tools.size()];
            for (const Tree* tree : {&small, &big}) {
                const QString remote =
                    QStringLiteral("%1/run%2").arg(server.writableFolder()).arg(++run);
                const QString onServer = server.localPath(remote);
                QDir().mkpath(onServer);
                ::chmod(QFile::encodeName(onServer).constData(), 0777);

                const auto start = Clock::now();
                upload(server, *tree, remote);
                const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

                const Tree arrived = measure(onServer);
                if (arrived.files != tree->files || arrived.bytes != tree->bytes) {
                    qFatal("%s: %d files, %lld bytes arrived of %d, %lld", name, arrived.files,
                           arrived.bytes, tree->files, tree->bytes);
                }
                QDir(onServer).removeRecursively();
                const double mib = static_cast<double>(tree->bytes) / (1024.0 * 1024.0);
                if (tree == &small) {
                    filesPerSecond[name].push_back(tree->files / seconds);
                    std::printf(
                        "round %d  %-13s  %5d small files  %6.2f s  %7.0f files/s  %6.1f MiB/s\n",
                        round, name, tree->files, seconds, tree->files / seconds, mib / seconds);
                } else {
                    mibPerSecond[name].push_back(mib / seconds);
                    std::printf("round %d  %-13s  %5.0f MiB file     %6.2f s  %7.0f MiB/s\n", round,
                                name, mib, seconds, mib / seconds);
                }
                std::fflush(stdout);
            }
        }
    }

    std::printf("\nMedians of %d rounds:\n", rounds);
    for (const auto& [name, upload] : tools) {
        std::printf("  %-13s  %7.0f files/s  %7.0f MiB/s\n", name, median(filesPerSecond[name]),
                    median(mibPerSecond[name]));
    }
    std::vector<double> smallRatio, bigRatio;
    for (int i = 0; i < rounds; ++i) {
        smallRatio.push_back(filesPerSecond["FtpClient"][i] / filesPerSecond["lftp"][i]);
        bigRatio.push_back(mibPerSecond["FtpClient"][i] / mibPerSecond["curl"][i]);
    }
    std::printf("Small files, FtpClient / lftp: %.2f (goal >= 1.10); per round:",
                median(smallRatio));
    for (double r : smallRatio) {
        std::printf(" %.2f", r);
    }
    std::printf("\nBig file, FtpClient / curl:    %.2f (goal >= 0.90); per round:",
                median(bigRatio));
    for (double r : bigRatio) {
        std::printf(" %.2f", r);
    }
    std::printf("\nFor reference, FtpClient / curl on small files: %.2f\n",
                median(filesPerSecond["FtpClient"]) / median(filesPerSecond["curl"]));
    std::printf(
        "With the digest of what is sent, as the site upload runs: small files / lftp "
        "%.2f, big file / curl %.2f\n",
        median(filesPerSecond["FtpClient+MD5"]) / median(filesPerSecond["lftp"]),
        median(mibPerSecond["FtpClient+MD5"]) / median(mibPerSecond["curl"]));
    return 0;
}
