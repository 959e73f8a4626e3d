// The address of a 227 reply.
#include <QList>

#include "FuzzCheck.h"
#include "platform/TextFile.h"
#include "publish/FtpProtocol.h"

using namespace zor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString line = textfile::fromCp1251(fuzz::bytesOf(data, size));
    const auto address = publish::parsePassiveReply(line);
    if (!address) {
        return 0;
    }
    // A dotted IPv4 address of four numbers up to 255 and a port that is not 0.
    FUZZ_CHECK(address->port != 0);
    const QStringList parts = address->host.split(u'.');
    FUZZ_CHECK(parts.size() == 4);
    QStringList numbers;
    for (const QString& part : parts) {
        bool ok = false;
        const uint n = part.toUInt(&ok);
        FUZZ_CHECK(ok && n <= 255 && part == QString::number(n));
        numbers.append(part);
    }
    // The same address written as a server writes it reads back as itself.
    numbers << QString::number(address->port / 256) << QString::number(address->port % 256);
    const auto again = publish::parsePassiveReply(
        QStringLiteral("227 Entering Passive Mode (%1).").arg(numbers.join(u',')));
    FUZZ_CHECK(again && again->host == address->host && again->port == address->port);
    return 0;
}
