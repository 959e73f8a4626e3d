// The name an extension's first line gives it in the editor's list.
#include "FuzzCheck.h"
#include "editor/ExtensionList.h"
#include "platform/TextFile.h"

using namespace zor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = textfile::fromCp1251(fuzz::bytesOf(data, size));
    const QStringList lines = textfile::splitLines(text);
    const QString first = lines.isEmpty() ? QString() : lines.first();
    const QString name = editor::extensionName(first);
    // From the 8th character up to the first "?>": it holds no "?>" and is followed by one.
    FUZZ_CHECK(!name.contains(QStringLiteral("?>")));
    if (!name.isEmpty()) {
        FUZZ_CHECK(first.mid(7, name.size()) == name);
        FUZZ_CHECK(first.indexOf(QStringLiteral("?>")) == 7 + name.size());
    }
    const QString entry = editor::extensionEntry(name, QStringLiteral("x.ex"));
    FUZZ_CHECK(entry == name + QStringLiteral(" [x.ex]"));
    return 0;
}
