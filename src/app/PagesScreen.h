#pragma once

#include <QWidget>

#include "site/OpenSiteState.h"

class QComboBox;
class QLineEdit;
class QCheckBox;

namespace zor {
class SettingsStore;
}

namespace zor::app {

class ScreenHost;

// The pages screen: the page list, the site's display name and the sitemap switch.
class PagesScreen : public QWidget {
    Q_OBJECT
public:
    PagesScreen(ScreenHost& host, OpenSiteState& state, SettingsStore& settings,
                QWidget* parent = nullptr);

    // Shows PageList in the list control (no selection) and SiteTitle in "Имя сайта".
    void showPageList();
    // Opening a site, sitemap part: address field emptied, SitemapEnabled and "adr" read, the
    // switch set (which runs its handler when that changes its state).
    void loadSitemapSettings();

    void Edit31Change();     // "Имя сайта" -> SiteTitle
    void Edit6Change();      // address field -> SiteAddress
    void CheckBox3Click();   // "Создавать карту сайта" changed state
    void ComboBox1Click();   // a pick in the page list, first: the sitemap
    void ComboBox1Select();  // then: the page opens in the editor

    QComboBox* ComboBox1;  // PageList
    QLineEdit* Edit31;     // "Имя сайта", the SiteTitle
    QLineEdit* Edit6;      // the site's web address
    QCheckBox* CheckBox3;  // "Создавать карту сайта"

private:
    ScreenHost& host_;
    OpenSiteState& state_;
    SettingsStore& settings_;
};

}  // namespace zor::app
