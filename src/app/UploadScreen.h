#pragma once

#include <QWidget>

#include "site/OpenSiteState.h"

class QLineEdit;
class QCheckBox;
class QListWidget;
class QLabel;

namespace zor {
class SettingsStore;
}

namespace zor::app {

class TForm1;

// The upload screen: the FTP account of the open site and the remote folder lists.
class UploadScreen : public QWidget {
    Q_OBJECT
public:
    UploadScreen(TForm1& form, OpenSiteState& state, SettingsStore& settings,
                 QWidget* parent = nullptr);

    // Opening a site: fields reset, the stored account read into FtpAccount and the fields,
    // "Запомнить данные" switched on when host, user name and password are all there.
    void loadAccount();
    // Saving the open site: the account, when "Запомнить данные" is checked.
    void saveAccount();
    void clearRemoteLists();

    QLineEdit* Edit1;       // host
    QLineEdit* Edit2;       // user name
    QLineEdit* Edit3;       // password
    QLineEdit* Edit4;       // RemoteFolder
    QCheckBox* CheckBox2;   // "Запомнить данные"
    QListWidget* ListBox1;  // remote folders
    QListWidget* ListBox3;  // remote files

private:
    TForm1& form_;
    OpenSiteState& state_;
    SettingsStore& settings_;
};

}  // namespace zor::app
