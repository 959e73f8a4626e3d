#include "app/UpdatesScreen.h"

#include <QCoreApplication>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "app/PublishProgress.h"
#include "app/ScreenMargins.h"
#include "app/TForm1.h"
#include "editor/TForm2.h"
#include "platform/CommandGuard.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"

namespace zor::app {

// The progress of one command on the update server, with Cancel: window-modal over the main
// window once the command lasts; until then its pump lets no user input through.
class UpdateProgress : public QDialog {
public:
    UpdateProgress(QWidget* window, const QString& title) : QDialog(window) {
        setObjectName(QStringLiteral("UpdateProgress"));
        setWindowTitle(title);
        setWindowModality(Qt::WindowModal);
        setMinimumWidth(420);
        stage_ = new QLabel(QStringLiteral("Соединение с сервером обновлений\u2026"));
        name_ = new QLabel;
        name_->setTextFormat(Qt::PlainText);
        bar_ = new QProgressBar;
        bar_->setRange(0, 0);
        bar_->setTextVisible(false);
        cancelButton_ = new QPushButton(QStringLiteral("Отмена"));
        cancelButton_->setObjectName(QStringLiteral("CancelButton"));
        connect(cancelButton_, &QPushButton::clicked, this, [this] { reject(); });
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(stage_);
        layout->addWidget(name_);
        layout->addWidget(bar_);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(cancelButton_);
        layout->addLayout(buttons);
        showTimer_.setSingleShot(true);
        connect(&showTimer_, &QTimer::timeout, this, [this] { show(); });
        showTimer_.start(PublishProgress::ShowAfter);
    }

    void setItem(int k, int n, const QString& name) {
        stage_->setText(QStringLiteral("Установка расширений: %1 из %2").arg(k).arg(n));
        name_->setText(name);
        bar_->setRange(0, n);
        bar_->setValue(k - 1);
    }

    // Lets pending events run now and then; throws Cancelled once Cancel was pressed.
    void pump() {
        if (!cancel_) {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastPump_ < std::chrono::milliseconds(20)) {
                return;
            }
            lastPump_ = now;
            QCoreApplication::processEvents(isVisible() ? QEventLoop::AllEvents
                                                        : QEventLoop::ExcludeUserInputEvents);
        }
        if (cancel_) {
            throw Cancelled();
        }
    }

protected:
    void reject() override {  // Cancel, Esc and the window's close button
        cancel_ = true;
        cancelButton_->setEnabled(false);
        stage_->setText(QStringLiteral("Прерывание\u2026"));
    }

private:
    QLabel* stage_;
    QLabel* name_;
    QProgressBar* bar_;
    QPushButton* cancelButton_;
    QTimer showTimer_;
    bool cancel_ = false;
    std::chrono::steady_clock::time_point lastPump_{};
};

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

UpdatesScreen::UpdatesScreen(TForm1& form, OpenSiteState& state, QWidget* parent)
    : QWidget(parent), form_(form), state_(state) {
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
                               const std::function<void(UpdateProgress&)>& command) {
    if (form_.publishing()) {
        return false;
    }
    if (state_.siteName.isEmpty()) {
        throw ZorError(QStringLiteral("Сайт не открыт: сначала создайте или выберите сайт."));
    }
    bool finished = false;
    QString error;
    {
        form_.setPublishing(true);
        UpdateProgress progress(&form_, title);
        http.Pump = [&progress] { progress.pump(); };
        const auto done = qScopeGuard([this] {
            http.Pump = nullptr;
            form_.setPublishing(false);
        });
        try {
            command(progress);
            finished = true;
        } catch (const Cancelled&) {
        } catch (const ZorError& e) {
            error = e.text();
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what());
        }
    }
    if (!error.isEmpty()) {
        dialogs::showError(&form_, error);
    }
    return finished;
}

void UpdatesScreen::SpeedButton12Click() {
    CheckListBox1->hide();
    button9->hide();
    ExtensionResult->hide();
    std::optional<update::SystemCheck> result;
    if (!runNetwork(QStringLiteral("Проверка обновлений"),
                    [&](UpdateProgress&) { result = check().checkSystem(); })) {
        return;
    }
    if (!result) {
        dialogs::showError(&form_, CheckFailed);
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
                    [&](UpdateProgress&) { offered = check().checkExtensions(); })) {
        return;
    }
    if (!offered) {
        dialogs::showError(&form_, CheckFailed);
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
    runNetwork(QStringLiteral("Установка расширений"), [&](UpdateProgress& progress) {
        check().install(ticked, report, [&progress](int k, int n, const QString& name) {
            progress.setItem(k, n, name);
            progress.pump();
        });
    });
    // Even an install that stopped early may have put some in place.
    if (!report.installed.isEmpty()) {
        form_.editor().reloadExtensions();
    }
    if (!report.failed.isEmpty()) {
        dialogs::showError(&form_, QStringLiteral("Не удалось установить расширения:\n") +
                                       report.failed.join(u'\n'));
    }
}

void UpdatesScreen::Button10Click() {
    if (form_.publishing()) {
        return;
    }
    if (!QProcess::startDetached(updaterPath(), {}, state_.sitePath)) {
        throw ZorError(
            QStringLiteral("Не удалось запустить программу обновления \u00AB%1\u00BB. "
                           "Она должна лежать в папке сайта под именем \u00ABupdate\u00BB "
                           "и быть исполняемым файлом.")
                .arg(updaterPath()));
    }
    form_.close();
}

}  // namespace zor::app
