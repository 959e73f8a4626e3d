#pragma once

#include <QString>
#include <QStringList>

#include "site/OpenSiteState.h"

namespace zor {
class SettingsStore;
}

namespace zor::site {

// The steps of opening a site that belong to no screen, shared by the main window and the
// command-line tool: the site's name and path (inside state.sitesRoot), the temporary files of a
// save an earlier run left behind removed, its page titles from the title index, and its FTP
// account as remembered. Each step runs even when one before failed, so nothing of the site
// open before stays; the texts of the failures come back in order.
QStringList loadOpenSite(OpenSiteState& state, SettingsStore& settings, const QString& name);

// What the user reads when a site opened with failures.
QString partlyOpenedText(const QString& name, const QStringList& errors);

}  // namespace zor::site
