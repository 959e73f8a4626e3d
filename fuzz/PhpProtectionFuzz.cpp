// PHP code kept out of the browser's reach: protecting a text and restoring it is the identity,
// and the browser is never handed an opening "<?".
#include "FuzzCheck.h"
#include "editor/PhpProtection.h"
#include "platform/TextFile.h"

using namespace zor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = textfile::fromCp1251(fuzz::bytesOf(data, size));
    editor::PhpProtection protection(text);
    const QString pushed = protection.protect(text);
    FUZZ_CHECK(protection.restore(pushed) == text);
    // Pushing again within the session (the editor does at every key) gives the same text.
    FUZZ_CHECK(protection.protect(text) == pushed);
    FUZZ_CHECK(protection.restore(protection.protect(text)) == text);
    FUZZ_CHECK(!pushed.contains(QStringLiteral("<?")));
    if (!text.contains(QStringLiteral("<?"))) {
        FUZZ_CHECK(pushed == text);
    }
    return 0;
}
