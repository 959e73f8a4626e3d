#include "app/Application.h"

#include <QLineEdit>

#include "app/FileDrops.h"
#include "app/Icons.h"
#include "app/PagesScreen.h"
#include "app/TForm1.h"
#include "files/MediaFiles.h"
#include "files/TForm4.h"
#include "platform/CommandGuard.h"
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
    // Links are made from the address field as it stands when the file manager acts.
    form4_->setAddressSource(
        [form1 = form1_.get()] { return form1->pagesScreen()->Edit6->text(); });
    // The last step of start-up: files dropped on the main window go to the file manager. The
    // path is shown and the copy named in lower case (Latin letters only), but the file is read
    // from the path the drop gave, which is the one that exists on a case-sensitive disk.
    drops_ = std::make_unique<FileDrops>(*form1_, [this](const QString& path) {
        runGuarded(form1_.get(), [this, &path] {
            files::checkSourceFile(path);
            form4_->showWithFile(files::lowerLatin(path), path);
        });
    });
    const QIcon icon = programIcon();
    for (QWidget* window :
         {static_cast<QWidget*>(form1_.get()), static_cast<QWidget*>(form2_.get()),
          static_cast<QWidget*>(form4_.get())}) {
        window->setWindowIcon(icon);
    }
    // Placed by the program, so they are centred also where no window manager places them.
    centreOnScreen(form1_.get());
    centreOnScreen(form2_.get());
}

Application::~Application() {
    // The secondary windows go before the main window that parents them.
    drops_.reset();
    form4_.reset();
    form2_.reset();
    form1_.reset();
}

}  // namespace zor::app
