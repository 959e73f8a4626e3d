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
#include "platform/SettingsStore.h"
#include "support/DialogDriver.h"
#include "support/EditorFakes.h"
#include "support/TempSite.h"

namespace zor::test {

// A temporary SitesRoot and settings database, and the program's windows started over them.
struct AppFixture : ::testing::Test {
    TempRoot root;
    std::unique_ptr<SettingsStore> settings = std::make_unique<SettingsStore>(root.settingsPath());
    DialogDriver dialogs;
    std::unique_ptr<app::Application> app;

    app::TForm1& start() {
        // The editor window gets stand-ins for its web views: no browser starts in these tests.
        app = std::make_unique<app::Application>(root.root(), *settings, [] {
            return editor::EditorControls{new FakeHtmlEditor, new FakePreview};
        });
        return app->form1();
    }
    app::TForm1& form() { return app->form1(); }
    OpenSiteState& state() { return app->state(); }

    template <typename T>
    T* child(const char* name) {
        T* w = form().findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QStringList sites() {
        QStringList items;
        auto* box = child<QComboBox>("sitesbox");
        for (int i = 0; i < box->count(); ++i) {
            items.append(box->itemText(i));
        }
        return items;
    }
    void trigger(const char* actionName) {
        auto* a = form().findChild<QAction*>(QLatin1String(actionName));
        ASSERT_NE(a, nullptr) << actionName;
        a->trigger();
    }
};

}  // namespace zor::test
