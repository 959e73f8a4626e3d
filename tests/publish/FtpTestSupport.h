#pragma once

#include <gtest/gtest.h>
#include <QByteArray>
#include <QDir>
#include <QRandomGenerator>
#include <cstring>

#include "publish/FtpClient.h"
#include "support/FtpServers.h"

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

// The text of the error of type E that `action` throws; fails the test when it throws none.
template <typename E, typename Action>
QString errorText(Action&& action) {
    try {
        action();
    } catch (const E& e) {
        return e.text();
    }
    ADD_FAILURE() << "no error";
    return {};
}

inline void pointAt(publish::FtpClient& client, const FtpServer& server) {
    client.Host = server.host();
    client.Port = server.port();
    client.Username = server.user();
    client.Password = server.password();
}

}  // namespace zor::test
