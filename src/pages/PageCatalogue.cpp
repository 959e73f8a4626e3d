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
        opening.isNew = true;
        opening.title = NewPageTitle;
        return opening;
    }
    opening.title = state.pageTitles[opening.pageNumber];
    opening.loadFile = QFileInfo::exists(site::pageFilePath(state.sitePath, opening.pageNumber));
    return opening;
}

}  // namespace zor::pages
