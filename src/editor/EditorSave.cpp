#include "editor/EditorSave.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "editor/EditorDocument.h"
#include "editor/EditorHost.h"
#include "pages/Sitemap.h"
#include "platform/Errors.h"
#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "site/SiteWorkspace.h"

namespace zor::editor {
namespace {

// The text is written straight from the source view (the preview file holds the same text), so
// a preview file deleted from outside cannot lose the page; once the new file is in place the
// preview file has done its work.
void writeEdited(const OpenSiteState& state, const QString& path, const QString& sourceText) {
    textfile::writeText(path, fileText(sourceText));
    QFile::remove(site::previewFilePath(state.sitePath));
}

}  // namespace

EditorMode modeOfCaption(const QString& caption) {
    return caption.contains(BlockModeCaption) ? EditorMode::Block : EditorMode::Page;
}

QString pageCaptionSuffix(int pageNumber) {
    return QStringLiteral(" (?in=") + QString::number(pageNumber) + u')';
}

QString pageListEntry(int pageNumber, const QString& title) {
    return QString::number(pageNumber) + QStringLiteral(" - ") + title;
}

void savePage(OpenSiteState& state, EditorHost& host, const QString& sourceText,
              const QString& title) {
    pages::regenerateSitemap(state);
    const int n = host.pageListSelection() + 1;
    if (n < 1) {
        return;
    }
    if (n > state.pageTitles.capacity()) {
        throw ZorError(QStringLiteral("Страница %1 не может быть сохранена: сайт вмещает не более "
                                      "%2 страниц.")
                           .arg(n)
                           .arg(state.pageTitles.capacity()));
    }
    writeEdited(state, site::pageFilePath(state.sitePath, n), sourceText);
    state.pageTitles[n] = title;
    host.setPageListEntry(n - 1, pageListEntry(n, title));
}

bool isBlockName(const QString& name) {
    // "..." is the list's new-block entry; a control character would not show in the list.
    return !name.isEmpty() && name != u"." && name != u".." && name != NewItemEntry &&
           !name.contains(u'/') && !name.contains(u'\\') &&
           std::none_of(name.begin(), name.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

void checkBlockName(const QString& name) {
    if (!isBlockName(name)) {
        throw ZorError(QStringLiteral("Имя блока \u00AB%1\u00BB не подходит: оно не может быть "
                                      "пустым, \u00AB.\u00BB, \u00AB..\u00BB или \u00AB...\u00BB "
                                      "и не может содержать \u00AB/\u00BB, \u00AB\\\u00BB или "
                                      "управляющие символы (табуляцию, перевод строки).")
                           .arg(name));
    }
}

bool replacesOtherBlock(const OpenSiteState& state, const QString& name,
                        const std::optional<QString>& openedBlock) {
    const QFileInfo file(site::blockFilePath(state.sitePath, name));
    return (file.exists() || file.isSymLink()) && openedBlock != name;
}

QString replaceBlockQuestion(const QString& name) {
    return QStringLiteral("Блок \u00AB%1\u00BB уже есть. Заменить его?").arg(name);
}

void saveBlock(const OpenSiteState& state, EditorHost& host, const QString& sourceText,
               const QString& name) {
    checkBlockName(name);
    writeEdited(state, site::blockFilePath(state.sitePath, name), sourceText);
    const int selected = host.blockListSelection();
    if (selected >= 0) {
        host.setBlockListEntry(selected, name);
    }
}

std::optional<bool> loadVisualEditorSetting(SettingsStore& store, const QString& siteName) {
    SettingsKey key(store, siteKeyPath(siteName, QStringLiteral("dhtml")));
    if (auto use = key.read(QStringLiteral("use"))) {
        return *use == u"1";
    }
    return std::nullopt;
}

void storeVisualEditorSetting(SettingsStore& store, const QString& siteName, bool use) {
    SettingsKey key(store, siteKeyPath(siteName, QStringLiteral("dhtml")));
    key.write(QStringLiteral("use"), use ? QStringLiteral("1") : QStringLiteral("0"));
}

}  // namespace zor::editor
