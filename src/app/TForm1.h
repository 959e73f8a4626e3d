#pragma once

#include <QWidget>
#include <functional>

#include "app/ScreenHost.h"
#include "editor/EditorHost.h"
#include "platform/CommandGuard.h"
#include "site/OpenSiteState.h"
#include "update/Updates.h"

class QComboBox;
class QDialog;
class QLabel;
class QMenu;
class QStackedWidget;

namespace zor {
class SettingsStore;
class ZorError;
namespace editor {
class TForm2;
}
}  // namespace zor

namespace zor::app {

class ClickLabel;
class DesignScreen;
class PagesScreen;
class SiteCatalogueMenu;
class UploadScreen;
class UpdatesScreen;

// The main window: the top strip with the site selector, the fourteen screens, opening and
// saving the open site, and the site's state.
class TForm1 : public QWidget, public editor::EditorHost, public ScreenHost {
    Q_OBJECT
public:
    // The caption carries the version the update check compares with, so the two cannot part.
    inline static const QString Caption =
        QStringLiteral("ZOR OD v%1.%2").arg(update::ProgramMajor).arg(update::ProgramMinor);

    // Builds the window and runs its creation step: lists the sites in sitesRoot and opens the
    // first one. Errors of that step are shown in message boxes; the window comes up anyway.
    TForm1(OpenSiteState& state, SettingsStore& settings, const QString& sitesRoot,
           QWidget* parent = nullptr);
    ~TForm1() override;

    // The windows shown modally from here; they are created after this one.
    void setFileManager(QDialog* form4) { form4_ = form4; }
    void setEditor(editor::TForm2* form2) { form2_ = form2; }
    editor::TForm2& editor() const override;

    // Shows a screen and names it in header (header first, as every navigation command does).
    void showScreen(QWidget* screen, const QString& headerText);
    QWidget* currentScreen() const;

    // Shows the upload screen and, when host, user name and password are all given, lists the
    // remote folder.
    void enterUploadScreen();

    QWidget* mainWindow() override { return this; }
    // Publishing and update commands run here, one at a time.
    CommandRunner& commands() override { return commands_; }

    // Site catalogue; its menu commands are in SiteCatalogueMenu.
    void sitesboxSelect();  // open the picked site (saving the open one first)
    void SaveOpenSite();    // index files and, when remembered, the FTP account
    // Loads the named site into the state and every screen. Every part is loaded even when
    // another fails, so nothing of the previously open site stays on screen; the errors are
    // thrown together at the end.
    void openSite(const QString& name) override;
    void setSiteCaption(const QString& name) override;
    void selectSiteEntry(const QString& name) override;
    void showPageList() override;

    OpenSiteState& state() { return state_; }
    SettingsStore& settings() { return settings_; }
    DesignScreen* designScreen() const { return design_; }
    PagesScreen* pagesScreen() const { return pages_; }
    UploadScreen* uploadScreen() const { return upload_; }
    UpdatesScreen* updatesScreen() const { return updates_; }

    // The page and block lists as the editor sees them.
    int pageListSelection() const override;
    void setPageListEntry(int index, const QString& text) override;
    int blockListSelection() const override;
    void setBlockListEntry(int index, const QString& text) override;

    QComboBox* sitesbox;           // the site selector
    QLabel* header;                // names the current screen
    QStackedWidget* PageControl1;  // the screens; never shows tabs
    QMenu* PopupMenu3;             // the site selector's menu

protected:
    void closeEvent(QCloseEvent* event) override;  // FormClose: saves the open site

private:
    void buildStrip();
    void buildScreens();
    void FormCreate();
    // Connects a navigation label: header from the label's caption (or a fixed text), then the
    // screen.
    void navigateOn(ClickLabel* label, QWidget* screen, const QString& fixedHeader = QString());
    void showFileManager();
    // With no site at all: says so and offers to make the first one; true for "Создать сайт".
    bool offerFirstSite();
    // After a failed save: asks whether to go on without saving, with the error.
    bool leaveUnsaved(const ZorError& error, const QString& question);

    OpenSiteState& state_;
    SettingsStore& settings_;
    QWidget* strip_ = nullptr;
    SiteCatalogueMenu* catalogue_ = nullptr;
    DesignScreen* design_ = nullptr;
    PagesScreen* pages_ = nullptr;
    UploadScreen* upload_ = nullptr;
    UpdatesScreen* updates_ = nullptr;
    QWidget* mainMenu_ = nullptr;
    QWidget* helpIndex_ = nullptr;
    QDialog* form4_ = nullptr;
    editor::TForm2* form2_ = nullptr;
    CommandRunner commands_;
};

}  // namespace zor::app
