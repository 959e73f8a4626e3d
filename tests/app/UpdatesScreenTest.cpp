#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "AppFixture.h"
#include "app/UpdatesScreen.h"
#include "editor/TForm2.h"
#include "support/Http.h"

using namespace zor;
using namespace zor::test;

namespace {

const QString CheckFailed = "При попытке проверить наличие обновлений произошла ошибка...";

struct UpdatesScreenTest : AppFixture, ServedFolder {
    void SetUp() override {
        ASSERT_TRUE(server.started());
        root.makeSite("alpha");
        root.makeSite("beta");
        // The whole program is pointed at the local server, as a mirror would be.
        qputenv("ZOROD_UPDATE_SERVER", server.address().toUtf8() + "/");
        start();
        screen().http.StallTimeout = std::chrono::seconds(1);
        clickLabel("Label93");
    }
    void TearDown() override { qunsetenv("ZOROD_UPDATE_SERVER"); }
    app::UpdatesScreen& screen() { return *form().updatesScreen(); }
    QString site() { return root.sitePath("alpha"); }
    // Which of the answer widgets show: "E" and "S" for the two labels, "D" for "Скачать", "L"
    // for the list and "I" for "Установить".
    QString shown() {
        QString s;
        const std::pair<QWidget*, char> widgets[] = {{screen().ExtensionResult, 'E'},
                                                     {screen().SystemResult, 'S'},
                                                     {screen().Button10, 'D'},
                                                     {screen().CheckListBox1, 'L'},
                                                     {screen().button9, 'I'}};
        for (const auto& [w, c] : widgets) {
            if (w->isVisible()) {
                s += QLatin1Char(c);
            }
        }
        return s;
    }
    QStringList listed() {
        QStringList items;
        for (int i = 0; i < screen().CheckListBox1->count(); ++i) {
            QListWidgetItem* item = screen().CheckListBox1->item(i);
            items.append(item->text() + (item->checkState() == Qt::Checked ? " +" : " -"));
        }
        return items;
    }
    QStringList extensionEntries() { return items(app->form2().ComboBox1); }
};

}  // namespace

TEST_F(UpdatesScreenTest, EachCheckShowsItsAnswerAndHidesTheOther) {
    EXPECT_EQ(shown(), "");
    EXPECT_TRUE(screen().SpeedButton11->isVisible());
    EXPECT_TRUE(screen().SpeedButton12->isVisible());
    writeFile(site() + "/extentions/vote.ex", "<?php //Голосование ?>\r\n");

    serve("/update/distr.up", "3.1\r\n");
    click(screen().SpeedButton12);
    EXPECT_EQ(shown(), "SD");
    EXPECT_EQ(screen().SystemResult->text(), "Есть новая версия дистрибутива. Скачать версию 3.1?");
    // Nothing newer any more: nothing offered either.
    serve("/update/distr.up", "3.0\r\n");
    click(screen().SpeedButton12);
    EXPECT_EQ(shown(), "S");
    serve("/update/distr.up", "4.0\r\n");
    click(screen().SpeedButton12);
    EXPECT_EQ(shown(), "SD");

    serve("/update/ex.up", crlf({"vote.ex |Голосование", "news.ex |Новости", "form.ex |Форма"}));
    click(screen().SpeedButton11);
    EXPECT_EQ(shown(), "ELI");
    EXPECT_EQ(screen().ExtensionResult->text(), "Есть новые расширения. Какие хотите установить?");
    EXPECT_EQ(listed(), (QStringList{"news.ex |Новости +", "form.ex |Форма +"}));

    serve("/update/distr.up", "3.0\r\n");
    click(screen().SpeedButton12);
    EXPECT_EQ(shown(), "S");
    EXPECT_EQ(screen().SystemResult->text(), "Поздравляем, у Вас последняя версия!");

    serve("/update/ex.up", crlf({"vote.ex |Голосование"}));
    click(screen().SpeedButton11);
    EXPECT_EQ(shown(), "E");
    EXPECT_EQ(screen().ExtensionResult->text(), "Поздравляем, у Вас есть все расширения!");
    EXPECT_EQ(server.requests().count("/update/ex.up"), 2);
}

