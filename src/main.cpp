#include <QApplication>

#include "app/Application.h"
#include "app/TForm1.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/SettingsStore.h"
#include "platform/Startup.h"
#include "platform/WebEngineEnvironment.h"

int main(int argc, char** argv) {
    zor::prepareWebEngineEnvironment();
    QApplication app(argc, argv);
    zor::startup::setProgramNames();
    // The toolkit's own texts (buttons, file errors) in Russian, like the rest of the program.
    zor::startup::installRussianToolkitTexts();

    std::unique_ptr<zor::SettingsStore> settings;
    try {
        settings = std::make_unique<zor::SettingsStore>(zor::SettingsStore::defaultPath());
    } catch (const zor::ZorError& e) {
        zor::dialogs::showError(nullptr, e.text());
        return 1;
    }
    // Sites live in the program's own folder; the command line is not read.
    zor::app::Application windows(QCoreApplication::applicationDirPath(), *settings);
    windows.form1().show();
    return QApplication::exec();
}
