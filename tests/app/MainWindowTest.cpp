#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <cstdlib>

#include "AppFixture.h"
#include "editor/TForm2.h"
#include "files/TForm4.h"
#include "platform/CommandGuard.h"
#include "platform/TextFile.h"
#include "publish/AccountSettings.h"
#include "site/SiteWorkspace.h"
#include "support/WheelEvents.h"

using namespace zor;
using namespace zor::test;

namespace {

struct MainWindowTest : AppFixture {
    void SetUp() override {
        root.makeSite("alpha");
        root.makeSite("beta");
    }
    // The site open now, as the caption, the selector and the state all say.
    void expectOpen(const QString& name) {
        EXPECT_EQ(form().windowTitle(), "ZOR OD v3.0 - " + name);
        EXPECT_EQ(child<QComboBox>("sitesbox")->currentText(), name);
        EXPECT_EQ(state().sitePath, root.sitePath(name));
    }
};

}  // namespace

TEST_F(MainWindowTest, StartUpOpensTheFirstSiteAndShowsTheMainMenu) {
    textfile::writeLines(root.sitePath("alpha") + "/etc/head.txt",
                         {"#    path", "0001 Альфа : Главная", "0002 Альфа : Контакты", "#"});
    test::writeFile(root.sitePath("alpha") + "/etc/blocs/menu.tq", "m");
    start();
    expectOpen("alpha");
    EXPECT_EQ(child<QLabel>("header")->text(), "Главное меню");
    EXPECT_EQ(form().currentScreen()->objectName(), "MainMenuScreen");
    EXPECT_EQ(sites(), (QStringList{"alpha", "beta"}));

    EXPECT_EQ(items(child<QComboBox>("ComboBox1")),
              (QStringList{"1 - Главная", "2 - Контакты", "..."}));
    EXPECT_EQ(child<QLineEdit>("Edit31")->text(), "Альфа");
    EXPECT_TRUE(child<QPlainTextEdit>("Memo1")->toPlainText().contains("{{content}}"));
    EXPECT_EQ(items(child<QListWidget>("ListBox2")), (QStringList{"menu", "..."}));
    EXPECT_EQ(child<QLineEdit>("Edit4")->text(), "/");
}

TEST_F(MainWindowTest, ClosingRewritesBothIndexFilesWithTheEditedSiteTitle) {
    start();
    child<QLineEdit>("Edit31")->setText("Мой сайт");
    EXPECT_EQ(state().siteTitle, "Мой сайт");
    EXPECT_TRUE(form().close());
    EXPECT_EQ(test::readFile(root.sitePath("alpha") + "/etc/head.txt"),
              test::crlf({"#    path", "0001 Мой сайт : Главная", "#"}));
    EXPECT_EQ(test::readFile(root.sitePath("alpha") + "/etc/file.txt"),
              test::crlf({"#    path", "0001 1.tq", "#"}));
    // The other site is left as it was made.
    EXPECT_EQ(test::readFile(root.sitePath("beta") + "/etc/head.txt"),
              test::crlf({"# path", "0001 Новый сайт : Главная", "#"}));
}

TEST_F(MainWindowTest, AWheelNotchOverTheSiteSelectorSwitchesNothing) {
    start();
    form().show();
    auto* box = child<QComboBox>("sitesbox");
    test::turnWheel(box, -1);
    expectOpen("alpha");
    EXPECT_EQ(state().siteName, "alpha");
}

TEST_F(MainWindowTest, PickingAnotherSiteSavesTheOpenOneFirst) {
    start();
    child<QLineEdit>("Edit31")->setText("Первый");
    chooseSite(sites()[1]);
    expectOpen("beta");
    EXPECT_EQ(test::readFile(root.sitePath("alpha") + "/etc/head.txt"),
              test::crlf({"#    path", "0001 Первый : Главная", "#"}));
    EXPECT_EQ(child<QLineEdit>("Edit31")->text(), "Новый сайт");
    EXPECT_EQ(child<QLabel>("header")->text(), "Главное меню");  // the screen does not change
}

