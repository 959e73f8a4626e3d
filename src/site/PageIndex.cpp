#include "site/PageIndex.h"

#include <QDir>
#include <QFileInfo>

#include "platform/Errors.h"
#include "platform/TextFile.h"

namespace zor::site {
namespace {

void checkPageCount(int pageCount) {
    if (pageCount > MaxPages) {
        throw ZorError(QStringLiteral("На сайте не может быть больше %1 страниц.").arg(MaxPages));
    }
}

// A line break inside a title would split its line in two: every later page would take the
// title of the one before it. The fields keep titles on one line; this is the last guard.
void checkOneLine(const QString& text, const QString& whose) {
    if (text.contains(u'\r') || text.contains(u'\n')) {
        throw ZorError(QStringLiteral("%1 содержит перевод строки, поэтому указатель страниц "
                                      "\u00ABetc/head.txt\u00BB не записан. Уберите перевод "
                                      "строки и сохраните снова.")
                           .arg(whose));
    }
}

}  // namespace

QStringList titleIndexLines(const QString& siteTitle, const TextTable& titles, int pageCount) {
    checkPageCount(pageCount);
    checkOneLine(siteTitle, QStringLiteral("Имя сайта"));
    QStringList lines{IndexHeader};
    for (int n = 1; n <= pageCount; ++n) {
        checkOneLine(titles[n], QStringLiteral("Заголовок страницы %1").arg(n));
        lines.append(pageNumberText(n) + u' ' + siteTitle + QStringLiteral(" : ") + titles[n]);
    }
    lines.append(EndMarker);
    return lines;
}

QStringList fileIndexLines(int pageCount) {
    checkPageCount(pageCount);
    QStringList lines{IndexHeader};
    for (int n = 1; n <= pageCount; ++n) {
        lines.append(pageNumberText(n) + u' ' + QString::number(n) + QStringLiteral(".tq"));
    }
    lines.append(EndMarker);
    return lines;
}

void writePageTitleIndex(const QString& sitePath, const QString& siteTitle, const TextTable& titles,
                         int pageCount) {
    textfile::writeLines(titleIndexPath(sitePath), titleIndexLines(siteTitle, titles, pageCount));
}

void writePageFileIndex(const QString& sitePath, int pageCount) {
    textfile::writeLines(fileIndexPath(sitePath), fileIndexLines(pageCount));
}

void writeIndexFiles(const OpenSiteState& state) {
    if (!state.pageIndexLoaded) {
        return;
    }
    const QString etc = QFileInfo(titleIndexPath(state.sitePath)).absolutePath();
    if (!QFileInfo(etc).isDir()) {
        // A folder that never had an index (one the user made, say) is no site to save into.
        if (!state.pageListRead) {
            return;
        }
        // The index was read from there: what was typed since must not vanish without a word.
        throw FileError(QStringLiteral("Папки \u00AB%1\u00BB больше нет (её переместили, удалили "
                                       "или отключили диск), поэтому имя сайта и заголовки "
                                       "страниц сохранить некуда. Верните папку на место и "
                                       "сохраните снова.")
                            .arg(etc));
    }
    // Every save and every upload comes here; a file that already says the same is left alone
    // rather than synced to the disk again.
    auto write = [](const QString& path, const QStringList& lines) {
        const QByteArray bytes = textfile::toCp1251(textfile::joinLines(lines));
        try {
            if (QFileInfo(path).size() == bytes.size() &&
                textfile::readBytes(path, bytes.size()) == bytes) {
                return;
            }
        } catch (const FileError&) {
            // Unreadable as it stands: replaced below.
        }
        textfile::writeBytes(path, bytes);
    };
    write(titleIndexPath(state.sitePath),
          titleIndexLines(state.siteTitle, state.pageTitles, state.pageCount()));
    write(fileIndexPath(state.sitePath), fileIndexLines(state.pageCount()));
}

QString titleOfLine(const QString& line) {
    qsizetype colon = line.indexOf(u':');
    return colon < 0 ? line.mid(1) : line.mid(colon + 2);
}

QString siteTitleOfLine(const QString& line) {
    // A page line is "0001 Site : Page": the four-digit page number and a space (five
    // characters), the site title, then " : ". The site title ends before the space in front of
    // the first colon.
    constexpr qsizetype titleStart = 5;
    const qsizetype colon = line.indexOf(u':');
    const qsizetype length = colon - 1 - titleStart;
    if (colon < 0 || length <= 0) {
        return {};
    }
    return line.mid(titleStart, length);
}

void applyPageTitleIndex(const QStringList& lines, OpenSiteState& state) {
    // Lines after the header; the last is normally the end marker. A file this program did not
    // write may lack it: then its last line is a page too and must not be dropped.
    const int after = static_cast<int>(lines.size()) - 1;
    const bool endsWithMarker = after >= 1 && lines.last() == EndMarker;
    const int pageLines = endsWithMarker ? after - 1 : std::max(after, 0);
    if (pageLines > MaxPages) {
        state.pageList = QStringList{NewItemEntry};
        state.pageIndexLoaded = false;
        throw FileError(QStringLiteral("В указателе страниц %1 строк страниц, а сайт может иметь "
                                       "не больше %2 страниц. Список страниц не загружен, "
                                       "указатель не будет перезаписан.")
                            .arg(pageLines)
                            .arg(MaxPages));
    }

    QStringList list;
    if (!lines.isEmpty()) {
        state.titleLines[1] = lines.first();
    }
    // The header line is no page line: a site title read from it would be nonsense.
    state.siteTitle = pageLines >= 1 ? siteTitleOfLine(lines[1]) : QString();
    for (int k = 1; k <= pageLines; ++k) {
        const QString& line = lines[k];
        state.titleLines[k] = line;
        if (line != EndMarker) {
            state.pageTitles[k] = titleOfLine(line);
        }
        list.append(QString::number(k) + QStringLiteral(" - ") + state.pageTitles[k]);
    }
    list.append(NewItemEntry);
    state.pageList = list;
    state.pageIndexLoaded = true;
    state.pageListRead = true;
}

void readPageTitleIndex(OpenSiteState& state) {
    const QString path = titleIndexPath(state.sitePath);
    state.pageList = QStringList{NewItemEntry};
    // A missing index loses nothing when the next save creates it; one that exists but cannot
    // be read must not be overwritten with an empty list.
    state.pageIndexLoaded = !QFileInfo::exists(path) && !QFileInfo(path).isSymLink();
    state.pageListRead = false;
    state.siteTitle.clear();
    applyPageTitleIndex(textfile::readLines(path, MaxIndexBytes), state);
}

}  // namespace zor::site
