#pragma once

#include <QFile>
#include <QRandomGenerator>
#include <QString>
#include <algorithm>
#include <vector>

// What the benchmarks share: files of random bytes and the median of a run's rounds.
namespace zor::bench {

inline void writeRandomFile(const QString& path, qint64 size, QRandomGenerator& random) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        qFatal("cannot write %s", qPrintable(path));
    }
    // No bigger than the file, so ten thousand small files cost no more than their bytes.
    const qint64 chunkSize = std::min<qint64>(size, 4 * 1024 * 1024);
    QByteArray chunk(static_cast<qsizetype>((chunkSize + 3) / 4 * 4), Qt::Uninitialized);
    for (qint64 left = size; left > 0;) {
        const qsizetype n = static_cast<qsizetype>(std::min<qint64>(left, chunkSize));
        random.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
        f.write(chunk.constData(), n);
        left -= n;
    }
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0) {
        return 0.0;  // a tool left out of the run
    }
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace zor::bench
