#pragma once

#include <QString>
#include <QStringList>

#include "site/OpenSiteState.h"

namespace zor::site {

// The site's own steps of opening it, shared by the main window and the command-line tool: its
// name and path (inside state.sitesRoot), the temporary files of a save an earlier run left
// behind removed, and its page titles from the title index. Each step runs even when one before
// failed, so nothing of the site open before stays; the texts of the failures come back in
// order. (Its FTP account is publishing's step: publish::loadOpenSite.)
QStringList loadOpenSite(OpenSiteState& state, const QString& name);

// What the user reads when a site opened with failures.
QString partlyOpenedText(const QString& name, const QStringList& errors);

}  // namespace zor::site
