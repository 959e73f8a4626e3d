// The answer of the upload's unpacking script, from whatever web server sits at the site's
// address: it confirms files only when it is the script's own answer.
#include "FuzzCheck.h"
#include "platform/Http.h"
#include "publish/ArchiveUpload.h"

using namespace zor;
using namespace zor::publish;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HttpPage page;
    page.status = 200;
    page.body = fuzz::bytesOf(data, size).toByteArray();
    const UnpackAnswer answer = readUnpackAnswer(page, QStringLiteral("http://example.org/x.php"));
    // A failure that is remembered is a failure; anything else the answer must say of itself.
    FUZZ_CHECK(!answer.remember || !answer.failure.isEmpty());
    if (!page.body.contains("{\"ok\":")) {
        FUZZ_CHECK(!answer.failure.isEmpty() && answer.written.isEmpty());
    }
    // The program's own PHP text coming back means PHP did not run, whatever else is there.
    if (page.body.contains("<?php")) {
        FUZZ_CHECK(answer.remember && answer.written.isEmpty());
    }
    return 0;
}
