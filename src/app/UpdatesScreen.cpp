#include "app/UpdatesScreen.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>

#include "app/ScreenHost.h"
#include "app/ScreenMargins.h"
#include "editor/TForm2.h"
#include "platform/CommandGuard.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"

namespace zor::app {
namespace {

const QString CheckFailed =
    QStringLiteral("При попытке проверить наличие обновлений произошла ошибка...");
// A notice line longer than any version is cut for the label.
constexpr qsizetype ShownVersionLength = 40;

QPushButton* button(const char* name, const QString& text) {
    auto* b = new QPushButton(text);
    b->setObjectName(QLatin1String(name));
    return b;
}

QLabel* resultLabel(const char* name, const QString& text) {
    auto* l = new QLabel(text);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);  // parts of it come from the server
    l->setWordWrap(true);
    l->hide();
    return l;
}

}  // namespace

UpdatesScreen::UpdatesScreen(ScreenHost& host, OpenSiteState& state, QWidget* parent)
    : QWidget(parent), host_(host), state_(state) {
    setObjectName(QStringLiteral("UpdatesScreen"));
    auto* intro =
        new QLabel(QStringLiteral("Выберите какие обновления Вы хотите проверить: "
                                  "только расширения или всю систему"));
    intro->setWordWrap(true);
    SpeedButton11 = button("SpeedButton11", QStringLiteral("Расширения"));
    SpeedButton12 = button("SpeedButton12", QStringLiteral("Систему"));
    ExtensionResult = resultLabel(
        "ExtensionResult", QStringLiteral("Есть новые расширения. Какие хотите установить?"));
    SystemResult =
        resultLabel("SystemResult", QStringLiteral("Поздравляем, у Вас последняя версия!"));
    Button10 = button("Button10", QStringLiteral("Скачать"));
    Button10->hide();
    CheckListBox1 = new QListWidget;
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    CheckListBox1->hide();
    CheckListBox1->setAccessibleName(QStringLiteral("Новые расширения"));
    button9 = button("button9", QStringLiteral("Установить"));
    button9->hide();

    auto* checks = new QHBoxLayout;
    checks->addWidget(SpeedButton11);
    checks->addWidget(SpeedButton12);
    checks->addStretch();
    // The two answers share one place, and so do "Скачать" and the list: a check shows one
    // of each pair at most.
    auto* results = new QGridLayout;
    results->addWidget(ExtensionResult, 0, 0);
    results->addWidget(SystemResult, 0, 0);
    results->addWidget(CheckListBox1, 1, 0);
    results->addWidget(Button10, 1, 0, Qt::AlignLeft | Qt::AlignTop);
    results->addWidget(button9, 2, 0, Qt::AlignLeft);
    results->setRowStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(ScreenMargins);
    layout->addWidget(intro);
    layout->addLayout(checks);
    layout->addSpacing(8);
    layout->addLayout(results, 1);

    connectGuarded(SpeedButton12, &QPushButton::clicked, this, [this] { SpeedButton12Click(); });
    connectGuarded(SpeedButton11, &QPushButton::clicked, this, [this] { SpeedButton11Click(); });
    connectGuarded(Button10, &QPushButton::clicked, this, [this] { Button10Click(); });
    connectGuarded(button9, &QPushButton::clicked, this, [this] { button9Click(); });
}

QString UpdatesScreen::updaterPath() const {
    return state_.sitePath + QStringLiteral("/update");
}

update::UpdateCheck UpdatesScreen::check() {
    return update::UpdateCheck(http, server, state_.sitePath);
}

bool UpdatesScreen::runNetwork(const QString& title,
                               const std::function<void(ProgressWindow&)>& command) {
    const ProgressWindow::Setup setup{QStringLiteral("UpdateProgress"), title,
                                      QStringLiteral("Соединение с сервером обновлений\u2026"),
                                      false};
    return host_.commands().run(host_.mainWindow(), setup, [&](ProgressWindow& progress) {
        if (state_.siteName.isEmpty()) {
            throw ZorError(QStringLiteral("Сайт не открыт: сначала создайте или выберите сайт."));
        }
        http.Pump = [&progress] { progress.pump(); };
        const auto unhook = qScopeGuard([this] { http.Pump = nullptr; });
        command(progress);
    });
}

