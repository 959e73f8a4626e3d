#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "editor/TForm2.h"
#include "site/OpenSiteState.h"

namespace zor {
class SettingsStore;
namespace files {
class TForm4;
}
}  // namespace zor

namespace zor::app {

class FileDrops;
class TForm1;

// The program's windows and state, created in the order the program relies on: the state,
// the main window (which opens the first site), then the editor and the file manager, which
// already see that site.
class Application {
public:
    // makeEditorControls gives the editor window its visual editor and preview (web views
    // unless a test says otherwise).
    Application(const QString& sitesRoot, SettingsStore& settings,
                const std::function<editor::EditorControls()>& makeEditorControls =
                    editor::webEngineControls);
    ~Application();

    OpenSiteState& state() { return state_; }
    TForm1& form1() { return *form1_; }
    editor::TForm2& form2() { return *form2_; }
    files::TForm4& form4() { return *form4_; }

private:
    OpenSiteState state_;
    std::unique_ptr<TForm1> form1_;
    std::unique_ptr<editor::TForm2> form2_;
    std::unique_ptr<files::TForm4> form4_;
    std::unique_ptr<FileDrops> drops_;
};

}  // namespace zor::app
