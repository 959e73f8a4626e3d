#include "app/UploadOptions.h"

#include <QCheckBox>

#include "platform/CommandGuard.h"
#include "publish/ArchiveUpload.h"
#include "publish/Retry.h"
#include "publish/SessionPool.h"
#include "publish/SiteCheck.h"
#include "publish/SiteUpload.h"

namespace zor::app {

UploadOptions::UploadOptions(const OpenSiteState& state, SettingsStore& settings, QObject* parent)
    : QObject(parent), state_(state), settings_(settings) {
    CheckBox4 = new QCheckBox(QStringLiteral("Проверять сайт после загрузки"));
    CheckBox4->setObjectName(QStringLiteral("CheckBox4"));
    CheckBox4->setChecked(true);
    CheckBox4->setToolTip(QStringLiteral(
        "После загрузки открыть страницы сайта по его адресу, как их откроет посетитель. Адрес "
        "указывается на экране \u00ABУправление страницами\u00BB."));
    CheckBox5 = new QCheckBox(QStringLiteral("Загружать одним архивом"));
    CheckBox5->setObjectName(QStringLiteral("CheckBox5"));
    CheckBox5->setChecked(true);
    CheckBox5->setToolTip(QStringLiteral(
        "Много файлов сразу отправляются одним архивом, который распаковывает PHP на сервере; "
        "всё, что сервер не подтвердил, уходит по файлам. Нужен адрес сайта. На сервере ничего "
        "лишнего не остаётся."));
    // Every change is stored, by mouse, keyboard or a screen reader.
    connectGuarded(CheckBox4, &QCheckBox::toggled, CheckBox4, [this] { CheckBox4Click(); });
    // Only a click stores this one: ticking it again also forgets that the site could not
    // take archives.
    connectGuarded(CheckBox5, &QCheckBox::clicked, CheckBox5, [this] { CheckBox5Click(); });
}

void UploadOptions::showSite() {
    const bool none = state_.siteName.isEmpty();
    CheckBox4->setChecked(none || publish::siteCheckEnabled(settings_, state_.siteName));
    CheckBox5->setChecked(none || publish::archiveRouteEnabled(settings_, state_.siteName));
}

void UploadOptions::CheckBox4Click() {
    const bool on = CheckBox4->isChecked();
    if (!state_.siteName.isEmpty() && on != publish::siteCheckEnabled(settings_, state_.siteName)) {
        publish::storeSiteCheckEnabled(settings_, state_.siteName, on);
    }
}

void UploadOptions::CheckBox5Click() {
    if (!state_.siteName.isEmpty()) {
        publish::storeArchiveRouteEnabled(settings_, state_.siteName, CheckBox5->isChecked());
    }
}

QString uploadNotes(const publish::UploadResult& uploaded) {
    QString notes;
    // Named when the archive was in play; a few files by themselves are the plain upload.
    if (uploaded.route == publish::UploadRoute::Archive || !uploaded.fallback.isEmpty()) {
        notes += u'\n' + publish::routeResultText(uploaded.route, uploaded.sent, uploaded.archived,
                                                  uploaded.fallback);
    }
    if (uploaded.fewerSessions > 0) {
        notes += u'\n' + publish::fewerSessionsText(uploaded.fewerSessions);
    }
    if (uploaded.retried > 0) {
        notes += u'\n' + publish::retriedFilesText(uploaded.retried);
    }
    return notes;
}

}  // namespace zor::app
