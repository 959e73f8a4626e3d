// LIST answers: the names the remote browser shows (and builds paths from), and the folder
// names the upload looks for.
#include "FuzzCheck.h"
#include "platform/TextFile.h"
#include "publish/RemoteBrowser.h"
#include "publish/SiteUpload.h"

using namespace zor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList lines = textfile::splitLines(textfile::fromCp1251(fuzz::bytesOf(data, size)));
    for (const QString& line : lines) {
        const auto name = publish::listingEntryName(line);
        // A name goes into a path after "/": one holding "/" would reach another folder.
        FUZZ_CHECK(!name || (!name->contains(u'/') && line.contains(*name)));
    }
    const publish::RemoteEntries entries = publish::sortListing(lines);
    FUZZ_CHECK(entries.folders.size() + entries.files.size() <= lines.size());
    for (const QString& folder : entries.folders) {
        FUZZ_CHECK(!folder.contains(u'.') && !folder.contains(u'/'));
    }
    for (const QString& file : entries.files) {
        FUZZ_CHECK(file.contains(u'.') && file != u"." && file != u".." && !file.contains(u'/'));
    }

    // Each name without "." after one blank; nothing else.
    const QString names = publish::listingFolderNames(lines);
    FUZZ_CHECK(names.isEmpty() || names.startsWith(u' '));
    FUZZ_CHECK(!names.contains(u'.'));
    return 0;
}
