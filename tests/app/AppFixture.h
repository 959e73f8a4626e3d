#pragma once

#include <gtest/gtest.h>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>

#include "app/Application.h"
#include "app/PagesScreen.h"
#include "app/TForm1.h"
#include "editor/EditorDocument.h"
#include "platform/SettingsStore.h"
#include "platform/WebControls.h"
#include "support/DialogDriver.h"
#include "support/EditorFakes.h"
#include "support/TempSite.h"
#include "support/UserInput.h"

namespace zor::test {

// A temporary SitesRoot and settings database, and the program's windows started over them.
struct AppFixture : ::testing::Test {
    TempRoot root;
    std::unique_ptr<SettingsStore> settings = std::make_unique<SettingsStore>(root.settingsPath());
    DialogDriver dialogs;
    std::unique_ptr<app::Application> app;

    // The editor window gets stand-ins for its web views unless `realEditor` asks for the
    // browser-backed ones, which are slower to start.
    app::TForm1& start(bool realEditor = false) {
        app = std::make_unique<app::Application>(root.root(), *settings, [this, realEditor] {
            if (!realEditor) {
                return editor::EditorControls{new FakeHtmlEditor, new FakePreview};
            }
            web = new WebHtmlEditor({editor::DocumentHead, editor::DocumentTail});
            return editor::EditorControls{web, new WebPreview};
        });
        return app->form1();
    }
    WebHtmlEditor* web = nullptr;  // the visual editor, when real
    app::TForm1& form() { return app->form1(); }
    OpenSiteState& state() { return app->state(); }

    template <typename T>
    T* child(const char* name) {
        T* w = form().findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QStringList sites() { return items(child<QComboBox>("sitesbox")); }
    void showForm() {
        if (!form().isVisible()) {
            form().show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&form()));
        }
    }
    // A click on a label of the shown screen: an icon of the top strip, a link of a screen.
    void clickLabel(const char* name) {
        showForm();
        auto* l = child<QLabel>(name);
        ASSERT_NE(l, nullptr);
        ASSERT_TRUE(l->isVisible()) << name << " is not on the current screen";
        QTest::mouseClick(l, Qt::LeftButton);
    }
    // The site picked in the selector's popup, as the user switches site.
    void chooseSite(const QString& name) {
        showForm();
        chooseEntry(child<QComboBox>("sitesbox"), static_cast<int>(sites().indexOf(name)));
    }
    // An entry of the selector's context menu: "Новый", "Переименовать", "Удалить", ...
    void siteCommand(const QString& entry) {
        showForm();
        contextCommand(child<QComboBox>("sitesbox"), entry);
    }
};

}  // namespace zor::test
