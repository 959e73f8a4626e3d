#include "app/SiteCatalogueMenu.h"

#include <QComboBox>
#include <QFileInfo>

#include "app/ScreenHost.h"
#include "platform/CommandGuard.h"
#include "platform/Dialogs.h"
#include "site/SiteCatalogue.h"

namespace zor::app {

SiteCatalogueMenu::SiteCatalogueMenu(ScreenHost& host, OpenSiteState& state, QComboBox* box)
    : QMenu(box), host_(host), state_(state), sitesbox(box) {
    setObjectName(QStringLiteral("PopupMenu3"));
    auto addCommand = [this](const char* name, const QString& text, const QKeySequence& keys,
                             void (SiteCatalogueMenu::*handler)()) {
        auto* a = addAction(text);
        a->setObjectName(QLatin1String(name));
        if (!keys.isEmpty()) {
            a->setShortcut(keys);
            a->setShortcutContext(Qt::WidgetShortcut);
            sitesbox->addAction(a);
        }
        connectGuarded(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    addCommand("SpeedButton1", QStringLiteral("Новый"), QKeySequence(Qt::CTRL | Qt::Key_N),
               &SiteCatalogueMenu::SpeedButton1Click);
    addCommand("N1", QStringLiteral("Переименовать"), QKeySequence(Qt::CTRL | Qt::Key_R),
               &SiteCatalogueMenu::N1Click);
    addCommand("N5", QStringLiteral("Удалить"), QKeySequence(Qt::CTRL | Qt::Key_Delete),
               &SiteCatalogueMenu::N5Click);
    addCommand("N6", QStringLiteral("Сделать копию"), QKeySequence(), &SiteCatalogueMenu::N6Click);
    sitesbox->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sitesbox, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { popup(sitesbox->mapToGlobal(pos)); });
}

void SiteCatalogueMenu::SpeedButton1Click() {
    const QString open = state_.siteName;
    if (createSite()) {
        host_.selectSiteEntry(open);  // the open site stays the selected one
    }
}

std::optional<QString> SiteCatalogueMenu::createSite() {
    if (host_.commands().busy()) {
        return std::nullopt;
    }
    const auto name = dialogs::inputQuery(host_.mainWindow(), QStringLiteral("Новый сайт"),
                                          QStringLiteral("Пожалуйста, укажите имя"));
    if (!name || name->isEmpty()) {
        return std::nullopt;
    }
    site::createSite(state_.sitesRoot, *name);
    sitesbox->addItem(*name);
    return name;
}

void SiteCatalogueMenu::N1Click() {
    if (host_.commands().busy() || state_.siteName.isEmpty()) {
        return;
    }
    const auto name = dialogs::inputQuery(host_.mainWindow(), QStringLiteral("Переименовать"),
                                          QStringLiteral("Пожалуйста, укажите новое имя"));
    if (!name || name->isEmpty()) {
        return;
    }
    // Nothing below changes unless the folder really has the new name.
    site::renameSite(state_.sitesRoot, state_.siteName, *name);
    sitesbox->setItemText(sitesbox->findText(state_.siteName), *name);
    host_.setSiteCaption(*name);
    state_.siteName = *name;
    state_.sitePath = state_.sitesRoot + *name;
    host_.selectSiteEntry(*name);
}

void SiteCatalogueMenu::N5Click() {
    if (host_.commands().busy() || state_.siteName.isEmpty()) {
        return;
    }
    if (sitesbox->count() == 1) {
        dialogs::showMessage(host_.mainWindow(),
                             QStringLiteral("Это Ваш единственный сайт! Его нельзя удалить!"));
        return;
    }
    const QString doomed = state_.siteName;
    const QFileInfo folder(state_.sitesRoot + doomed);
    // A site that is a link to a folder elsewhere loses the link only.
    const QString question =
        folder.isSymLink() ? QStringLiteral(
                                 "Удалить сайт \u00AB%1\u00BB? Это ссылка на папку \u00AB%2\u00BB: "
                                 "удалена будет только ссылка, сама папка с её файлами останется.")
                                 .arg(doomed, folder.symLinkTarget())
                           : QStringLiteral(
                                 "Удалить сайт \u00AB%1\u00BB вместе со всеми его страницами и "
                                 "файлами? Это действие нельзя отменить.")
                                 .arg(doomed);
    if (!dialogs::ask(host_.mainWindow(), QStringLiteral("Удалить"), question)) {
        return;
    }
    sitesbox->removeItem(sitesbox->findText(doomed));
    sitesbox->setCurrentIndex(0);
    // The site about to go is not saved first: its folder is removed right after.
    state_.siteName.clear();
    host_.openSite(sitesbox->itemText(0));
    site::DeleteFolderTree(state_.sitesRoot + doomed, [this](const QString& message) {
        dialogs::showMessage(host_.mainWindow(), message);
    });
}

void SiteCatalogueMenu::N6Click() {
    if (host_.commands().busy() || state_.siteName.isEmpty()) {
        return;
    }
    const QString copy = state_.siteName + QStringLiteral(" - копия");
    site::CopyFolderTree(state_.sitesRoot + state_.siteName, state_.sitesRoot + copy);
    host_.setSiteCaption(copy);
    sitesbox->addItem(copy);
    sitesbox->setCurrentIndex(sitesbox->count() - 1);
    state_.siteName = copy;
    state_.sitePath = state_.sitesRoot + copy;
}

}  // namespace zor::app
