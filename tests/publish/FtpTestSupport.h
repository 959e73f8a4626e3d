#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QByteArray>
#include <QDir>
#include <QRandomGenerator>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "publish/FtpClient.h"
#include "support/FtpServers.h"
#include "support/SshServer.h"

namespace zor::test {

// Open file descriptors of this process; equal before and after means nothing leaked.
inline qsizetype openDescriptors() {
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

inline QByteArray randomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; i += 4) {
        const quint32 word = generator.generate();
        std::memcpy(bytes.data() + i, &word, static_cast<size_t>(std::min<qsizetype>(4, size - i)));
    }
    return bytes;
}

// EXPECT_THAT(action, throwsFtpError(550, text)): the action throws an FtpError with that
// reply code and a text (UTF-8) that matches `text`, a string or a matcher of one.
template <typename TextMatcher>
auto throwsFtpError(int replyCode, TextMatcher text) {
    using namespace ::testing;
    return Throws<publish::FtpError>(
        AllOf(ResultOf([](const publish::FtpError& e) { return e.replyCode(); }, replyCode),
              ResultOf([](const publish::FtpError& e) { return std::string(e.what()); },
                       Matcher<const std::string&>(text))));
}

// A text that equals the client's last reply when the matcher runs, after the action.
inline auto lastReplyOf(const publish::FtpClient& client) {
    return ::testing::Truly([&client](const std::string& text) {
        return text == client.LastReply().text().toStdString();
    });
}

// The real servers the same checks run against: one test of each for every kind, plain and
// with TLS required.
// Sftp: OpenSSH's sshd, for the cases every protocol shares.
enum class ServerKind { Vsftpd, Pyftpdlib, VsftpdTls, PyftpdlibTls, Sftp };

inline bool isTls(ServerKind kind) {
    return kind == ServerKind::VsftpdTls || kind == ServerKind::PyftpdlibTls;
}

inline std::string serverKindName(ServerKind kind) {
    const char* names[] = {"vsftpd", "pyftpdlib", "vsftpd_tls", "pyftpdlib_tls", "sftp"};
    return names[static_cast<int>(kind)];
}

// A TLS server's certificate comes from an authority the test trusts while this lives.
struct TlsRun {
    TestCertificates certificates;
    TrustedAuthorities trusted{certificates.authorityFile()};
};

inline std::unique_ptr<FtpServer> startServer(ServerKind kind, std::optional<TlsRun>& tls) {
    if (kind == ServerKind::Sftp) {
        return std::make_unique<SshServer>();
    }
    std::optional<ServerTls> serverTls;
    if (isTls(kind)) {
        tls.emplace();
        serverTls = tls->certificates.signedFor(QStringLiteral("IP:127.0.0.1,DNS:localhost"));
    }
    if (kind == ServerKind::Vsftpd || kind == ServerKind::VsftpdTls) {
        return std::make_unique<VsftpdServer>(0, serverTls);
    }
    return std::make_unique<PyftpdlibServer>(QStringList(), serverTls);
}

#define ZOROD_INSTANTIATE_FOR_REAL_SERVERS(suite)                                                \
    INSTANTIATE_TEST_SUITE_P(Servers, suite,                                                     \
                             ::testing::Values(ServerKind::Vsftpd, ServerKind::Pyftpdlib,        \
                                               ServerKind::VsftpdTls, ServerKind::PyftpdlibTls), \
                             [](const auto& info) { return serverKindName(info.param); })

inline void pointAt(publish::FtpClient& client, const FtpServer& server) {
    client.Host = server.host();
    client.Port = server.port();
    client.Username = server.user();
    client.Password = server.password();
}

}  // namespace zor::test
