#include "site/SiteOpening.h"

#include "platform/Errors.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"

namespace zor::site {

QStringList loadOpenSite(OpenSiteState& state, const QString& name) {
    state.siteName = name;
    state.sitePath = state.sitesRoot + name;
    removeStaleSaves(state.sitePath);
    QStringList errors;
    try {
        readPageTitleIndex(state);
    } catch (const ZorError& e) {
        errors.append(e.text());
    }
    return errors;
}

QString partlyOpenedText(const QString& name, const QStringList& errors) {
    return QStringLiteral("Сайт \u00AB%1\u00BB открыт не полностью.\n\n").arg(name) +
           errors.join(QStringLiteral("\n\n"));
}

}  // namespace zor::site
