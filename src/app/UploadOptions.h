#pragma once

#include <QObject>
#include <QString>

#include "site/OpenSiteState.h"

class QCheckBox;

namespace zor {
class SettingsStore;
}

namespace zor::publish {
struct UploadResult;
}

namespace zor::app {

// The upload screen's switches that each site keeps: checking the published site after an
// upload, and sending the files in one archive that the site's PHP unpacks. Opening a site sets
// them to what it keeps, which stores nothing.
class UploadOptions : public QObject {
    Q_OBJECT
public:
    UploadOptions(const OpenSiteState& state, SettingsStore& settings, QObject* parent);

    void showSite();
    void CheckBox4Click();  // "Проверять сайт после загрузки" changed
    void CheckBox5Click();  // "Загружать одним архивом" clicked

    QCheckBox* CheckBox4;  // "Проверять сайт после загрузки"
    QCheckBox* CheckBox5;  // "Загружать одним архивом"

private:
    const OpenSiteState& state_;
    SettingsStore& settings_;
};

// What the screen says beneath an upload: the route it took when the archive was meant, and why
// the archive did not do, then the sessions the server refused and the files that needed another
// try.
QString uploadNotes(const publish::UploadResult& uploaded);

}  // namespace zor::app