TEST_F(MainWindowTest, NoSiteAtAllTellsHowToCreateOne) {
    QDir(root.sitePath("alpha")).removeRecursively();
    QDir(root.sitePath("beta")).removeRecursively();
    dialogs.expectQuestion("Новый", QMessageBox::Ok);
    start();
    EXPECT_EQ(form().windowTitle(), "ZOR OD v3.0");
    EXPECT_TRUE(state().siteName.isEmpty());
    // Closing with no site open writes nothing anywhere.
    EXPECT_TRUE(form().close());
    EXPECT_TRUE(QDir(root.root()).entryList(QDir::Files).isEmpty());
}

TEST_F(MainWindowTest, FirstRunCreatesTheFirstSiteAndOpensIt) {
    QDir(root.sitePath("alpha")).removeRecursively();
    QDir(root.sitePath("beta")).removeRecursively();
    // The offer says where the sites go. A name that cannot be a folder brings it back after
    // its error; so does Cancel.
    dialogs.expectQuestion(
        "Сайты хранятся в папке \u00AB" + QDir::cleanPath(root.root()) + "\u00BB",
        QString("Создать сайт"));
    dialogs.expectInput(QString("a/b"));
    dialogs.expectMessage("не подходит");
    dialogs.expectQuestion("Создать сайт", QString("Создать сайт"));
    dialogs.expectInput(std::nullopt);
    dialogs.expectQuestion("Создать сайт", QString("Создать сайт"));
    dialogs.expectInput(QString("first"));
    start();
    EXPECT_TRUE(dialogs.satisfied());
    EXPECT_EQ(sites(), QStringList{"first"});
    expectOpen("first");
    EXPECT_EQ(child<QLineEdit>("Edit31")->text(), "Новый сайт");
    EXPECT_EQ(child<QComboBox>("ComboBox1")->itemText(0), "1 - Главная");
    EXPECT_TRUE(child<QPlainTextEdit>("Memo1")->toPlainText().contains("{{content}}"));
}

