#pragma once

#include <QWidget>
#include <functional>

#include "platform/Http.h"
#include "site/OpenSiteState.h"
#include "update/Updates.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace zor {
class ProgressWindow;
}

namespace zor::app {

class ScreenHost;

// The updates screen: asks the update server whether a newer distribution exists (and starts
// the updater) and which extensions the open site lacks (and installs the ticked ones). Every
// command that talks to the server shows its progress with Cancel and is refused while another
// network command runs.
class UpdatesScreen : public QWidget {
    Q_OBJECT
public:
    explicit UpdatesScreen(ScreenHost& host, OpenSiteState& state, QWidget* parent = nullptr);

    void SpeedButton12Click();  // "Систему": the system check
    void SpeedButton11Click();  // "Расширения": the extension check
    void Button10Click();       // "Скачать": start the updater and close the program
    void button9Click();        // "Установить": install the ticked extensions

    // The updater "Скачать" starts: the executable "update" in the open site's folder.
    QString updaterPath() const;

    CurlHttpClient http;
    QString server = update::UpdateServer();

    QPushButton* SpeedButton11;  // "Расширения"
    QPushButton* SpeedButton12;  // "Систему"
    QLabel* ExtensionResult;     // the extension check's answer
    QLabel* SystemResult;        // the system check's answer, in the same place
    QPushButton* Button10;       // "Скачать"
    QListWidget* CheckListBox1;  // the extensions offered, ticked ones installed; where
                                 // "Скачать" is
    QPushButton* button9;        // "Установить"

private:
    // Runs a command that talks to the update server with the site open; false when it was
    // refused, cancelled or failed (the failure then shown in an error box).
    bool runNetwork(const QString& title, const std::function<void(ProgressWindow&)>& command);
    update::UpdateCheck check();

    ScreenHost& host_;
    OpenSiteState& state_;
};

}  // namespace zor::app
