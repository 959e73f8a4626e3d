#include "pages/PageCatalogue.h"

#include <QFileInfo>

#include "platform/Errors.h"
#include "site/SiteWorkspace.h"

namespace zor::pages {

PageOpening planPageOpening(const OpenSiteState& state, int index, const QString& entry) {
    PageOpening opening;
    opening.pageNumber = index + 1;
    if (entry == NewItemEntry) {
        if (opening.pageNumber > state.pageTitles.capacity()) {
            throw ZorError(QStringLiteral("Новую страницу создать нельзя: на сайте уже %1 "
                                          "страниц, больше сайт не вмещает.")
                               .arg(state.pageTitles.capacity()));
        }
        if (!state.pageListRead) {
            throw ZorError(QStringLiteral(
                "Новую страницу начать нельзя: список страниц сайта не загружен, потому что не "
                "прочитан указатель страниц \u00ABetc/head.txt\u00BB. Новая страница заняла бы "
                "место уже существующей. Исправьте или восстановите указатель (например, "
                "синхронизацией с сервером) и откройте сайт снова."));
        }
        const QString file = site::pageFilePath(state.sitePath, opening.pageNumber);
        const QFileInfo info(file);
        if (info.exists() || info.isSymLink()) {
            throw ZorError(QStringLiteral("Новую страницу %1 начать нельзя: файл \u00AB%2\u00BB "
                                          "уже есть, хотя в списке страниц его нет. Чтобы он не "
                                          "был затёрт, перенесите или переименуйте его.")
                               .arg(opening.pageNumber)
                               .arg(file));
        }
        opening.isNew = true;
        opening.title = NewPageTitle;
        return opening;
    }
    opening.title = state.pageTitles[opening.pageNumber];
    opening.loadFile = QFileInfo::exists(site::pageFilePath(state.sitePath, opening.pageNumber));
    return opening;
}

}  // namespace zor::pages