TEST_F(MainWindowTest, AllThreeWindowsShowTheProgramIcon) {
    start();
    for (QWidget* window : std::initializer_list<QWidget*>{&form(), &app->form2(), &app->form4()}) {
        // Drawn from the SVG: the blue tile at its left edge, the white page in the middle.
        const QImage icon = window->windowIcon().pixmap(64).toImage();
        ASSERT_EQ(icon.size(), QSize(64, 64)) << window->objectName().toStdString();
        const QColor tile = icon.pixelColor(5, 32);
        EXPECT_GT(tile.blue(), tile.red() + 60) << window->objectName().toStdString();
        EXPECT_EQ(icon.pixelColor(20, 46), QColor(Qt::white)) << window->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, ABrokenSiteOpensWithAnErrorAndNothingOfThePreviousSiteOnScreen) {
    publish::storeFtpAccount(*settings, "alpha", {"ftp.alpha", "al", "secret", "/www"});
    QFile::remove(root.sitePath("beta") + "/etc/desing/theme.html");
    start();
    EXPECT_EQ(child<QLineEdit>("Edit1")->text(), "ftp.alpha");
    EXPECT_TRUE(child<QCheckBox>("CheckBox2")->isChecked());
    dialogs.expectMessage("theme.html");
    chooseSite(sites()[1]);
    EXPECT_EQ(form().windowTitle(), "ZOR OD v3.0 - beta");
    EXPECT_TRUE(child<QPlainTextEdit>("Memo1")->toPlainText().isEmpty());
    EXPECT_TRUE(child<QLineEdit>("Edit1")->text().isEmpty());  // alpha's account is gone
    EXPECT_EQ(child<QComboBox>("ComboBox1")->itemText(0), "1 - Главная");
}

TEST_F(MainWindowTest, TheStoredAccountIsShownAndSavedWhenRemembered) {
    publish::storeFtpAccount(*settings, "alpha", {"ftp.example.org", "user", "пароль!", "/www"});
    start();
    EXPECT_EQ(child<QLineEdit>("Edit1")->text(), "ftp.example.org");
    EXPECT_EQ(child<QLineEdit>("Edit2")->text(), "user");
    EXPECT_EQ(child<QLineEdit>("Edit3")->text(), "пароль!");
    EXPECT_EQ(child<QLineEdit>("Edit4")->text(), "/www");
    EXPECT_TRUE(child<QCheckBox>("CheckBox2")->isChecked());
    // Stored scrambled, not in plain text.
    const auto stored = settings->readValue("software\\ZOR-OD\\alpha\\ftp", "pass");
    ASSERT_TRUE(stored.has_value());
    EXPECT_NE(*stored, "пароль!");
    EXPECT_EQ(stored->size(), 7);

    child<QLineEdit>("Edit1")->setText("ftp.other.org");
    EXPECT_EQ(state().ftpAccount.host, "ftp.other.org");
    EXPECT_TRUE(form().close());
    EXPECT_EQ(settings->readValue("software\\ZOR-OD\\alpha\\ftp", "host"),
              QString("ftp.other.org"));
    EXPECT_EQ(publish::loadFtpAccount(*settings, "alpha").password, QString("пароль!"));
}

TEST_F(MainWindowTest, NewSiteIsCreatedAndListedButNotOpened) {
    start();
    dialogs.expectInput(QString("gamma"));
    siteCommand("Новый");
    EXPECT_EQ(dialogs.inputCaptions, QStringList{"Новый сайт"});
    EXPECT_EQ(dialogs.inputPrompts, QStringList{"Пожалуйста, укажите имя"});
    EXPECT_EQ(sites(), (QStringList{"alpha", "beta", "gamma"}));
    expectOpen("alpha");
    EXPECT_TRUE(QFileInfo(root.sitePath("gamma") + "/mf/pages/1.tq").isFile());

    dialogs.expectInput(std::nullopt);  // cancelled
    siteCommand("Новый");
    dialogs.expectInput(QString(""));  // empty
    siteCommand("Новый");
    EXPECT_EQ(sites().size(), 3);

    dialogs.expectInput(QString("beta"));  // taken
    dialogs.expectMessage("beta");
    siteCommand("Новый");
    dialogs.expectInput(QString("../out"));  // not a folder inside the program's folder
    dialogs.expectMessage("../out");
    siteCommand("Новый");
    EXPECT_TRUE(dialogs.satisfied());
    EXPECT_FALSE(QFileInfo::exists(root.root() + "../out"));
    EXPECT_EQ(sites().size(), 3);
}

TEST_F(MainWindowTest, RenameChangesTheOpenSiteAndAFailedRenameChangesNothing) {
    start();
    dialogs.expectInput(QString("beta"));  // taken
    dialogs.expectMessage("beta");
    siteCommand("Переименовать");
    EXPECT_TRUE(dialogs.satisfied());
    expectOpen("alpha");
    EXPECT_EQ(sites(), (QStringList{"alpha", "beta"}));
    EXPECT_TRUE(QFileInfo(root.sitePath("alpha")).isDir());

    dialogs.expectInput(QString("омега"));
    siteCommand("Переименовать");
    EXPECT_EQ(dialogs.inputCaptions.last(), "Переименовать");
    EXPECT_EQ(dialogs.inputPrompts.last(), "Пожалуйста, укажите новое имя");
    expectOpen("омега");
    EXPECT_EQ(sites(), (QStringList{"омега", "beta"}));
    EXPECT_EQ(state().siteName, "омега");
    EXPECT_FALSE(QFileInfo::exists(root.sitePath("alpha")));
    // Saving now goes into the renamed folder.
    EXPECT_TRUE(form().close());
    EXPECT_TRUE(QFile::exists(root.sitePath("омега") + "/etc/file.txt"));
}

TEST_F(MainWindowTest, CopyBecomesTheOpenSiteAndASecondCopyIsRefused) {
    start();
    child<QLineEdit>("Edit31")->setText("Несохранённое имя");
    siteCommand("Сделать копию");
    const QString copy = "alpha - копия";
    expectOpen(copy);
    EXPECT_TRUE(QFileInfo(root.sitePath(copy) + "/etc/desing/theme.html").isFile());

    // Back to alpha, then copy again: the name is taken.
    chooseSite(sites()[0]);
    dialogs.expectMessage(copy);
    siteCommand("Сделать копию");
    EXPECT_TRUE(dialogs.satisfied());
    expectOpen("alpha");
    EXPECT_EQ(sites().count(copy), 1);
    // The unsaved title went into the copy at the switch.
    EXPECT_TRUE(test::readFile(root.sitePath(copy) + "/etc/head.txt")
                    .contains(zor::test::cp1251(u"Несохранённое имя")));
}

TEST_F(MainWindowTest, DeleteAsksThenRemovesTheSiteAndOpensTheFirst) {
    root.makeSite("gamma");
    start();
    // Deleting the first of three opens the one that was second.
    dialogs.expectQuestion("Удалить сайт «alpha»", QMessageBox::No);
    siteCommand("Удалить");
    EXPECT_TRUE(QFileInfo(root.sitePath("alpha")).isDir());
    EXPECT_EQ(sites().size(), 3);

    dialogs.expectQuestion("Удалить сайт «alpha»", QMessageBox::Yes);
    siteCommand("Удалить");
    EXPECT_FALSE(QFileInfo::exists(root.sitePath("alpha")));
    EXPECT_EQ(sites(), (QStringList{"beta", "gamma"}));
    expectOpen("beta");

    // Deleting the second opens the first.
    chooseSite(sites()[1]);
    dialogs.expectQuestion("Удалить сайт «gamma»", QMessageBox::Yes);
    siteCommand("Удалить");
    EXPECT_EQ(sites(), QStringList{"beta"});
    expectOpen("beta");

    dialogs.expectMessage("Это Ваш единственный сайт! Его нельзя удалить!");
    siteCommand("Удалить");
    EXPECT_TRUE(dialogs.satisfied());
    EXPECT_TRUE(QFileInfo(root.sitePath("beta")).isDir());
}

TEST_F(MainWindowTest, AFailedSaveOnCloseAsksBeforeClosingWithoutSaving) {
    start();
    // A folder where the index file should be makes the save fail.
    QFile::remove(root.sitePath("alpha") + "/etc/file.txt");
    QDir().mkpath(root.sitePath("alpha") + "/etc/file.txt/x");
    dialogs.expectQuestion("file.txt", QMessageBox::No);
    EXPECT_FALSE(form().close());
    dialogs.expectQuestion("file.txt", QMessageBox::Yes);
    EXPECT_TRUE(form().close());
}

TEST_F(MainWindowTest, ASiteWhoseEtcFolderWentAwayAsksBeforeClosingWithoutSaving) {
    start();
    child<QLineEdit>("Edit31")->setText("Набранное имя");
    const QString etc = root.sitePath("alpha") + "/etc";
    QDir(etc).removeRecursively();
    dialogs.expectQuestion("«" + etc + "»", QMessageBox::No);
    EXPECT_FALSE(form().close());
    EXPECT_TRUE(dialogs.satisfied());
    dialogs.expectQuestion("«" + etc + "»", QMessageBox::Yes);
    EXPECT_TRUE(form().close());
    EXPECT_FALSE(QFileInfo::exists(etc));
}

TEST_F(MainWindowTest, ContextMenuShortcutsAreTheGivenOnes) {
    start();
    EXPECT_EQ(form().findChild<QAction*>("SpeedButton1")->shortcut(), QKeySequence("Ctrl+N"));
    EXPECT_EQ(form().findChild<QAction*>("N1")->shortcut(), QKeySequence("Ctrl+R"));
    EXPECT_EQ(form().findChild<QAction*>("N5")->shortcut(), QKeySequence("Ctrl+Del"));
    QStringList texts;
    for (QAction* a : form().PopupMenu3->actions()) {
        texts.append(a->text());
    }
    EXPECT_EQ(texts, (QStringList{"Новый", "Переименовать", "Удалить", "Сделать копию"}));

    // Ctrl+N typed into the focused selector asks for a new site's name.
    form().show();
    QApplication::setActiveWindow(&form());
    auto* box = child<QComboBox>("sitesbox");
    box->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form()));
    dialogs.expectInput(QString("viakeys"));
    QTest::keyClick(box, Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(QFileInfo(root.sitePath("viakeys")).isDir());
}

