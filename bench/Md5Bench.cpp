// MD5 throughput of the upload's file digests (FileDigester: OpenSSL EVP fed by 1 MiB read()
// calls) against md5sum, on one big file and on many small files, all in the page cache. Both
// take turns in every round and their digests are compared.
//
//   md5_bench [rounds = 5] [big file MiB = 1024] [small files = 2000]
//
// Figures swing between runs on a shared machine; only the ratios of one run compare.
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
#include "publish/FileDigest.h"

namespace {

using zor::bench::median;
using zor::bench::writeRandomFile;

using Clock = std::chrono::steady_clock;

// md5sum over the files, in one process; the digests in the files' order.
QStringList md5sum(const QString& folder, const QStringList& names) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral("md5sum"), names);
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        qFatal("md5sum failed: %s", p.readAllStandardError().constData());
    }
    QStringList digests;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty()) {
            digests.append(QString::fromLatin1(line.left(32)));
        }
    }
    return digests;
}

QStringList ours(zor::publish::FileDigester& digester, const QString& folder,
                 const QStringList& names) {
    QStringList digests;
    for (const QString& name : names) {
        digests.append(digester.digest(folder + u'/' + name));
    }
    return digests;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const qint64 bigMiB = argc > 2 ? std::atoll(argv[2]) : 1024;
    const int smallCount = argc > 3 ? std::atoi(argv[3]) : 2000;

    QTemporaryDir work;
    QRandomGenerator random(20240602);
    std::printf("Preparing a %lld MiB file and %d small files in %s...\n", bigMiB, smallCount,
                qPrintable(work.path()));
    const QString folder = work.path();
    writeRandomFile(folder + QStringLiteral("/big.bin"), bigMiB * 1024 * 1024, random);
    QStringList small;
    qint64 smallBytes = 0;
    for (int i = 0; i < smallCount; ++i) {
        const qint64 size = random.bounded(1024, 32 * 1024 + 1);
        small.append(QStringLiteral("s%1.bin").arg(i, 4, 10, QLatin1Char('0')));
        writeRandomFile(folder + u'/' + small.last(), size, random);
        smallBytes += size;
    }
    const QStringList big{QStringLiteral("big.bin")};

    zor::publish::FileDigester digester;
    // Warm the page cache and check that both agree.
    if (md5sum(folder, big) != ours(digester, folder, big) ||
        md5sum(folder, small) != ours(digester, folder, small)) {
        qFatal("the digests differ from md5sum's");
    }

    std::vector<double> bigOurs, bigTool, smallOurs, smallTool;
    const double bigMB = static_cast<double>(bigMiB) * 1024 * 1024 / 1e6;
    for (int round = 1; round <= rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            // Rounds alternate which one goes first.
            const bool runOurs = (round + turn) % 2 == 0;
            for (const QStringList* names : {&big, static_cast<const QStringList*>(&small)}) {
                const auto start = Clock::now();
                if (runOurs) {
                    ours(digester, folder, *names);
                } else {
                    md5sum(folder, *names);
                }
                const double s = std::chrono::duration<double>(Clock::now() - start).count();
                if (names == &big) {
                    (runOurs ? bigOurs : bigTool).push_back(bigMB / s);
                } else {
                    (runOurs ? smallOurs : smallTool).push_back(smallCount / s);
                }
            }
        }
        std::printf(
            "round %d  big: FileDigester %6.0f MB/s, md5sum %6.0f MB/s   small: "
            "FileDigester %6.0f files/s, md5sum %6.0f files/s\n",
            round, bigOurs.back(), bigTool.back(), smallOurs.back(), smallTool.back());
        std::fflush(stdout);
    }
    std::printf("\nMedians of %d rounds (%d small files, %.1f MiB in all):\n", rounds, smallCount,
                static_cast<double>(smallBytes) / (1024.0 * 1024.0));
    std::printf(
        "  big file:    FileDigester %6.0f MB/s, md5sum %6.0f MB/s, ratio %.2f (goal >= 1.0)\n",
        median(bigOurs), median(bigTool), median(bigOurs) / median(bigTool));
    std::printf(
        "  small files: FileDigester %6.0f files/s, md5sum %6.0f files/s, ratio %.2f "
        "(goal >= 1.0)\n",
        median(smallOurs), median(smallTool), median(smallOurs) / median(smallTool));
    return 0;
}
