#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// bench/latency_relay.py in front of a server on loopback, stopped by its process id when it
// goes. `options` add a bad link ("--drop-data-every", "50", …).
namespace zor::bench {

class LatencyRelay {
public:
    LatencyRelay(int serverPort, int delayMs, const QStringList& options = {}) {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       QStringList{QStringLiteral(ZOROD_BENCH_DIR "/latency_relay.py"),
                                   QString::number(serverPort), QString::number(delayMs)} +
                           options);
        if (!process_.waitForStarted() || !process_.waitForReadyRead(10000)) {
            qFatal("the relay did not start");
        }
        const QByteArray line = process_.readLine().trimmed();
        if (!line.startsWith("PORT ")) {
            qFatal("the relay said %s", line.constData());
        }
        port_ = line.mid(5).toInt();
    }
    ~LatencyRelay() {
        process_.kill();
        process_.waitForFinished();
    }
    LatencyRelay(const LatencyRelay&) = delete;
    LatencyRelay& operator=(const LatencyRelay&) = delete;
    int port() const { return port_; }

    // The bytes that went up over the data connections that ended since the last call.
    qint64 takeBytesUp() {
        process_.waitForReadyRead(200);
        qint64 sum = 0;
        while (process_.canReadLine()) {
            const QByteArray line = process_.readLine().trimmed();
            if (line.startsWith("UP ")) {
                sum += line.mid(3).toLongLong();
            }
        }
        return sum;
    }

private:
    QProcess process_;
    int port_ = 0;
};

}  // namespace zor::bench
