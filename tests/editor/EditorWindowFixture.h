#pragma once

#include <gtest/gtest.h>
#include <QEventLoop>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <functional>
#include <memory>

#include "editor/TForm2.h"
#include "platform/RichTextMemo.h"
#include "platform/SettingsStore.h"
#include "site/SiteWorkspace.h"
#include "support/DialogDriver.h"
#include "support/EditorFakes.h"
#include "support/TempSite.h"
#include "support/TestEditorHost.h"
#include "support/UserInput.h"

namespace zor::test {

// An editor window over a temporary site "alpha" with two pages, built with fake visual editor
// and preview controls. A test that changes what the window reads at its creation (settings,
// extensions, the open site) creates it again.
struct EditorWindowTest : ::testing::Test {
    TempRoot root;
    OpenSiteState state;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<TestEditorHost> host;
    FakeHtmlEditor* visual = nullptr;
    FakePreview* preview = nullptr;
    std::unique_ptr<editor::TForm2> form;
    DialogDriver driver;

    void SetUp() override {
        openTwoPageSite(root, state);
        writeFile(page(2), crlf({"<b>Вторая</b> страница", "line two"}));
        settings = std::make_unique<SettingsStore>(root.settingsPath());
        host = std::make_unique<TestEditorHost>(state);
        create();
    }
    void TearDown() override { form.reset(); }

    void create() {
        visual = new FakeHtmlEditor;
        preview = new FakePreview;
        form = std::make_unique<editor::TForm2>(state, *settings, *host,
                                                editor::EditorControls{visual, preview});
    }
    // Opens the window with open (which runs it modally); inside runs while it is shown, from
    // the modal loop, and the window is closed after it unless inside closed it already.
    void whileOpen(const std::function<void()>& open, const std::function<void()>& inside) {
        EXPECT_TRUE(whileShown(*form, open, inside)) << "the editor was not shown";
    }
    void openPage(int n, const std::function<void()>& inside) {
        host->pageSelection = n - 1;
        const bool exists = QFile::exists(page(n));
        whileOpen([&] { form->openPage(n, state.pageTitles[n], exists); }, inside);
    }
    void openBlock(const QString& name, bool exists, const std::function<void()>& inside) {
        whileOpen([&] { form->openBlock(name, exists); }, inside);
    }
    // Shows the window for page n without the modal loop, for key-level tests.
    void showPage(int n, const QString& text) {
        host->pageSelection = n - 1;
        form->setWindowTitle(editor::EditorCaption + editor::pageCaptionSuffix(n));
        form->Memo1->setText(text);
        form->show();
    }

    // Waits, running the event loop, until done() holds or ms have passed. Unlike QTest's waits
    // it never sleeps between looks, which the web views' many round trips through this
    // thread would feel.
    static bool waitUntil(const std::function<bool()>& done, int ms = 15000) {
        if (done()) {
            return true;
        }
        QEventLoop loop;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (done()) {
                loop.quit();
            }
        });
        look.start(2);
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        return done();
    }

    QString page(int n) const { return site::pageFilePath(state.sitePath, n); }
    QString previewFile() const { return site::previewFilePath(state.sitePath); }
    QString memoText() const { return form->Memo1->text(); }

    // The colour the source view shows the character at position (from 0) in.
    QColor colourAt(int position) const {
        QTextCursor c(form->Memo1->document());
        c.setPosition(position + 1);
        const QTextCharFormat f = c.charFormat();
        return f.hasProperty(QTextFormat::ForegroundBrush) ? f.foreground().color()
                                                           : form->Memo1->defaultTextColour();
    }
};

}  // namespace zor::test
