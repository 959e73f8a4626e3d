// The title index as read when a site opens, and the index files written from what was read.
#include "FuzzCheck.h"
#include "platform/Errors.h"
#include "platform/TextFile.h"
#include "site/PageIndex.h"

using namespace zor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > site::MaxIndexBytes) {
        return 0;  // the reader refuses larger files before parsing them
    }
    const QStringList lines = textfile::splitLines(textfile::fromCp1251(fuzz::bytesOf(data, size)));
    OpenSiteState state;
    try {
        site::applyPageTitleIndex(lines, state);
    } catch (const FileError&) {
        // Only too many pages is refused, and then nothing may be saved over the file.
        FUZZ_CHECK(lines.size() > site::MaxPages + 1);
        FUZZ_CHECK(!state.pageIndexLoaded && state.pageCount() == 0);
        return 0;
    }
    FUZZ_CHECK(state.pageIndexLoaded && state.pageListRead);
    FUZZ_CHECK(!state.pageList.isEmpty() && state.pageList.last() == NewItemEntry);
    const int count = state.pageCount();
    FUZZ_CHECK(count <= site::MaxPages && count <= lines.size());
    FUZZ_CHECK(!state.siteTitle.contains(u':'));

    // What the program writes back from it reads back as the same site: a save changes nothing.
    const QStringList written = site::titleIndexLines(state.siteTitle, state.pageTitles, count);
    FUZZ_CHECK(written.size() == count + 2 && written.first() == site::IndexHeader &&
               written.last() == site::EndMarker);
    const QByteArray bytes = textfile::toCp1251(textfile::joinLines(written));
    OpenSiteState again;
    site::applyPageTitleIndex(textfile::splitLines(textfile::fromCp1251(bytes)), again);
    FUZZ_CHECK(again.pageCount() == count);
    FUZZ_CHECK(again.siteTitle == (count > 0 ? state.siteTitle : QString()));
    FUZZ_CHECK(again.pageList == state.pageList);
    for (int n = 1; n <= count; ++n) {
        FUZZ_CHECK(again.pageTitles[n] == state.pageTitles[n]);
        // The compiled index.php finds a page by its four digits and prints from the sixth
        // character on; the file index it includes through must name the page's file.
        FUZZ_CHECK(written[n].startsWith(site::pageNumberText(n) + u' '));
    }
    const QStringList files = site::fileIndexLines(count);
    FUZZ_CHECK(files.size() == count + 2);
    for (int n = 1; n <= count; ++n) {
        const QString& line = files[n];
        // substr($buff, 5, strlen($buff) - 7) of the line with its CR LF.
        FUZZ_CHECK(line.mid(5, line.size() + 2 - 7) == QString::number(n) + QStringLiteral(".tq"));
    }
    return 0;
}
