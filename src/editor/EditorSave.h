#pragma once

#include <QString>
#include <optional>

#include "site/OpenSiteState.h"

namespace zor {
class SettingsStore;
}

// What closing the editor does to the site, and the editor's own setting.
namespace zor::editor {

class EditorHost;

inline const QString EditorCaption = QStringLiteral("ZOR OD");
inline const QString BlockModeCaption = QStringLiteral(" Редактирование блоков");
inline const QString NewBlockName = QStringLiteral("NewBloc");

// The editor holds a block exactly while its caption says so; otherwise a page.
enum class EditorMode { Page, Block };
EditorMode modeOfCaption(const QString& caption);
QString pageCaptionSuffix(int pageNumber);  // " (?in=" + n + ")"

// "n - title", a page's entry in the page list.
QString pageListEntry(int pageNumber, const QString& title);

// Saves the page selected in the page list: the sitemap first (when it is switched on), then the
// page file, replaced atomically by the source text, then the title into PageTitles and the page
// list. A failure stops at that step and leaves the old page file and the preview file as they
// were. Nothing is written when the page list has no selection.
void savePage(OpenSiteState& state, EditorHost& host, const QString& sourceText,
              const QString& title);

// Refuses a block name that would not be a file directly in the block folder.
void checkBlockName(const QString& name);
// Saves the block under name (the old file of a renamed block stays) and puts the name into the
// block list's selected entry.
void saveBlock(const OpenSiteState& state, EditorHost& host, const QString& sourceText,
               const QString& name);

// The "\dhtml" setting of a site: whether the visual editor is used. Nothing when it was never
// stored; any stored text but "1" reads as off.
std::optional<bool> loadVisualEditorSetting(SettingsStore& store, const QString& siteName);
void storeVisualEditorSetting(SettingsStore& store, const QString& siteName, bool use);

}  // namespace zor::editor
