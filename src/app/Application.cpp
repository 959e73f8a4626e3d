#include "app/Application.h"

#include "app/TForm1.h"
#include "files/TForm4.h"
#include "platform/Placement.h"

namespace zor::app {

Application::Application(const QString& sitesRoot, SettingsStore& settings,
                         const std::function<editor::EditorControls()>& makeEditorControls) {
    form1_ = std::make_unique<TForm1>(state_, settings, sitesRoot);
    form2_ = std::make_unique<editor::TForm2>(state_, settings, *form1_, makeEditorControls(),
                                              form1_.get());
    form1_->setEditor(form2_.get());
    form4_ = std::make_unique<files::TForm4>(state_, form1_.get());
    form1_->setFileManager(form4_.get());
    // Placed by the program, so they are centred also where no window manager places them.
    centreOnScreen(form1_.get());
    centreOnScreen(form2_.get());
}

Application::~Application() {
    // The secondary windows go before the main window that parents them.
    form4_.reset();
    form2_.reset();
    form1_.reset();
}

}  // namespace zor::app
