// Replies on the control connection, as they arrive: whole, or cut anywhere into two reads.
#include <vector>

#include "FuzzCheck.h"
#include "publish/FtpProtocol.h"

using namespace zor;

namespace {

struct Taken {
    int code;
    QStringList lines;
    bool operator==(const Taken&) const = default;
};

// Takes every complete reply off buffer.
void takeAll(QByteArray& buffer, std::vector<Taken>& replies) {
    for (;;) {
        const QByteArray before = buffer;
        const auto reply = publish::takeReply(buffer);
        if (!reply) {
            FUZZ_CHECK(buffer == before);  // an incomplete reply stays where it is
            return;
        }
        // Something was consumed, from the front only, and up to a line end.
        FUZZ_CHECK(buffer.size() < before.size() && before.endsWith(buffer));
        FUZZ_CHECK(before.at(before.size() - buffer.size() - 1) == '\n');
        FUZZ_CHECK(reply->code == 0 || (reply->code >= 0 && reply->code <= 999));
        FUZZ_CHECK(!reply->lines.isEmpty());
        for (const QString& line : reply->lines) {
            FUZZ_CHECK(!line.contains(u'\n'));
        }
        replies.push_back({reply->code, reply->lines});
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte says where the second read begins.
    const size_t cut = 1 + data[0] * (size - 1) / 256;
    const QByteArray all(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    QByteArray whole = all;
    std::vector<Taken> atOnce;
    takeAll(whole, atOnce);

    QByteArray parts = all.left(static_cast<qsizetype>(cut - 1));
    std::vector<Taken> inTwo;
    takeAll(parts, inTwo);
    parts += all.mid(static_cast<qsizetype>(cut - 1));
    takeAll(parts, inTwo);

    FUZZ_CHECK(inTwo == atOnce);
    FUZZ_CHECK(parts == whole);
    return 0;
}
