#include <QApplication>

#include "app/Application.h"
#include "app/Icons.h"
#include "app/TForm1.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/SettingsStore.h"
#include "platform/Startup.h"
#include "platform/TextFile.h"
#include "platform/WebEngineEnvironment.h"

int main(int argc, char** argv) {
    zor::prepareWebEngineEnvironment();
    QApplication app(argc, argv);
    zor::startup::setProgramNames();
    // Message boxes carry the icon too; the desktop entry installed beside the program names
    // this window's program.
    QApplication::setWindowIcon(zor::app::programIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("zorod"));
    // The toolkit's own texts (buttons, file errors) in Russian, like the rest of the program.
    zor::startup::installRussianToolkitTexts();

    // A write past the file-size limit fails with a message instead of ending the program.
    zor::textfile::ignoreFileSizeSignal();

    std::unique_ptr<zor::SettingsStore> settings;
    QString notice;
    try {
        settings = zor::SettingsStore::openRecovering(zor::SettingsStore::defaultPath(), notice);
    } catch (const zor::ZorError& e) {
        zor::dialogs::showError(nullptr, e.text());
        return 1;
    }
    if (!notice.isEmpty()) {
        zor::dialogs::showMessage(nullptr, notice);
    }
    // Sites live in the program's data folder: its own folder, or the user's when the program
    // is installed for everyone. The command line is not read.
    QString sitesRoot;
    try {
        sitesRoot = zor::startup::programDataFolder();
    } catch (const zor::ZorError& e) {
        zor::dialogs::showError(nullptr, e.text());
        return 1;
    }
    zor::app::Application windows(sitesRoot, *settings);
    windows.form1().show();
    return QApplication::exec();
}