TEST_F(UpdatesScreenTest, AFailedCheckSaysSoAndShowsNoAnswer) {
    serve("/update/distr.up", "3.1\r\n");
    serve("/update/ex.up", crlf({"news.ex |Новости"}));
    const struct {
        const char* what;
        QString server;
    } cases[] = {
        {"not found", server.address() + "/nothing"},
        {"no server", QStringLiteral("http://127.0.0.1:%1").arg(freeLoopbackPort())},
        {"a server that never answers", server.address() + "/silent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        screen().server = c.server;
        for (QPushButton* check : {screen().SpeedButton12, screen().SpeedButton11}) {
            dialogs.expectMessage(CheckFailed);
            click(check);
            EXPECT_TRUE(dialogs.satisfied());
            EXPECT_EQ(shown(), "");
            EXPECT_FALSE(QFile::exists(site() + "/update.tmp"));
        }
    }
}

TEST_F(UpdatesScreenTest, InstallsTheTickedExtensionsAndTheEditorListsThemAtOnce) {
    serve("/update/ex.up",
          crlf({"a.ex |Первое", "b.ex |Второе", "gone.ex |Пропавшее", "c.ex |Третье"}));
    serve("/update/extentions/a.ex", crlf({"<?php //Голосование ?>", "<p>a</p>"}));
    serve("/update/extentions/b.ex", "b");
    serve("/update/extentions/c.ex", crlf({"<?php //Форма ?>"}));
    click(screen().SpeedButton11);
    screen().CheckListBox1->item(1)->setCheckState(Qt::Unchecked);

    dialogs.expectMessage("Не удалось установить расширения:\ngone.ex");
    click(screen().button9);

    EXPECT_EQ(readFile(site() + "/extentions/a.ex"), crlf({"<?php //Голосование ?>", "<p>a</p>"}));
    EXPECT_EQ(readFile(site() + "/extentions/c.ex"), crlf({"<?php //Форма ?>"}));
    EXPECT_FALSE(QFile::exists(site() + "/extentions/b.ex"));
    EXPECT_FALSE(server.requests().contains("/update/extentions/b.ex"));
    EXPECT_EQ(extensionEntries(), (QStringList{"/Голосование  [a.ex]", "/Форма  [c.ex]"}));
    // The list stays as it was, ready for another try.
    EXPECT_EQ(shown(), "ELI");
}

TEST_F(UpdatesScreenTest, CancelEndsAnInstallAndNothingSwitchesTheSiteMeanwhile) {
    screen().http.StallTimeout = std::chrono::seconds(60);
    serve("/update/ex.up", crlf({"a.ex |Первое", "stall.ex |Зависшее"}));
    serve("/update/extentions/a.ex", "<?php //A ?>");
    click(screen().SpeedButton11);
    // Installed meanwhile by hand: the one the install would replace.
    writeFile(site() + "/extentions/stall.ex", "old");

    QString seen;
    bool duringRun = false;
    dialogs.onOtherModal = [&](QWidget* progress) {
        auto* timer = new QTimer(progress);
        QObject::connect(timer, &QTimer::timeout, progress, [&, progress] {
            for (QLabel* l : progress->findChildren<QLabel*>()) {
                seen += l->text() + '|';
            }
            if (seen.contains("Установка расширений: 2 из 2|stall.ex|")) {
                duringRun = form().commands().busy();
                child<QComboBox>("sitesbox")->setCurrentIndex(1);
                form().sitesboxSelect();
                progress->findChild<QPushButton*>("CancelButton")->click();
            }
        });
        timer->start(20);
    };
    click(screen().button9);

    EXPECT_TRUE(duringRun);
    EXPECT_EQ(state().siteName, "alpha");
    EXPECT_FALSE(form().commands().busy());
    EXPECT_EQ(readFile(site() + "/extentions/a.ex"), "<?php //A ?>");
    EXPECT_EQ(readFile(site() + "/extentions/stall.ex"), "old");
    EXPECT_EQ(QDir(site() + "/extentions").entryList(QDir::Files),
              (QStringList{"a.ex", "stall.ex"}));
    EXPECT_EQ(extensionEntries(), (QStringList{"/A  [a.ex]", " [stall.ex]"}));
}

TEST_F(UpdatesScreenTest, DownloadStartsTheUpdaterAndClosesTheWindow) {
    serve("/update/distr.up", "3.1\r\n");
    click(screen().SpeedButton12);

    // Without an updater the window stays and says why.
    dialogs.expectMessage("Не удалось запустить программу обновления");
    click(screen().Button10);
    EXPECT_TRUE(form().isVisible());

    // The updater tells how many arguments it got and where it ran.
    const QString updater = site() + "/update";
    writeFile(updater, "#!/bin/sh\necho \"$# $(pwd)\" > started.txt\n");
    QFile::setPermissions(updater, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    click(screen().Button10);
    EXPECT_FALSE(form().isVisible());
    const QString started = site() + "/started.txt";
    const QByteArray expected = "0 " + QFile::encodeName(site()) + "\n";
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QFile::exists(started) && readFile(started) == expected; }));
}
