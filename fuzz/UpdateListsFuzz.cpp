// What the update server sends: the version line of the notice and the catalogue lines.
#include <QDir>

#include "FuzzCheck.h"
#include "platform/TextFile.h"
#include "update/Updates.h"

using namespace zor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList lines = textfile::splitLines(textfile::fromCp1251(fuzz::bytesOf(data, size)));
    for (const QString& line : lines.mid(0, 64)) {
        // Any digit run reads as a number that is never negative, however long it is.
        const int number = update::readNumber(line);
        FUZZ_CHECK(number >= 0);
        FUZZ_CHECK(update::readNumber(line + QStringLiteral("9")) >= number);
        // The version rule reads both parts the same way: a larger major is always newer.
        const bool newer = update::isNewerVersion(line);
        const qsizetype dot = line.indexOf(u'.');
        if (dot >= 0 && update::readNumber(line.left(dot)) > update::ProgramMajor) {
            FUZZ_CHECK(newer);
        }
        if (dot >= 0 && update::readNumber(line.left(dot)) < update::ProgramMajor) {
            FUZZ_CHECK(!newer);
        }

        // The catalogue name: what stands before the character ahead of the first "|".
        const QString name = update::catalogueName(line);
        FUZZ_CHECK(!name.contains(u'|') && line.startsWith(name));
        if (update::isSafeExtensionName(name)) {
            // A name let through can only mean a file right inside the extension folder.
            const QString folder = QStringLiteral("/site/extentions");
            const QString path = QDir::cleanPath(folder + u'/' + name);
            FUZZ_CHECK(path.startsWith(folder + u'/') &&
                       !path.mid(folder.size() + 1).contains(u'/'));
            FUZZ_CHECK(!name.contains(u'\0') && !name.contains(u'\n'));
        }
    }
    return 0;
}