TEST_F(MainWindowTest, AStrayFolderWithoutEtcDoesNotStrandTheUser) {
    QDir().mkdir(root.sitePath("aaa"));  // sorts first
    dialogs.expectMessage("aaa");
    start();
    expectOpen("aaa");
    chooseSite(sites()[1]);
    expectOpen("alpha");
    EXPECT_EQ(child<QLineEdit>("Edit31")->text(), "Новый сайт");
    EXPECT_FALSE(QFileInfo::exists(root.sitePath("aaa") + "/etc"));
    dialogs.expectMessage("aaa");
    chooseSite(sites()[0]);
    EXPECT_TRUE(form().close());
    EXPECT_FALSE(QFileInfo::exists(root.sitePath("aaa") + "/etc"));
}

TEST_F(MainWindowTest, AFailedSaveAtASwitchAsksBeforeSwitchingWithoutSaving) {
    start();
    QFile::remove(root.sitePath("alpha") + "/etc/file.txt");
    QDir().mkpath(root.sitePath("alpha") + "/etc/file.txt/x");
    dialogs.expectQuestion("file.txt", QMessageBox::No);
    chooseSite(sites()[1]);
    expectOpen("alpha");
    dialogs.expectQuestion("file.txt", QMessageBox::Yes);
    chooseSite(sites()[1]);
    EXPECT_TRUE(dialogs.satisfied());
    expectOpen("beta");
}

