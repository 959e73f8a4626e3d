#pragma once

#include <QWidget>
#include <functional>
#include <optional>

#include "platform/Http.h"
#include "publish/FtpClient.h"
#include "publish/SftpClient.h"
#include "publish/SiteUpload.h"
#include "site/OpenSiteState.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPushButton;
class QSpinBox;

namespace zor {
class SettingsStore;
}

namespace zor::app {

class ProtocolControls;
class PublishProgress;
class UploadOptions;
class ScreenHost;

// The upload screen: the open site's FTP account, the remote folder browser and the publishing
// commands. Each command that talks to the server runs one short session on IdFTP1, shows its
// progress window-modally over the main window, and is refused while another one runs.
class UploadScreen : public QWidget {
    Q_OBJECT
public:
    UploadScreen(ScreenHost& host, OpenSiteState& state, SettingsStore& settings,
                 QWidget* parent = nullptr);

    // Opening a site: the fields show the account it opened with, and "Запомнить данные" is
    // switched on when host, user name and password are all there.
    void showAccount();
    // Saving the open site: the account, when "Запомнить данные" is checked.
    void saveAccount();
    void clearRemoteLists();

    // Commands. Each shows its own errors and messages; none throws.
    void Button5Click();                        // list RemoteFolder
    void ListBox1Click(QListWidgetItem* item);  // enter a folder
    void sSpeedButton16Click();                 // "На уровень выше"
    void sSpeedButton17Click();                 // "В корень"
    void sSpeedButton15Click();  // delete the selected file (file menu "Удалить")
    void sSpeedButton18Click();  // rename the selected file (file menu "Переименовать")
    void N2Click();       // rename the selected folder (folder menu "Переименовать")
    void Button3Click();  // "Создать": the folder named in Edit5
    void Button2Click();  // "Закачать изменённые файлы"
    void sSpeedButton19Click();  // "Закачать все файлы"
    void Button6Click();         // "Синхронизироваться"

    void Edit4Change();
    void CheckBox1Click();  // "Хочу создать директорию"
    void CheckBox2Click();  // "Запомнить данные" changed state
    void EncryptionBoxChange();
    void SessionsBoxChange();

    publish::FtpClient IdFTP1;
    publish::SftpClient SftpSession;  // for a site published over SSH
    ProtocolControls* Protocol;  // "Протокол", "Ключ SSH…" and the connection's questions
    CurlHttpClient SiteHttp;  // asks the published site for its pages after an upload

    QLineEdit* Edit1;          // host
    QLineEdit* Edit2;          // user name
    QLineEdit* Edit3;          // password
    QLineEdit* Edit4;          // RemoteFolder
    QLineEdit* Edit5;          // full remote path of the folder to create
    QLabel* Label1;            // the password in plain text, while the pointer is on Label3
    QLabel* Label3;            // "Пароль"
    QCheckBox* CheckBox1;      // "Хочу создать директорию"
    QCheckBox* CheckBox2;      // "Запомнить данные"
    QLabel* KeyringNote;       // beside it, where no keyring is: the password goes into a file
    QComboBox* EncryptionBox;  // the connection's protection, in FtpEncryption's order
    QSpinBox* SessionsBox;     // "Одновременных соединений"
    UploadOptions* Options;    // the two switches below, kept per site
    QCheckBox* CheckBox4;      // "Проверять сайт после загрузки"
    QCheckBox* CheckBox5;      // "Загружать одним архивом"
    QLabel* Label4;            // what the check of the published site found
    QGroupBox* GroupBox1;      // Edit5 and "Создать"
    QListWidget* ListBox1;     // remote folders
    QListWidget* ListBox3;     // remote files
    QMenu* PopupMenu1;         // folder list menu
    QMenu* PopupMenu2;         // file list menu

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs a command that talks to the server: refused while another one runs or while no site
    // is open, progress shown, refusals ("Введите данные") as a message, other failures in an
    // error box, a cancel silently.
    void runPublishing(const QString& title, const std::function<void(PublishProgress&)>& command);
    // The client of the protocol the account stands for.
    publish::RemoteClient& client();
    // An upload, then, when switched on and the site has an address, the check of the published
    // site under the same progress; its result goes into Label4.
    void uploadAndCheck(const QString& title, bool all);
    void showCheckResult(const QString& text, bool passed);
    // Files the site sent once and has lost since: asked about after the upload, deleted from
    // the server on a yes, kept and not asked about again on a no. What the server refused to
    // delete goes into `refused`.
    void askAboutRemoved(publish::PublishJob& job, const publish::UploadResult& uploaded,
                         const QString& title, QString& refused);
    // Asks for a new name until one is given; nullopt when cancelled.
    std::optional<QString> askNewName(const QString& preset);

    ScreenHost& host_;
    OpenSiteState& state_;
    SettingsStore& settings_;
};

}  // namespace zor::app