void UpdatesScreen::SpeedButton12Click() {
    CheckListBox1->hide();
    button9->hide();
    ExtensionResult->hide();
    std::optional<update::SystemCheck> result;
    if (!runNetwork(QStringLiteral("Проверка обновлений"),
                    [&](ProgressWindow&) { result = check().checkSystem(); })) {
        return;
    }
    if (!result) {
        dialogs::showError(host_.mainWindow(), CheckFailed);
        return;
    }
    if (result->newer) {
        QString version = result->firstLine;
        if (version.size() > ShownVersionLength) {
            version = version.left(ShownVersionLength) + u'\u2026';
        }
        SystemResult->setText(QStringLiteral("Есть новая версия дистрибутива. Скачать версию ") +
                              version + u'?');
    } else {
        SystemResult->setText(QStringLiteral("Поздравляем, у Вас последняя версия!"));
    }
    // Offered exactly when there is something newer, whatever an earlier check found.
    Button10->setVisible(result->newer);
    SystemResult->show();
}

void UpdatesScreen::SpeedButton11Click() {
    for (QWidget* w : {static_cast<QWidget*>(Button10), static_cast<QWidget*>(CheckListBox1),
                       static_cast<QWidget*>(button9), static_cast<QWidget*>(ExtensionResult),
                       static_cast<QWidget*>(SystemResult)}) {
        w->hide();
    }
    std::optional<QStringList> offered;
    if (!runNetwork(QStringLiteral("Проверка расширений"),
                    [&](ProgressWindow&) { offered = check().checkExtensions(); })) {
        return;
    }
    if (!offered) {
        dialogs::showError(host_.mainWindow(), CheckFailed);
        return;
    }
    CheckListBox1->clear();
    for (const QString& line : *offered) {
        auto* item = new QListWidgetItem(line, CheckListBox1);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    if (offered->isEmpty()) {
        ExtensionResult->setText(QStringLiteral("Поздравляем, у Вас есть все расширения!"));
    } else {
        ExtensionResult->setText(QStringLiteral("Есть новые расширения. Какие хотите установить?"));
        CheckListBox1->show();
        button9->show();
    }
    ExtensionResult->show();
}

void UpdatesScreen::button9Click() {
    QStringList ticked;
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        if (CheckListBox1->item(i)->checkState() == Qt::Checked) {
            ticked.append(CheckListBox1->item(i)->text());
        }
    }
    if (ticked.isEmpty()) {
        return;
    }
    update::UpdateCheck::InstallReport report;
    runNetwork(QStringLiteral("Установка расширений"), [&](ProgressWindow& progress) {
        check().install(ticked, report, [&progress](int k, int n, const QString& name) {
            progress.setStage(QStringLiteral("Установка расширений: %1 из %2").arg(k).arg(n));
            progress.setItemName(name);
            progress.setBar(k - 1, n);
            progress.pump();
        });
    });
    // Even an install that stopped early may have put some in place.
    if (!report.installed.isEmpty()) {
        host_.editor().reloadExtensions();
    }
    if (!report.failed.isEmpty()) {
        dialogs::showError(
            host_.mainWindow(),
            QStringLiteral("Не удалось установить расширения:\n") + report.failed.join(u'\n'));
    }
}

void UpdatesScreen::Button10Click() {
    if (host_.commands().busy()) {
        return;
    }
    if (!QProcess::startDetached(updaterPath(), {}, state_.sitePath)) {
        throw ZorError(
            QStringLiteral("Не удалось запустить программу обновления \u00AB%1\u00BB. "
                           "Она должна лежать в папке сайта под именем \u00ABupdate\u00BB "
                           "и быть исполняемым файлом.")
                .arg(updaterPath()));
    }
    host_.mainWindow()->close();
}

}  // namespace zor::app
