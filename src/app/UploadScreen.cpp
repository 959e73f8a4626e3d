#include "app/UploadScreen.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/Icons.h"
#include "app/ProtocolControls.h"
#include "app/PublishProgress.h"
#include "app/ScreenHost.h"
#include "app/ScreenMargins.h"
#include "app/UploadOptions.h"
#include "platform/CommandGuard.h"
#include "platform/Dialogs.h"
#include "platform/SettingsStore.h"
#include "publish/AccountSettings.h"
#include "publish/RemoteBrowser.h"
#include "publish/SessionPool.h"
#include "publish/SiteCheck.h"
#include "publish/SiteUpload.h"
#include "publish/Synchronise.h"

namespace zor::app {
namespace {

QPushButton* button(const char* name, const QString& text) {
    auto* b = new QPushButton(text);
    b->setObjectName(QLatin1String(name));
    return b;
}

QLabel* caption(const QString& text) {
    auto* l = new QLabel(text);
    l->setWordWrap(true);
    // A grid gives a wrapped label spanning columns the height of one line; at the window's
    // smallest width this one takes two.
    l->setMinimumHeight(2 * l->fontMetrics().lineSpacing());
    return l;
}

}  // namespace

UploadScreen::UploadScreen(ScreenHost& host, OpenSiteState& state, SettingsStore& settings,
                           QWidget* parent)
    : QWidget(parent), host_(host), state_(state), settings_(settings) {
    auto field = [](const char* name) {
        auto* e = new QLineEdit;
        e->setObjectName(QLatin1String(name));
        return e;
    };
    Edit1 = field("Edit1");
    Edit2 = field("Edit2");
    Edit3 = field("Edit3");
    Edit3->setEchoMode(QLineEdit::Password);
    // Each typed character shows as "*", whatever the style would draw.
    Edit3->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    Edit4 = field("Edit4");
    Edit4->setToolTip(QStringLiteral("Enter \u2014 показать содержимое папки на сервере"));
    Edit5 = field("Edit5");
    // Alone in its group, with no label beside it.
    Edit5->setAccessibleName(QStringLiteral("Новая папка на сервере"));
    Label1 = new QLabel;
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setMinimumWidth(60);
    Label3 = new QLabel(QStringLiteral("Пароль"));
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setToolTip(QStringLiteral("Наведите указатель, чтобы увидеть пароль"));
    CheckBox1 = new QCheckBox(QStringLiteral("Хочу создать директорию"));
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox2 = new QCheckBox(QStringLiteral("Запомнить данные"));
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    KeyringNote =
        new QLabel(QStringLiteral("Связки ключей нет: пароль хранится в файле настроек."));
    KeyringNote->setObjectName(QStringLiteral("KeyringNote"));
    KeyringNote->setWordWrap(true);
    KeyringNote->setStyleSheet(QStringLiteral("color: rgb(105, 105, 105);"));
    KeyringNote->setVisible(false);
    EncryptionBox = new QComboBox;
    EncryptionBox->setObjectName(QStringLiteral("EncryptionBox"));
    EncryptionBox->addItems({QStringLiteral("Защищённое соединение, если сервер умеет"),
                             QStringLiteral("Только защищённое соединение"),
                             QStringLiteral("Без шифрования")});
    SessionsBox = new QSpinBox;
    SessionsBox->setObjectName(QStringLiteral("SessionsBox"));
    SessionsBox->setRange(1, publish::MaxSessions);
    SessionsBox->setValue(publish::DefaultSessions);
    SessionsBox->setToolTip(QStringLiteral(
        "Сколько файлов передавать одновременно. Чем дальше сервер, тем больше это ускоряет "
        "загрузку; если сервер не допускает столько соединений, программа запомнит, сколько он "
        "принял."));
    Edit1->setToolTip(
        QStringLiteral("Имя или адрес сервера; другой порт \u2014 через двоеточие: "
                       "ftp.example.ru:2121"));
    Options = new UploadOptions(state_, settings_, this);
    CheckBox4 = Options->CheckBox4;
    CheckBox5 = Options->CheckBox5;
    Label4 = new QLabel;
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setTextFormat(Qt::PlainText);
    Label4->setWordWrap(true);
    // The error line is worth copying into a search or a letter to the host.
    Label4->setTextInteractionFlags(Qt::TextSelectableByMouse);

    GroupBox1 = new QGroupBox;
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* create = button("Button3", QStringLiteral("Создать"));
    auto* groupLayout = new QHBoxLayout(GroupBox1);
    groupLayout->setContentsMargins(6, 4, 6, 4);
    groupLayout->addWidget(Edit5, 1);
    groupLayout->addWidget(create);
    GroupBox1->setVisible(false);

    ListBox1 = new QListWidget;
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListBox3 = new QListWidget;
    ListBox3->setObjectName(QStringLiteral("ListBox3"));
    ListBox3->setContextMenuPolicy(Qt::CustomContextMenu);

    // The menus open only from the lists' own handlers; the shortcut is shown, not bound.
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    const QIcon renameIcon = themeIcon(QStringLiteral("edit-rename"));
    QAction* n2 = PopupMenu1->addAction(renameIcon, QStringLiteral("Переименовать"));
    n2->setObjectName(QStringLiteral("N2"));
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    QAction* n3 = PopupMenu2->addAction(themeIcon(QStringLiteral("edit-delete")),
                                        QStringLiteral("Удалить\tShift+Del"));
    n3->setObjectName(QStringLiteral("N3"));
    QAction* n4 = PopupMenu2->addAction(renameIcon, QStringLiteral("Переименовать"));
    n4->setObjectName(QStringLiteral("N4"));

    auto* upChanged = button("Button2", QStringLiteral("Закачать изменённые файлы"));
    auto* upAll = button("sSpeedButton19", QStringLiteral("Закачать все файлы"));
    auto* sync = button("Button6", QStringLiteral("Синхронизироваться"));
    auto* up = button("sSpeedButton16", QStringLiteral("На уровень выше"));
    auto* root = button("sSpeedButton17", QStringLiteral("В корень"));

    // Each field is named by its label, which screen readers announce with it.
    auto labelFor = [](QWidget* field, QLabel* label) {
        label->setBuddy(field);
        return label;
    };
    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(4);
    grid->addWidget(labelFor(Edit1, new QLabel(QStringLiteral("Хост"))), 0, 0);
    grid->addWidget(Edit1, 0, 1, 1, 2);
    grid->addWidget(labelFor(Edit2, new QLabel(QStringLiteral("Имя пользователя"))), 1, 0);
    grid->addWidget(Edit2, 1, 1, 1, 2);
    grid->addWidget(labelFor(Edit3, Label3), 2, 0);
    grid->addWidget(Edit3, 2, 1);
    grid->addWidget(Label1, 2, 2);
    grid->addWidget(labelFor(Edit4, caption(QStringLiteral("Куда закачивать (директория). "
                                                           "Внимание, директория должна "
                                                           "существовать!"))),
                    3, 0, 1, 3);
    grid->addWidget(Edit4, 4, 0, 1, 3);
    grid->addWidget(labelFor(EncryptionBox, new QLabel(QStringLiteral("Шифрование"))), 5, 0);
    grid->addWidget(EncryptionBox, 5, 1, 1, 2);
    // On a row of its own: in the label column its caption would crowd the fields above.
    auto* sessionsRow = new QHBoxLayout;
    sessionsRow->addWidget(
        labelFor(SessionsBox, new QLabel(QStringLiteral("Одновременных соединений"))));
    sessionsRow->setSpacing(8);
    sessionsRow->addWidget(SessionsBox);
    sessionsRow->addStretch();
    grid->addLayout(sessionsRow, 6, 0, 1, 3);
    auto* rememberRow = new QHBoxLayout;
    rememberRow->addWidget(CheckBox2);
    rememberRow->addWidget(KeyringNote, 1);
    grid->addLayout(rememberRow, 7, 0, 1, 3);
    grid->addWidget(CheckBox1, 8, 0, 1, 3);
    grid->addWidget(GroupBox1, 9, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    Protocol = new ProtocolControls(host_, state_, settings_, SftpSession, this);
    Protocol->changed = [this] { EncryptionBox->setEnabled(!Protocol->sftp()); };
    Protocol->remembered = [this] { return CheckBox2->isChecked(); };
    // Beside the sessions, where the column has room; Tab reaches it there.
    sessionsRow->insertWidget(sessionsRow->count() - 1, Protocol->row);
    setTabOrder(SessionsBox, Protocol->ProtocolBox);
    setTabOrder(Protocol->ProtocolBox, Protocol->KeyButton);
    auto* left = new QVBoxLayout;
    left->addLayout(grid);
    left->addStretch();
    left->addWidget(Label4);
    left->addWidget(CheckBox4);
    left->addWidget(CheckBox5);
    left->addWidget(upChanged);
    auto* leftButtons = new QHBoxLayout;
    leftButtons->addWidget(upAll);
    leftButtons->addWidget(sync);
    left->addLayout(leftButtons);

    auto* lists = new QGridLayout;
    lists->addWidget(labelFor(ListBox1, new QLabel(QStringLiteral("Папки"))), 0, 0);
    lists->addWidget(labelFor(ListBox3, new QLabel(QStringLiteral("Файлы"))), 0, 1);
    // A list reads no buddy for its name.
    ListBox1->setAccessibleName(QStringLiteral("Папки"));
    ListBox3->setAccessibleName(QStringLiteral("Файлы"));
    lists->addWidget(ListBox1, 1, 0);
    lists->addWidget(ListBox3, 1, 1);
    lists->addWidget(up, 2, 0);
    lists->addWidget(root, 2, 1);
    lists->setVerticalSpacing(4);  // as between the fields beside them

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(ScreenMargins);
    layout->setSpacing(14);
    layout->addLayout(left, 1);
    layout->addLayout(lists, 1);

    // FtpAccount follows the fields at every change.
    connect(Edit1, &QLineEdit::textChanged, this, [this](const QString& t) {
        state_.ftpAccount.host = t;
        Protocol->hostTyped(t);
    });
    connect(Edit2, &QLineEdit::textChanged, this,
            [this](const QString& t) { state_.ftpAccount.userName = t; });
    connect(Edit3, &QLineEdit::textChanged, this,
            [this](const QString& t) { state_.ftpAccount.password = t; });
    connect(Edit4, &QLineEdit::textChanged, this, [this] { Edit4Change(); });
    Edit4->setText(QStringLiteral("/"));
    connect(Edit4, &QLineEdit::returnPressed, this, [this] { Button5Click(); });
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    connectGuarded(CheckBox2, &QCheckBox::toggled, this, [this] { CheckBox2Click(); });
    connectGuarded(EncryptionBox, &QComboBox::currentIndexChanged, this,
                   [this] { EncryptionBoxChange(); });
    connectGuarded(SessionsBox, &QSpinBox::valueChanged, this, [this] { SessionsBoxChange(); });
    IdFTP1.AskTrust = [this](const publish::ServerCertificate& c) { return Protocol->askTrust(c); };
    IdFTP1.AskPlainLogin = [this] { return Protocol->askPlainLogin(); };
    IdFTP1.SecuredLogin = [this] {
        publish::rememberTlsSeen(settings_, state_.siteName, state_.ftpAccount);
    };
    IdFTP1.HabitsLearned = [this] {
        publish::rememberHabits(settings_, state_.siteName, state_.ftpAccount, IdFTP1.Habits);
    };
    Label3->installEventFilter(this);
    SessionsBox->installEventFilter(this);
    Edit3->installEventFilter(this);

    connect(ListBox1, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { ListBox1Click(item); });
    auto popup = [](QListWidget* list, QMenu* menu) {
        return [list, menu](const QPoint& pos) {
            QListWidgetItem* item = list->itemAt(pos);
            if (!item) {
                return;
            }
            list->setCurrentItem(item);
            menu->popup(list->viewport()->mapToGlobal(pos));
        };
    };
    // ListBox1ContextPopup and ListBox3ContextPopup.
    connect(ListBox1, &QWidget::customContextMenuRequested, this, popup(ListBox1, PopupMenu1));
    connect(ListBox3, &QWidget::customContextMenuRequested, this, popup(ListBox3, PopupMenu2));
    connect(n2, &QAction::triggered, this, [this] { N2Click(); });
    connect(n3, &QAction::triggered, this, [this] { sSpeedButton15Click(); });  // N3Click
    connect(n4, &QAction::triggered, this, [this] { sSpeedButton18Click(); });  // N4Click

    connect(create, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(upChanged, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(upAll, &QPushButton::clicked, this, [this] { sSpeedButton19Click(); });
    connect(sync, &QPushButton::clicked, this, [this] { Button6Click(); });
    connect(up, &QPushButton::clicked, this, [this] { sSpeedButton16Click(); });
    connect(root, &QPushButton::clicked, this, [this] { sSpeedButton17Click(); });
}

void UploadScreen::showAccount() {
    const FtpAccount a = state_.ftpAccount;  // the fields write every change back into it
    Edit1->setText(a.host);
    Edit2->setText(a.userName);
    Edit3->setText(a.password);
    Edit4->setText(a.remoteFolder);
    EncryptionBox->setCurrentIndex(static_cast<int>(a.encryption));
    SessionsBox->setValue(a.sessions);
    Protocol->showAccount();
    if (publish::accountComplete(a)) {
        CheckBox2->setChecked(true);
    }
    KeyringNote->setVisible(!host_.keyring().present());
    Options->showSite();
    Label4->clear();
}

void UploadScreen::saveAccount() {
    if (CheckBox2->isChecked()) {
        publish::storeFtpAccount(settings_, host_.keyring(), state_.siteName, state_.ftpAccount);
    }
}

void UploadScreen::clearRemoteLists() {
    ListBox1->clear();
    ListBox3->clear();
}

void UploadScreen::Edit4Change() {
    const QString text = Edit4->text();
    const QString shortened = publish::withSingleLeadingSlash(text);
    if (shortened != text) {
        Edit4->setText(shortened);  // which runs this again with the shortened text
        return;
    }
    state_.ftpAccount.remoteFolder = text;
    Edit5->setText(text + QStringLiteral("/NewFolder"));
}

void UploadScreen::CheckBox1Click() {
    GroupBox1->setVisible(CheckBox1->isChecked());
}

void UploadScreen::CheckBox2Click() {
    // Opening the first site at start-up sets the box before the window shows: nothing to do.
    // Without an open site there is no site to remember the account for.
    if (!host_.mainWindow()->isVisible() || state_.siteName.isEmpty()) {
        return;
    }
    if (CheckBox2->isChecked()) {
        publish::storeFtpAccount(settings_, host_.keyring(), state_.siteName, state_.ftpAccount);
    } else {
        publish::forgetFtpAccount(settings_, host_.keyring(), state_.siteName);
    }
}

void UploadScreen::EncryptionBoxChange() {
    const auto chosen = static_cast<publish::FtpEncryption>(EncryptionBox->currentIndex());
    if (chosen == state_.ftpAccount.encryption) {
        return;  // showing a site's own choice
    }
    state_.ftpAccount.encryption = chosen;
    // Not secret, so kept whether or not the account is remembered.
    if (!state_.siteName.isEmpty()) {
        publish::storeEncryption(settings_, state_.siteName, chosen);
    }
}

void UploadScreen::SessionsBoxChange() {
    const int chosen = SessionsBox->value();
    if (chosen == state_.ftpAccount.sessions) {
        return;  // showing a site's own number
    }
    state_.ftpAccount.sessions = chosen;
    if (!state_.siteName.isEmpty()) {
        publish::storeSessions(settings_, state_.siteName, chosen);
    }
}

publish::RemoteClient& UploadScreen::client() {
    return Protocol->sftp() ? static_cast<publish::RemoteClient&>(SftpSession) : IdFTP1;
}

bool UploadScreen::eventFilter(QObject* watched, QEvent* event) {
    // A wheel turned over the screen on its way elsewhere changes nothing unasked.
    if (watched == SessionsBox && event->type() == QEvent::Wheel && !SessionsBox->hasFocus()) {
        event->ignore();
        return true;
    }
    if (watched == Label3) {
        if (event->type() == QEvent::Enter) {
            Label1->setText(Edit3->text());
        } else if (event->type() == QEvent::Leave) {
            Label1->clear();
        }
    } else if (watched == Edit3) {
        if (event->type() == QEvent::KeyPress) {
            Label1->setText(static_cast<QKeyEvent*>(event)->text());
        } else if (event->type() == QEvent::KeyRelease) {
            Label1->clear();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UploadScreen::runPublishing(const QString& title,
                                 const std::function<void(PublishProgress&)>& command) {
    host_.commands().run(host_.mainWindow(), PublishProgress::setup(title),
                         [&](ProgressWindow& window) {
                             PublishProgress progress(window, client());
                             publish::checkSiteOpen(state_);
                             try {
                                 command(progress);
                             } catch (const publish::ChangedHostKey& e) {
                                 Protocol->warnChangedKey(e);
                             }
                         });
}

std::optional<QString> UploadScreen::askNewName(const QString& preset) {
    for (;;) {
        const auto name =
            dialogs::inputQuery(host_.mainWindow(), QStringLiteral("Переименовать"),
                                QStringLiteral("Пожалуйста, укажите новое имя"), preset);
        if (!name || !name->isEmpty()) {
            return name;
        }
    }
}

void UploadScreen::Button5Click() {
    runPublishing(QStringLiteral("Папка на сервере"), [this](PublishProgress&) {
        state_.ftpAccount.remoteFolder = Edit4->text();
        if (publish::accountComplete(state_.ftpAccount)) {
            clearRemoteLists();
        }
        const publish::RemoteEntries entries =
            publish::listRemoteFolder(client(), state_.ftpAccount);
        ListBox1->addItems(entries.folders);
        ListBox3->addItems(entries.files);
    });
}

void UploadScreen::ListBox1Click(QListWidgetItem* item) {
    if (host_.commands().busy() || !item) {
        return;
    }
    Edit4->setText(Edit4->text() + u'/' + item->text());
    Button5Click();
}

void UploadScreen::sSpeedButton16Click() {
    if (host_.commands().busy() || !publish::accountComplete(state_.ftpAccount)) {
        return;
    }
    Edit4->setText(publish::folderAbove(state_.ftpAccount.remoteFolder));
    Button5Click();
}

void UploadScreen::sSpeedButton17Click() {
    if (host_.commands().busy()) {
        return;
    }
    state_.ftpAccount.remoteFolder = QStringLiteral("/");
    Edit4->setText(QStringLiteral("/"));
    Button5Click();
}

void UploadScreen::sSpeedButton15Click() {
    QListWidgetItem* item = ListBox3->currentItem();
    if (!item) {
        return;
    }
    runPublishing(QStringLiteral("Удаление файла"), [this, item](PublishProgress&) {
        publish::deleteRemoteFile(client(), state_.ftpAccount.remoteFolder, item->text());
        delete item;
    });
}

void UploadScreen::sSpeedButton18Click() {
    QListWidgetItem* item = ListBox3->currentItem();
    if (!item || host_.commands().busy()) {
        return;
    }
    const QString oldName = item->text();
    // Cancelling keeps the old name, which the server then renames onto itself.
    const QString newName = askNewName(oldName).value_or(oldName);
    runPublishing(QStringLiteral("Переименование файла"), [&](PublishProgress&) {
        publish::renameRemoteFile(client(), state_.ftpAccount.remoteFolder, oldName, newName);
        item->setText(newName);
    });
}

void UploadScreen::N2Click() {
    QListWidgetItem* item = ListBox1->currentItem();
    if (!item || host_.commands().busy()) {
        return;
    }
    const QString oldName = item->text();
    const auto newName = askNewName(QString());
    if (!newName) {
        return;
    }
    runPublishing(QStringLiteral("Переименование папки"), [&](PublishProgress&) {
        publish::renameRemoteFolder(client(), Edit4->text(), oldName, *newName);
    });
}

void UploadScreen::Button3Click() {
    runPublishing(QStringLiteral("Создание папки"), [this](PublishProgress&) {
        publish::makeRemoteFolder(client(), state_.ftpAccount, Edit5->text());
    });
}

void UploadScreen::Button2Click() {
    uploadAndCheck(QStringLiteral("Закачать изменённые файлы"), false);
}

void UploadScreen::sSpeedButton19Click() {
    uploadAndCheck(QStringLiteral("Закачать все файлы"), true);
}

void UploadScreen::uploadAndCheck(const QString& title, bool all) {
    if (host_.commands().busy()) {
        return;
    }
    Label4->clear();
    QString refused;
    runPublishing(title, [this, all, &title, &refused](PublishProgress& progress) {
        publish::PublishJob job{state_, settings_, client(), progress.progressFn()};
        job.http = &SiteHttp;
        const publish::UploadResult uploaded =
            all ? publish::uploadAllFiles(job) : publish::uploadChangedFiles(job);
        askAboutRemoved(job, uploaded, title, refused);
        const QString fewer = uploadNotes(uploaded);
        if (!CheckBox4->isChecked()) {
            if (!fewer.isEmpty()) {
                showCheckResult(QStringLiteral("Файлы закачаны.") + fewer, true);
            }
            return;
        }
        if (!publish::siteAddressSet(state_.siteAddress)) {
            showCheckResult(QStringLiteral("Файлы закачаны. Сайт не проверен: его адрес не указан "
                                           "(экран \u00ABУправление страницами\u00BB).") +
                                fewer,
                            true);
            return;
        }
        SiteHttp.Pump = [this] { publish::letEventsRun(client()); };
        const auto unhook = qScopeGuard([this] { SiteHttp.Pump = nullptr; });
        const publish::SiteCheckResult checked = publish::checkPublishedSite(
            SiteHttp, state_, publish::pagesToCheck(uploaded.files, state_.pageCount()),
            progress.progressFn());
        showCheckResult(checked.text + fewer, checked.passed || checked.cancelled);
    });
    // A server that took fewer sessions has lowered the site's number.
    SessionsBox->setValue(state_.ftpAccount.sessions);
    if (!refused.isEmpty()) {
        dialogs::showError(host_.mainWindow(), refused);
    }
}

void UploadScreen::askAboutRemoved(publish::PublishJob& job, const publish::UploadResult& uploaded,
                                   const QString& title, QString& refused) {
    QStringList names;
    for (const publish::RemovedFile& f : uploaded.removed) {
        if (!f.kept) {
            names.append(f.name);
        }
    }
    if (names.isEmpty()) {
        return;
    }
    // No is the default: the answer decides whether anything goes from the server.
    if (!dialogs::ask(host_.mainWindow(), title, publish::removedFilesQuestion(names), false)) {
        publish::keepOnServer(settings_, state_.siteName, names);
        return;
    }
    const publish::DeletionResult deleted = publish::deleteRemovedFiles(job, names);
    if (!deleted.refused.isEmpty()) {
        refused = publish::refusedDeletionsText(deleted.refused);
    }
}

void UploadScreen::showCheckResult(const QString& text, bool passed) {
    Label4->setText(text);
    Label4->setStyleSheet(passed ? QString() : QStringLiteral("color: #b00020;"));
}

void UploadScreen::Button6Click() {
    bool ran = false;
    std::optional<publish::SyncResult> result;
    runPublishing(QStringLiteral("Синхронизация"), [&](PublishProgress& progress) {
        ran = true;
        publish::PublishJob job{state_, settings_, client(), progress.progressFn()};
        result = publish::synchronise(job, [this](const publish::ReplaceQuestion& question) {
            // No is the default: the answer decides whether work typed here is replaced.
            return dialogs::ask(host_.mainWindow(), QStringLiteral("Синхронизация"), question.text,
                                false);
        });
    });
    // The page list may have been rebuilt, even by a synchronisation that failed at its end.
    if (ran) {
        host_.showPageList();
        SessionsBox->setValue(state_.ftpAccount.sessions);
    }
    if (result && !result->declined) {
        dialogs::showMessage(host_.mainWindow(), publish::syncDoneText(*result));
    }
}

}  // namespace zor::app
