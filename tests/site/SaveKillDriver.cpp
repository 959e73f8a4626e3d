// Saves a site the way the program does, and can die by SIGKILL at a chosen point of the save.
//
//   zorod_save_driver SITES_ROOT SITE VERSION [KILL_AT]
//
// VERSION (0 or 1) picks one of two complete sets of contents: page titles and their number,
// page 1, and the design template. The driver saves page 1 as closing the editor does (the
// sitemap first), then the template as the design screen's "Сохранить" does (the index files,
// the ".htaccess" files and index.php with it). Without KILL_AT it prints how many kill points
// the save passed. With it, the save dies at that point: every write, sync, rename, close,
// unlink and creation of a file is one, and writes go out in small pieces (a short write each,
// as the kernel may give), so there are points inside every file as well as between them.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "design/TemplateCompiler.h"
#include "editor/EditorSave.h"
#include "site/OpenSiteState.h"
#include "site/PageIndex.h"
#include "support/TestEditorHost.h"

namespace {

long long points = 0;
long long killAt = 0;  // 0: never
bool saving = false;

void passPoint() {
    if (!saving) {
        return;
    }
    if (++points == killAt) {
        ::raise(SIGKILL);
    }
}

template <typename F>
F real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

constexpr size_t Piece = 128;

// The two versions differ in every file and in length.
QString pageText(int version) {
    QString text;
    for (int k = 0; k < 500 + version * 60; ++k) {
        text += QStringLiteral("<p>Версия %1, абзац %2: съешь же ещё этих мягких булок.</p>\r\n")
                    .arg(version)
                    .arg(k);
    }
    return text;
}

QString templateText(int version) {
    QString text = QStringLiteral("<html><head><title>{{title}}</title></head><body>\r\n");
    for (int k = 0; k < 400 + version * 50; ++k) {
        text +=
            QStringLiteral("<div class=\"v%1\">строка %2 шаблона</div>\r\n").arg(version).arg(k);
    }
    return text + QStringLiteral("{{bloc=menu}}\r\n{{content}}\r\n</body></html>\r\n");
}

}  // namespace

// The system calls a save makes, each a kill point. The core calls these names; the
// definitions here come first, and pass on to the C library's own.
#define KILL_POINT(result, name, parameters, arguments, ...)        \
    result name parameters __VA_ARGS__ {                            \
        static const auto next = real<result(*) parameters>(#name); \
        passPoint();                                                \
        return next arguments;                                      \
    }

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
    static const auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    passPoint();
    return next(fd, data, saving && size > Piece ? Piece : size);
}

KILL_POINT(int, fsync, (int fd), (fd))
KILL_POINT(int, close, (int fd), (fd))
KILL_POINT(int, rename, (const char* from, const char* to), (from, to), noexcept)
KILL_POINT(int, unlink, (const char* path), (path), noexcept)
KILL_POINT(int, mkostemp, (char* pattern, int flags), (pattern, flags))

}  // extern "C"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SITES_ROOT SITE VERSION [KILL_AT]\n", argv[0]);
        return 2;
    }
    const int version = std::atoi(argv[3]);
    killAt = argc > 4 ? std::atoll(argv[4]) : 0;

    zor::OpenSiteState state;
    state.sitesRoot = QString::fromLocal8Bit(argv[1]);
    state.siteName = QString::fromLocal8Bit(argv[2]);
    state.sitePath = state.sitesRoot + state.siteName;
    state.siteTitle = QStringLiteral("Сайт %1").arg(version);
    state.siteAddress = QStringLiteral("http://example.org/");
    state.sitemapEnabled = true;
    const int pages = 40 + version * 25;
    state.pageList.clear();
    for (int n = 1; n <= pages; ++n) {
        state.pageTitles[n] = QStringLiteral("Страница %1 версии %2").arg(n).arg(version);
        state.pageList.append(QStringLiteral("%1 - %2").arg(n).arg(state.pageTitles[n]));
    }
    state.pageList.append(zor::NewItemEntry);
    state.pageIndexLoaded = true;
    state.pageListRead = true;

    zor::test::TestEditorHost host(state);
    host.pageSelection = 0;
    try {
        saving = true;
        zor::editor::savePage(state, host, pageText(version), state.pageTitles[1]);
        zor::design::saveAndCompile(state, templateText(version));
        saving = false;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "save failed: %s\n", e.what());
        return 1;
    }
    std::printf("%lld\n", points);
    return 0;
}