TEST_F(MainWindowTest, OpeningASiteClearsTheLeftoversOfAnInterruptedSave) {
    const QString alpha = root.sitePath("alpha");
    const QStringList leftovers{"/zorod-saving-Ab12Cd", "/etc/zorod-saving-000000",
                                "/etc/desing/zorod-saving-qwerty", "/etc/blocs/zorod-saving-x1y2z3",
                                "/mf/pages/zorod-saving-QWERTY"};
    // Names of the user's that only look alike, and a folder the saves never write into.
    const QStringList kept{"/etc/zorod-saving-notes.txt", "/etc/zorod-saving-1234567",
                           "/mf/img/zorod-saving-photos"};
    for (const QString& name : leftovers + kept) {
        test::writeFile(alpha + name, "x");
    }
    start();
    for (const QString& name : leftovers + kept) {
        EXPECT_EQ(QFileInfo::exists(alpha + name), kept.contains(name)) << name.toStdString();
    }
}

TEST_F(MainWindowTest, DeletingALinkedSiteLeavesTheFolderItLinksTo) {
    TempRoot elsewhere;
    const QString target = elsewhere.makeSite("real");
    ASSERT_TRUE(QFile::link(target, root.sitePath("linked")));
    start();
    ASSERT_EQ(sites(), (QStringList{"alpha", "beta", "linked"}));
    chooseSite(sites()[2]);
    dialogs.expectQuestion(target, QMessageBox::Yes);
    siteCommand("Удалить");
    EXPECT_TRUE(dialogs.satisfied());
    EXPECT_EQ(sites(), (QStringList{"alpha", "beta"}));
    EXPECT_FALSE(QFileInfo(root.sitePath("linked")).isSymLink());
    EXPECT_TRUE(QFileInfo(target + "/etc/head.txt").isFile());
    EXPECT_TRUE(QFileInfo(target + "/mf/pages/1.tq").isFile());
}

TEST_F(MainWindowTest, TheWindowsAreCentredOnTheScreen) {
    start();
    form().show();
    // As much room on either side, give or take the frame the window system adds.
    const QRect area = form().screen()->availableGeometry();
    auto centred = [&area](const QRect& r) {
        return std::abs((r.left() - area.left()) - (area.right() - r.right())) <= 4 &&
               std::abs((r.top() - area.top()) - (area.bottom() - r.bottom())) <= 4;
    };
    EXPECT_TRUE(centred(form().frameGeometry())) << form().frameGeometry().x();
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, &app->form2(), [&] {
        if (app->form2().isVisible()) {
            EXPECT_TRUE(centred(app->form2().frameGeometry())) << app->form2().frameGeometry().x();
            app->form2().close();
        }
    });
    closer.start(0);
    auto* pages = child<QComboBox>("ComboBox1");
    pages->setCurrentIndex(0);
    emit pages->activated(0);
    EXPECT_FALSE(app->form2().isVisible());
}
