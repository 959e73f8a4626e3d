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

// A name the block list can show and the block folder hold: not empty, ".", ".." or the list's
// "...", and without separators or control characters.
bool isBlockName(const QString& name);
// Throws ZorError, with the reason, for a name that is not a block name.
void checkBlockName(const QString& name);
// Whether saving under name would overwrite a block other than the one opened (openedBlock is
// the name the block was loaded under; nothing for a new block).
bool replacesOtherBlock(const OpenSiteState& state, const QString& name,
                        const std::optional<QString>& openedBlock);
QString replaceBlockQuestion(const QString& name);  // "Блок «name» уже есть. Заменить его?"
// Saves the block under name (the old file of a renamed block stays) and puts the name into the
// block list's selected entry.
void saveBlock(const OpenSiteState& state, EditorHost& host, const QString& sourceText,
               const QString& name);

// The "\dhtml" setting of a site: whether the visual editor is used. Nothing when it was never
// stored; any stored text but "1" reads as off.
std::optional<bool> loadVisualEditorSetting(SettingsStore& store, const QString& siteName);
void storeVisualEditorSetting(SettingsStore& store, const QString& siteName, bool use);

}  // namespace zor::editor
