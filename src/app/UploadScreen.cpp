#include "app/UploadScreen.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "app/TForm1.h"
#include "platform/SettingsStore.h"
#include "publish/AccountSettings.h"

namespace zor::app {

UploadScreen::UploadScreen(TForm1& form, OpenSiteState& state, SettingsStore& settings,
                           QWidget* parent)
    : QWidget(parent), form_(form), state_(state), settings_(settings) {
    auto field = [](const char* name) {
        auto* e = new QLineEdit;
        e->setObjectName(QLatin1String(name));
        return e;
    };
    Edit1 = field("Edit1");
    Edit2 = field("Edit2");
    Edit3 = field("Edit3");
    Edit3->setEchoMode(QLineEdit::Password);
    Edit4 = field("Edit4");
    Edit4->setText(QStringLiteral("/"));
    CheckBox2 = new QCheckBox(QStringLiteral("Запомнить данные"));
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));

    ListBox1 = new QListWidget;
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox3 = new QListWidget;
    ListBox3->setObjectName(QStringLiteral("ListBox3"));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Хост")), 0, 0);
    grid->addWidget(Edit1, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Имя пользователя")), 1, 0);
    grid->addWidget(Edit2, 1, 1);
    auto* passLabel = new QLabel(QStringLiteral("Пароль"));
    passLabel->setObjectName(QStringLiteral("Label3"));
    grid->addWidget(passLabel, 2, 0);
    grid->addWidget(Edit3, 2, 1);
    auto* folderLabel = new QLabel(
        QStringLiteral("Куда закачивать (директория). Внимание, директория должна существовать!"));
    folderLabel->setWordWrap(true);
    grid->addWidget(folderLabel, 3, 0, 1, 2);
    grid->addWidget(Edit4, 4, 0, 1, 2);
    grid->addWidget(CheckBox2, 5, 0, 1, 2);

    auto* lists = new QHBoxLayout;
    lists->addWidget(ListBox1);
    lists->addWidget(ListBox3);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    auto* left = new QVBoxLayout;
    left->addLayout(grid);
    left->addStretch();
    layout->addLayout(left, 1);
    layout->addLayout(lists, 1);

    // FtpAccount follows the fields at every change.
    connect(Edit1, &QLineEdit::textChanged, this,
            [this](const QString& t) { state_.ftpAccount.host = t; });
    connect(Edit2, &QLineEdit::textChanged, this,
            [this](const QString& t) { state_.ftpAccount.userName = t; });
    connect(Edit3, &QLineEdit::textChanged, this,
            [this](const QString& t) { state_.ftpAccount.password = t; });
    connect(Edit4, &QLineEdit::textChanged, this,
            [this](const QString& t) { state_.ftpAccount.remoteFolder = t; });
}

void UploadScreen::loadAccount() {
    Edit1->clear();
    Edit2->clear();
    Edit4->setText(QStringLiteral("/"));
    Edit3->clear();
    FtpAccount a;
    a.remoteFolder = QStringLiteral("/");
    const publish::StoredAccount stored = publish::loadFtpAccount(settings_, state_.siteName);
    if (stored.host) {
        a.host = *stored.host;
    }
    if (stored.userName) {
        a.userName = *stored.userName;
    }
    if (stored.remoteFolder) {
        a.remoteFolder = *stored.remoteFolder;
    }
    if (stored.password) {
        a.password = *stored.password;
    }
    Edit1->setText(a.host);
    Edit2->setText(a.userName);
    Edit3->setText(a.password);
    Edit4->setText(a.remoteFolder);
    if (!a.host.isEmpty() && !a.userName.isEmpty() && !a.password.isEmpty()) {
        CheckBox2->setChecked(true);
    }
}

void UploadScreen::saveAccount() {
    if (CheckBox2->isChecked()) {
        publish::storeFtpAccount(settings_, state_.siteName, state_.ftpAccount);
    }
}

void UploadScreen::clearRemoteLists() {
    ListBox1->clear();
    ListBox3->clear();
}

}  // namespace zor::app
