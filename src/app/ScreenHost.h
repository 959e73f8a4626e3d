#pragma once

#include <QString>

class QWidget;

namespace zor {
class CommandRunner;
namespace editor {
class TForm2;
}
}  // namespace zor

namespace zor::app {

// What a screen of the main window reaches beyond itself: the window its boxes belong to, the
// runner of long commands, the editor, and the site selector.
class ScreenHost {
public:
    virtual ~ScreenHost() = default;
    // The main window: the parent of every box a screen shows.
    virtual QWidget* mainWindow() = 0;
    virtual CommandRunner& commands() = 0;
    // The editor window; throws while there is none.
    virtual editor::TForm2& editor() const = 0;
    // Loads the named site into the state and every screen; throws what failed to load.
    virtual void openSite(const QString& name) = 0;
    virtual void setSiteCaption(const QString& name) = 0;
    // The site selector names this site.
    virtual void selectSiteEntry(const QString& name) = 0;
    // The page list of the pages screen shows the state's pages again.
    virtual void showPageList() = 0;
};

}  // namespace zor::app
