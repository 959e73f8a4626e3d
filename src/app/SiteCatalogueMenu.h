#pragma once

#include <QMenu>
#include <optional>

#include "site/OpenSiteState.h"

class QComboBox;

namespace zor::app {

class ScreenHost;

// The site selector's menu and its commands on the catalogue of sites. Its shortcuts act while
// the selector has the keyboard focus.
class SiteCatalogueMenu : public QMenu {
    Q_OBJECT
public:
    SiteCatalogueMenu(ScreenHost& host, OpenSiteState& state, QComboBox* sitesbox);

    void SpeedButton1Click();  // "Новый"
    // Asks for a name and creates the site, appending it to the selector; the name, or nullopt
    // when nothing was asked for or the answer was empty. Throws when the site cannot be made.
    std::optional<QString> createSite();
    void N1Click();  // "Переименовать"
    void N5Click();  // "Удалить"
    void N6Click();  // "Сделать копию"

private:
    ScreenHost& host_;
    OpenSiteState& state_;
    QComboBox* sitesbox;
};

}  // namespace zor::app
