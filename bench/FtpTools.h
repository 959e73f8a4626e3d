#pragma once

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "support/FtpServers.h"

// The usual command-line FTP tools, as the benchmarks run them against the same server as our
// client: lftp's "mirror -R" and one curl process for many files.
namespace zor::bench {

struct FtpEndpoint {
    QString host;
    int port = 21;
    QString user, password;
};

// A new folder "run<n>" under the server's writable folder, open to the server's own user (vsftpd
// writes as "ftp"): its remote name, and its local path in `local`.
inline QString newRunFolder(const test::FtpServer& server, int run, QString& local) {
    const QString remote = QStringLiteral("%1/run%2").arg(server.writableFolder()).arg(run);
    local = server.localPath(remote);
    QDir().mkpath(local);
    ::chmod(QFile::encodeName(local).constData(), 0777);
    return remote;
}

inline void runTool(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qFatal("%s failed: %s", qPrintable(program), p.readAll().constData());
    }
}

// The files of `localFolder` into the existing remote folder `remote`, over `parallel`
// connections. lftp neither sets times nor permissions (SITE UTIME, SITE CHMOD): like our
// client, it only transfers. `settings` go first (TLS, say); by default no TLS.
inline void lftpMirror(const FtpEndpoint& server, const QString& localFolder, const QString& remote,
                       int parallel = 1,
                       const QString& settings = QStringLiteral("set ftp:ssl-allow no;")) {
    const QString mirror = parallel > 1
                               ? QStringLiteral("mirror -R --no-perms --parallel=%1").arg(parallel)
                               : QStringLiteral("mirror -R --no-perms");
    runTool(QStringLiteral("lftp"),
            {QStringLiteral("-u"), server.user + u',' + server.password, QStringLiteral("-p"),
             QString::number(server.port), QStringLiteral("-e"),
             QStringLiteral("%1 set ftp:use-site-utime off; set ftp:use-site-utime2 off; "
                            "%2 %3 %4; quit")
                 .arg(settings, mirror, localFolder, remote),
             server.host});
}

// The files of `localFolder` into `remote`, all in one curl process, so it keeps its control
// connection. `extra`: further options (TLS, say).
inline void curlUpload(const FtpEndpoint& server, const QString& localFolder, const QString& remote,
                       const QStringList& extra = {}) {
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("curl.cfg"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly)) {
        qFatal("cannot write %s", qPrintable(config));
    }
    for (const QString& name : QDir(localFolder).entryList(QDir::Files, QDir::Name)) {
        f.write(QStringLiteral("url = \"ftp://%1:%2%3/%4\"\nupload-file = \"%5/%4\"\n")
                    .arg(server.host)
                    .arg(server.port)
                    .arg(remote, name, localFolder)
                    .toUtf8());
    }
    f.close();
    // Without --fail-early curl's exit code is only the last transfer's.
    runTool(QStringLiteral("curl"),
            QStringList{QStringLiteral("-sS"), QStringLiteral("--fail-early"), QStringLiteral("-u"),
                        server.user + u':' + server.password} +
                extra + QStringList{QStringLiteral("-K"), config});
}

}  // namespace zor::bench
