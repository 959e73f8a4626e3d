#pragma once

#include <QString>
#include <memory>

#include "site/OpenSiteState.h"

namespace zor {
class SettingsStore;
namespace files {
class TForm4;
}
}  // namespace zor

namespace zor::app {

class TForm1;

// The program's windows and state, created in the order the program relies on: the state,
// the main window (which opens the first site), then the editor and the file manager, which
// already see that site.
class Application {
public:
    Application(const QString& sitesRoot, SettingsStore& settings);
    ~Application();

    OpenSiteState& state() { return state_; }
    TForm1& form1() { return *form1_; }
    files::TForm4& form4() { return *form4_; }

private:
    OpenSiteState state_;
    std::unique_ptr<TForm1> form1_;
    std::unique_ptr<files::TForm4> form4_;
};

}  // namespace zor::app
