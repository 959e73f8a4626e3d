#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <QComboBox>
#include <QTemporaryDir>
#include "AppFixture.h"
#include "app/ClickLabel.h"
#include "app/ProtocolControls.h"
#include "app/UpdatesScreen.h"
#include "app/UploadScreen.h"
#include "design/TemplateCompiler.h"
#include "platform/CommandGuard.h"
#include "platform/ProgressWindow.h"
#include "platform/TextFile.h"
#include "publish/AccountSettings.h"
#include "publish/ArchiveUpload.h"
#include "publish/FileChangeCache.h"
#include "publish/SiteCheck.h"
#include "site/PageIndex.h"
#include "site/SiteWorkspace.h"
#include "support/FtpServers.h"
#include "support/Http.h"
#include "support/SecretService.h"
#include "support/SshServer.h"

using namespace zor;
using namespace zor::test;

namespace {

const QString FtpKey = "software\\ZOR-OD\\alpha\\ftp";

struct UploadScreenTest : AppFixture {
    void SetUp() override {
        root.makeSite("alpha");
        root.makeSite("beta");
    }
    app::UploadScreen& upload() { return *form().uploadScreen(); }
    // The account of a site remembered for a server; the port is the client's, set after start.
    // Also agreed, as the user would have been asked once, that a server without TLS gets the
    // password in the clear.
    void remember(const QString& site, const FtpServer& server, const QString& folder) {
        FtpAccount account{server.host(), server.user(), server.password(), folder};
        publish::storeFtpAccount(*settings, site, account);
        publish::rememberPlainAccepted(*settings, site, account);
    }
    void startWith(const FtpServer& server) {
        start();
        upload().IdFTP1.Port = server.port();
        upload().IdFTP1.Timeout = std::chrono::seconds(10);
        showForm();
    }
    std::optional<QString> stored(const char* name) { return settings->readValue(FtpKey, name); }
};

}  // namespace

TEST_F(UploadScreenTest, FieldsFollowIntoTheAccountAndTheFolderKeepsOneLeadingSlash) {
    start();
    QTest::keyClicks(upload().Edit1, "ftp.example.org");
    QTest::keyClicks(upload().Edit2, "user");
    upload().Edit3->setText("пароль");
    EXPECT_EQ(state().ftpAccount.host, "ftp.example.org");
    EXPECT_EQ(state().ftpAccount.userName, "user");
    EXPECT_EQ(state().ftpAccount.password, "пароль");
    EXPECT_EQ(upload().Edit5->text(), "//NewFolder");

    upload().Edit4->setText("////mf");
    EXPECT_EQ(upload().Edit4->text(), "/mf");
    EXPECT_EQ(state().ftpAccount.remoteFolder, "/mf");
    EXPECT_EQ(upload().Edit5->text(), "/mf/NewFolder");
    upload().Edit4->clear();
    EXPECT_EQ(state().ftpAccount.remoteFolder, "");

    EXPECT_TRUE(upload().GroupBox1->isHidden());
    upload().CheckBox1->setChecked(true);
    EXPECT_FALSE(upload().GroupBox1->isHidden());
    upload().CheckBox1->setChecked(false);
    EXPECT_TRUE(upload().GroupBox1->isHidden());
}

TEST_F(UploadScreenTest, RememberingWritesTheAccountAndForgettingKeepsTheFolder) {
    // Stored without a folder: had start-up written anything back, "kydkach" would exist.
    SettingsKey key(*settings, FtpKey);
    key.write("host", "ftp.example.org");
    key.write("username", "user");
    key.write("pass", publish::scramblePassword("пароль"));
    start();
    EXPECT_TRUE(upload().CheckBox2->isChecked());
    EXPECT_EQ(upload().Edit4->text(), "/");
    EXPECT_EQ(stored("kydkach"), std::nullopt);

    showForm();
    // Without a keyring, beside the box: the password goes into the settings file.
    EXPECT_FALSE(upload().KeyringNote->isHidden());
    upload().CheckBox2->click();
    EXPECT_EQ(stored("host"), QString(""));
    EXPECT_EQ(stored("username"), QString(""));
    EXPECT_EQ(stored("pass"), QString(""));
    EXPECT_EQ(stored("kydkach"), std::nullopt);

    upload().Edit4->setText("/www");
    upload().CheckBox2->click();
    EXPECT_EQ(stored("host"), QString("ftp.example.org"));
    EXPECT_EQ(stored("username"), QString("user"));
    EXPECT_EQ(stored("kydkach"), QString("/www"));
    ASSERT_TRUE(stored("pass").has_value());
    EXPECT_NE(*stored("pass"), "пароль");
    EXPECT_EQ(publish::unscramblePassword(*stored("pass")), "пароль");
    EXPECT_EQ(upload().Edit3->text(), "пароль");
    EXPECT_EQ(state().ftpAccount.password, "пароль");
}

// With a keyring the box keeps the password there and the settings none; the site opened again
// shows it, and unticking takes it out of the keyring.
TEST_F(UploadScreenTest, WithAKeyringRememberingKeepsThePasswordThere) {
    TestKeyring keyring;
    start();
    showForm();
    EXPECT_TRUE(upload().KeyringNote->isHidden());
    upload().Edit1->setText("ftp.example.org");
    upload().Edit2->setText("user");
    upload().Edit3->setText("пароль");
    upload().CheckBox2->click();
    EXPECT_EQ(stored("pass"), std::nullopt);
    EXPECT_TRUE(keyring.entries({"site", "alpha"}).contains("secret = пароль"));

    chooseSite("beta");
    chooseSite("alpha");
    EXPECT_EQ(upload().Edit3->text(), "пароль");
    upload().CheckBox2->click();
    EXPECT_FALSE(keyring.entries({"site", "alpha"}).contains("пароль"));
}

TEST_F(UploadScreenTest, AnIncompleteAccountAsksForTheDataAndContactsNoServer) {
    start();
    showForm();
    upload().ListBox1->addItem("from before");
    QTest::keyClicks(upload().Edit1, "127.0.0.1");
    dialogs.expectMessage("Введите данные");
    QTest::keyClick(upload().Edit4, Qt::Key_Return);
    EXPECT_EQ(dialogs.takeMessages(), QStringList{"Введите данные"});
    EXPECT_EQ(items(upload().ListBox1), QStringList{"from before"});

    // The upload has rewritten the index files before it asks.
    const QString fileIndex = site::fileIndexPath(root.sitePath("alpha"));
    QFile::remove(fileIndex);
    dialogs.expectMessage("Введите данные");
    click(form().findChild<QPushButton*>("Button2"));
    EXPECT_TRUE(QFileInfo::exists(fileIndex));
    dialogs.expectMessage("Введите данные");
    click(form().findChild<QPushButton*>("Button6"));
    EXPECT_EQ(dialogs.takeMessages(), (QStringList{"Введите данные", "Введите данные"}));

    // Silence from "На уровень выше" and from entering the screen.
    click(form().findChild<QPushButton*>("sSpeedButton16"));
    click(child<app::ClickLabel>("Label31"));
    EXPECT_EQ(form().currentScreen(), &upload());
    EXPECT_TRUE(dialogs.takeMessages().isEmpty());
    EXPECT_FALSE(form().commands().busy());
}

TEST_F(UploadScreenTest, WithoutAnOpenSiteNoPublishingCommandRuns) {
    ASSERT_TRUE(QDir(root.sitePath("alpha")).removeRecursively());
    ASSERT_TRUE(QDir(root.sitePath("beta")).removeRecursively());
    FaultFtpServer server("normal");
    dialogs.expectQuestion("пока нет ни одного сайта", QMessageBox::Ok);
    start();
    upload().IdFTP1.Port = server.port();
    showForm();
    click(child<app::ClickLabel>("Label31"));
    upload().Edit1->setText(server.host());
    upload().Edit2->setText(server.user());
    upload().Edit3->setText(server.password());
    upload().CheckBox1->setChecked(true);  // shows "Создать"

    for (const char* button : {"Button2", "sSpeedButton19", "Button6", "Button3"}) {
        SCOPED_TRACE(button);
        dialogs.expectMessage("Сайт не открыт");
        click(form().findChild<QPushButton*>(button));
    }
    dialogs.expectMessage("Сайт не открыт");
    QTest::keyClick(upload().Edit4, Qt::Key_Return);
    EXPECT_TRUE(dialogs.satisfied());
    EXPECT_TRUE(server.receivedLines().isEmpty());
    EXPECT_TRUE(QDir(root.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_FALSE(settings->keyExists("software\\ZOR-OD\\\\files"));
    EXPECT_FALSE(settings->keyExists("software\\ZOR-OD\\\\ftp"));
}

TEST_F(UploadScreenTest, AFieldWindows1251CannotHoldIsNamedAndNothingIsSent) {
    FaultFtpServer server("normal");
    startWith(server);
    upload().Edit1->setText(server.host());
    upload().Edit2->setText(server.user());
    upload().Edit3->setText(server.password());
    struct Case {
        QLineEdit* field;
        const char* caption;
    };
    for (const Case& c :
         {Case{upload().Edit1, "«Хост»"}, Case{upload().Edit2, "«Имя пользователя»"},
          Case{upload().Edit3, "«Пароль»"}, Case{upload().Edit4, "«Куда закачивать»"}}) {
        SCOPED_TRACE(c.caption);
        const QString typed = c.field->text();
        c.field->setText(typed + "中");
        dialogs.expectMessage(c.caption);
        QTest::keyClick(upload().Edit4, Qt::Key_Return);
        dialogs.expectMessage(c.caption);
        click(form().findChild<QPushButton*>("Button2"));
        c.field->setText(typed);
    }
    EXPECT_TRUE(server.receivedLines().isEmpty());

    // Nor is such a password remembered, where it would be stored changed.
    upload().Edit3->setText("пароль中");
    dialogs.expectMessage("«Пароль»");
    upload().CheckBox2->click();
    EXPECT_EQ(stored("pass"), std::nullopt);
    const QStringList seen = dialogs.takeMessages();
    EXPECT_FALSE(seen.join('|').contains("пароль中"));
}

TEST_F(UploadScreenTest, ThePasswordShowsWhileThePointerIsOnItsLabelOrAKeyIsHeld) {
    start();
    showForm();
    upload().Edit3->setText("s3cret");
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(upload().Label3, &enter);
    EXPECT_EQ(upload().Label1->text(), "s3cret");
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(upload().Label3, &leave);
    EXPECT_EQ(upload().Label1->text(), "");

    EXPECT_EQ(upload().Edit3->displayText(), "******");

    upload().Edit3->setFocus();
    QTest::keyPress(upload().Edit3, Qt::Key_X, Qt::NoModifier);
    EXPECT_EQ(upload().Label1->text(), "x");
    QTest::keyRelease(upload().Edit3, Qt::Key_X, Qt::NoModifier);
    EXPECT_EQ(upload().Label1->text(), "");
    EXPECT_EQ(upload().Edit3->text(), "s3cretx");
}

TEST_F(UploadScreenTest, EnteringTheScreenListsAndADoubleClickOnTheIconUploads) {
    PyftpdlibServer server;
    QDir().mkpath(server.localPath("/docs"));
    writeFile(server.localPath("/hello.txt"), "hi");
    writeFile(server.localPath("/docs/inside.txt"), "in");
    remember("alpha", server, "/");
    remember("beta", server, "/docs");
    startWith(server);

    click(child<app::ClickLabel>("Label31"));
    EXPECT_EQ(child<QLabel>("header")->text(), "Загрузка сайта на сервер");
    EXPECT_EQ(items(upload().ListBox1), QStringList{"docs"});
    EXPECT_EQ(items(upload().ListBox3), QStringList{"hello.txt"});

    // On the upload screen, opening another site lists that site's folder.
    auto* box = child<QComboBox>("sitesbox");
    box->setCurrentIndex(1);
    runGuarded(&form(), [&] { form().sitesboxSelect(); });
    EXPECT_EQ(items(upload().ListBox3), QStringList{"inside.txt"});
    box->setCurrentIndex(0);
    runGuarded(&form(), [&] { form().sitesboxSelect(); });

    click(child<QLabel>("header"));
    // What the system sends for a double click: press, release, double click, release.
    auto* icon = child<app::ClickLabel>("Image101");
    QTest::mouseClick(icon, Qt::LeftButton);
    QTest::mouseDClick(icon, Qt::LeftButton);
    QTest::mouseRelease(icon, Qt::LeftButton);
    EXPECT_EQ(form().currentScreen(), &upload());
    EXPECT_EQ(items(upload().ListBox3), QStringList{"hello.txt"});  // listed before the upload
    EXPECT_EQ(readFile(server.localPath("/mf/pages/1.tq")),
              readFile(site::pageFilePath(root.sitePath("alpha"), 1)));
    EXPECT_TRUE(publish::FileChangeCache(*settings, "alpha").recorded("/etc/head.txt"));
    EXPECT_FALSE(upload().IdFTP1.IsConnected());
}

TEST_F(UploadScreenTest, TheSessionsChosenAreKeptAndAServerThatTakesFewerLowersThem) {
    VsftpdServer server(0, {}, 2);  // two sessions from one address at most
    FtpAccount agreed;
    publish::rememberPlainAccepted(*settings, "alpha", agreed);  // vsftpd here has no TLS
    for (int i = 0; i < 10; ++i) {
        writeFile(root.sitePath("alpha") + QStringLiteral("/mf/other/f%1.bin").arg(i),
                  QByteArray(20000 + i, static_cast<char>('a' + i)));
    }
    startWith(server);
    // No account is remembered, so entering the screen lists nothing: the server counts only
    // the upload's sessions.
    click(child<app::ClickLabel>("Label31"));
    QSpinBox* box = upload().SessionsBox;
    EXPECT_EQ(box->value(), 3);
    QTest::keyClicks(upload().Edit1, server.host());
    QTest::keyClicks(upload().Edit2, server.user());
    QTest::keyClicks(upload().Edit3, server.password());
    upload().Edit4->selectAll();
    QTest::keyClicks(upload().Edit4, server.writableFolder());
    click(box);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, "4");
    EXPECT_EQ(stored("sessions"), "4");

    click(child<QPushButton>("Button2"));
    // Nothing alarming is said, only beneath the buttons that the site asks for two from now
    // on; the files are there.
    EXPECT_TRUE(upload().Label4->text().contains("только 2 соединения"))
        << upload().Label4->text().toStdString();
    EXPECT_EQ(box->value(), 2);
    EXPECT_EQ(stored("sessions"), "2");
    for (int i = 0; i < 10; ++i) {
        const QString name = QStringLiteral("/mf/other/f%1.bin").arg(i);
        EXPECT_EQ(readFile(server.localPath(server.writableFolder() + name)),
                  readFile(root.sitePath("alpha") + name));
    }
}

TEST_F(UploadScreenTest, TheBrowserWalksCreatesRenamesAndDeletes) {
    PyftpdlibServer server;
    QDir().mkpath(server.localPath("/docs/img"));
    writeFile(server.localPath("/docs/a.txt"), "a");
    writeFile(server.localPath("/docs/b.txt"), "b");
    remember("alpha", server, "/");
    startWith(server);
    click(child<app::ClickLabel>("Label31"));

    QListWidget* folders = upload().ListBox1;
    QListWidget* files = upload().ListBox3;
    ASSERT_EQ(items(folders), QStringList{"docs"});
    QTest::mouseClick(folders->viewport(), Qt::LeftButton, {},
                      folders->visualItemRect(folders->item(0)).center());
    EXPECT_EQ(upload().Edit4->text(), "/docs");
    EXPECT_EQ(items(folders), QStringList{"img"});
    const QStringList listed = items(files);
    EXPECT_EQ(QSet<QString>(listed.begin(), listed.end()), (QSet<QString>{"a.txt", "b.txt"}));

    // A right click beside the entries opens nothing; on an entry it selects it and opens.
    rightClick(files->viewport(), QPoint(5, files->viewport()->height() - 3));
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    QListWidgetItem* a = files->findItems("a.txt", Qt::MatchExactly).value(0);
    ASSERT_NE(a, nullptr);
    dialogs.expectInput(QString("c.txt"));
    contextCommand(files->viewport(), "Переименовать", files->visualItemRect(a).center());
    EXPECT_EQ(files->currentItem(), a);
    EXPECT_EQ(dialogs.inputPrompts, QStringList{"Пожалуйста, укажите новое имя"});
    EXPECT_EQ(readFile(server.localPath("/docs/c.txt")), "a");
    EXPECT_EQ(a->text(), "c.txt");

    contextCommand(
        files->viewport(), "Удалить",
        files->visualItemRect(files->findItems("b.txt", Qt::MatchExactly).value(0)).center());
    EXPECT_FALSE(QFileInfo::exists(server.localPath("/docs/b.txt")));
    EXPECT_TRUE(files->findItems("b.txt", Qt::MatchExactly).isEmpty());

    // An empty answer is asked again; the list keeps the old name until the next listing.
    dialogs.expectInput(QString(""));
    dialogs.expectInput(QString("pictures"));
    contextCommand(folders->viewport(), "Переименовать",
                   folders->visualItemRect(folders->item(0)).center());
    EXPECT_TRUE(QFileInfo(server.localPath("/docs/pictures")).isDir());
    EXPECT_EQ(items(folders), QStringList{"img"});

    upload().CheckBox1->setChecked(true);
    EXPECT_EQ(upload().Edit5->text(), "/docs/NewFolder");
    click(form().findChild<QPushButton*>("Button3"));
    EXPECT_TRUE(QFileInfo(server.localPath("/docs/NewFolder")).isDir());

    click(form().findChild<QPushButton*>("sSpeedButton16"));
    EXPECT_EQ(upload().Edit4->text(), "/");
    EXPECT_EQ(items(folders), QStringList{"docs"});
    upload().Edit4->setText("/docs/pictures");
    click(form().findChild<QPushButton*>("sSpeedButton17"));
    EXPECT_EQ(upload().Edit4->text(), "/");
    EXPECT_EQ(items(folders), QStringList{"docs"});

    // A folder that is not there: both lists empty and the server's words shown.
    upload().Edit4->setText("/nowhere");
    dialogs.expectMessage("No such file");
    QTest::keyClick(upload().Edit4, Qt::Key_Return);
    EXPECT_TRUE(items(folders).isEmpty() && items(files).isEmpty());
    EXPECT_TRUE(dialogs.satisfied());
}

TEST_F(UploadScreenTest, NothingSwitchesOrChangesTheSiteWhileAnUploadRuns) {
    FaultFtpServer server("plain");
    remember("alpha", server, "/");
    startWith(server);
    auto* box = child<QComboBox>("sitesbox");
    bool duringRun = false;
    bool closed = true;
    QTimer::singleShot(0, &form(), [&] {
        duringRun = form().commands().busy();
        chooseSite("beta");
        // The progress window is modal: the context menu is out of reach, its commands not.
        form().findChild<QAction*>("N1")->trigger();  // rename
        form().findChild<QAction*>("N6")->trigger();  // copy
        click(form().findChild<QPushButton*>("Button2"));
        click(form().findChild<QPushButton*>("Button6"));
        // Nor does an update command start: its failure on a closed port would be a message.
        form().updatesScreen()->server =
            QStringLiteral("http://127.0.0.1:%1").arg(freeLoopbackPort());
        click(form().updatesScreen()->SpeedButton12);
        closed = form().close();
    });
    click(form().findChild<QPushButton*>("Button2"));

    EXPECT_TRUE(duringRun);
    EXPECT_FALSE(closed);
    EXPECT_FALSE(form().commands().busy());
    EXPECT_EQ(state().siteName, "alpha");
    EXPECT_EQ(box->currentText(), "alpha");
    EXPECT_EQ(sites(), (QStringList{"alpha", "beta"}));
    EXPECT_TRUE(dialogs.inputCaptions.isEmpty());
    int lists = 0, pages = 0;
    for (const QByteArray& line : server.receivedLines()) {
        lists += line.startsWith("LIST");
        pages += line == "STOR //mf/pages/1.tq\r\n";
    }
    EXPECT_EQ(lists, 1);
    EXPECT_EQ(pages, 1);
    // Afterwards the site switches as usual.
    chooseSite("beta");
    EXPECT_EQ(state().siteName, "beta");
}

TEST_F(UploadScreenTest, ALongUploadShowsItsProgressAndCancelStopsIt) {
    // Takes about 1.6 MB/s through a small window, so that the file, larger than what the
    // system buffers on both sides together, cannot be gone before Cancel.
    FaultFtpServer server("slow-stor");
    writeFile(root.sitePath("alpha") + "/mf/img/big.bin", QByteArray(8 * 1024 * 1024, 'x'));
    remember("alpha", server, "/");
    publish::storeSessions(*settings, "alpha", 1);  // the other files wait behind the big one
    startWith(server);
    Qt::WindowModality modality = Qt::NonModal;
    QStringList shown;
    dialogs.onOtherModal = [&](QWidget* w) {
        auto* progress = qobject_cast<ProgressWindow*>(w);
        ASSERT_NE(progress, nullptr);
        EXPECT_EQ(progress->objectName(), "PublishProgress");
        modality = progress->windowModality();
        // Cancel once the file is on its way.
        auto* timer = new QTimer(progress);
        QObject::connect(timer, &QTimer::timeout, progress, [&shown, progress] {
            for (QLabel* l : progress->findChildren<QLabel*>()) {
                shown.append(l->text());
            }
            if (shown.join('|').contains(" из 8,0 МБ")) {
                progress->findChild<QPushButton*>("CancelButton")->click();
            }
        });
        timer->start(20);
    };
    click(form().findChild<QPushButton*>("Button2"));

    EXPECT_EQ(modality, Qt::WindowModal);
    const QString seen = shown.join('|');
    EXPECT_TRUE(seen.contains("/mf/img/big.bin")) << seen.toStdString();
    EXPECT_TRUE(seen.contains("Отправка файлов: 1 из ")) << seen.toStdString();
    EXPECT_FALSE(form().commands().busy());
    EXPECT_FALSE(upload().IdFTP1.IsConnected());
    EXPECT_EQ(publish::FileChangeCache(*settings, "alpha").recorded("/mf/img/big.bin"),
              std::nullopt);
    EXPECT_EQ(form().findChild<ProgressWindow*>("PublishProgress"), nullptr);
    // The server's own account, once it has one: the transfer was broken off, not completed.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.cutSizes().isEmpty(); }, 10000))
        << server.output().toStdString();
    EXPECT_TRUE(server.storedSizes().isEmpty());
    EXPECT_LT(server.cutSizes().value(0), 8 * 1024 * 1024);
}

TEST_F(UploadScreenTest, SynchronisingOverUnsentWorkAsksAndSaysWhereTheOldPagesAre) {
    VsftpdServer server;
    remember("alpha", server, server.writableFolder());
    startWith(server);
    click(form().findChild<QPushButton*>("Button2"));  // publish alpha as it is
    const QString page = site::pageFilePath(root.sitePath("alpha"), 1);
    const QByteArray published = readFile(page);
    writeFile(page, "typed after the upload");

    dialogs.expectQuestion("Эти страницы изменены после последней загрузки", QMessageBox::No);
    click(form().findChild<QPushButton*>("Button6"));
    ASSERT_TRUE(dialogs.satisfied());
    EXPECT_EQ(readFile(page), "typed after the upload");
    EXPECT_FALSE(QFileInfo::exists(site::backupsFolder(root.sitePath("alpha"))));

    dialogs.expectQuestion("(mf/pages/1.tq)", QMessageBox::Yes);
    dialogs.expectMessage("Прежние версии заменённых файлов сохранены в папке");
    click(form().findChild<QPushButton*>("Button6"));
    ASSERT_TRUE(dialogs.satisfied());
    EXPECT_EQ(readFile(page), published);
    const QStringList kept = QDir(site::backupsFolder(root.sitePath("alpha")))
                                 .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(
        readFile(site::backupsFolder(root.sitePath("alpha")) + '/' + kept[0] + "/mf/pages/1.tq"),
        "typed after the upload");
}

// Files deleted from the site go from the server only after a yes, and nothing else does.
TEST_F(UploadScreenTest, RemovedFilesAreAskedAboutOnceAndOnlyAYesDeletesThem) {
    VsftpdServer server;
    remember("alpha", server, server.writableFolder());
    const QString site = root.sitePath("alpha");
    for (const char* name : {"/mf/img/a.png", "/mf/img/b.png", "/etc/blocs/side.tq"}) {
        writeFile(site + name, name);
    }
    startWith(server);
    click(form().findChild<QPushButton*>("Button2"));
    const auto onServer = [&](const char* name) {
        return QFileInfo::exists(server.localPath(server.writableFolder() + name));
    };
    writeFile(server.localPath(server.writableFolder() + "/mf/img/theirs.png"), "not ours");

    QFile::remove(site + "/mf/img/a.png");
    QFile::remove(site + "/etc/blocs/side.tq");
    dialogs.expectQuestion(
        "Эти файлы удалены из папки сайта, но остались на сервере:\n"
        "/etc/blocs/side.tq\n/mf/img/a.png\n\nУдалить их с сервера?",
        QMessageBox::No);
    click(form().findChild<QPushButton*>("Button2"));
    ASSERT_TRUE(dialogs.satisfied());
    click(form().findChild<QPushButton*>("Button2"));  // asks nothing more of them

    QFile::remove(site + "/mf/img/b.png");
    dialogs.expectQuestion("остались на сервере:\n/mf/img/b.png\n\n", QMessageBox::Yes);
    click(form().findChild<QPushButton*>("Button2"));
    ASSERT_TRUE(dialogs.satisfied());
    EXPECT_FALSE(onServer("/mf/img/b.png"));
    for (const char* stays : {"/mf/img/a.png", "/etc/blocs/side.tq", "/mf/img/theirs.png"}) {
        EXPECT_TRUE(onServer(stays)) << stays;
    }
    publish::FileChangeCache cache(*settings, "alpha");
    EXPECT_EQ(cache.recorded("/mf/img/b.png"), std::nullopt);
    EXPECT_TRUE(cache.recorded("/mf/img/a.png").has_value());
    EXPECT_TRUE(QDir(server.localPath(server.writableFolder() + "/mf/img")).exists());
}

TEST_F(UploadScreenTest, OneArchiveIsNamedBeneathAndItsSwitchIsStoredOnlyByAClick) {
    VsftpdServer server;
    for (int i = 0; i < 25; ++i) {
        writeFile(root.sitePath("alpha") + QString("/mf/other/f%1.txt").arg(i), QByteArray(i, 'x'));
    }
    PhpServer php(server.localPath("/www"), "ftp");  // as the FTP account's files belong to
    ASSERT_TRUE(php.started());
    remember("alpha", server, "/www");
    startWith(server);
    click(child<app::ClickLabel>("Label31"));
    child<QLineEdit>("Edit6")->setText(QString("127.0.0.1:%1").arg(php.port()));
    child<QCheckBox>("CheckBox4")->setChecked(false);
    auto* box = child<QCheckBox>("CheckBox5");
    EXPECT_TRUE(box->isChecked());
    click(child<QPushButton>("Button2"));
    EXPECT_TRUE(child<QLabel>("Label4")->text().contains("Закачано одним архивом (файлов: "))
        << child<QLabel>("Label4")->text().toStdString();

    const auto on = [&] { return settings->readValue("software\\ZOR-OD\\alpha\\archive", "on"); };
    box->setChecked(false);  // not a click: nothing stored
    box->setChecked(true);
    EXPECT_EQ(on(), std::nullopt);
    publish::rememberArchiveUnavailable(*settings, "alpha", state().ftpAccount, "PHP не тот");
    const QPoint inBox(6, box->height() / 2);
    QTest::mouseClick(box, Qt::LeftButton, {}, inBox);
    EXPECT_EQ(on(), "0");
    EXPECT_TRUE(publish::archiveUnavailable(*settings, "alpha", state().ftpAccount));
    // Ticked again: tried at once.
    QTest::mouseClick(box, Qt::LeftButton, {}, inBox);
    EXPECT_EQ(on(), "1");
    EXPECT_FALSE(publish::archiveUnavailable(*settings, "alpha", state().ftpAccount));
}

TEST_F(UploadScreenTest, AnUploadEndsWithTheCheckOfThePublishedSiteUnlessSwitchedOff) {
    VsftpdServer server;
    {
        // The site's index.php, as "Сохранить" on the design screen writes it.
        OpenSiteState s;
        s.sitesRoot = root.root();
        s.sitePath = root.sitePath("alpha");
        site::readPageTitleIndex(s);
        design::compileSavedTemplate(s);
    }
    auto php = std::make_unique<PhpServer>(server.localPath("/www"));
    ASSERT_TRUE(php->started());
    remember("alpha", server, "/www");
    startWith(server);
    click(child<app::ClickLabel>("Label31"));
    child<QLineEdit>("Edit6")->setText(QString("127.0.0.1:%1").arg(php->port()));
    auto* check = child<QCheckBox>("CheckBox4");
    auto* result = child<QLabel>("Label4");
    EXPECT_TRUE(check->isChecked());

    click(child<QPushButton>("Button2"));
    EXPECT_EQ(result->text(), "Сайт работает: страница 1 «Главная» открывается");
    EXPECT_TRUE(publish::FileChangeCache(*settings, "alpha").recorded("/index.php"));

    // Switched off for this site: kept, and the next upload asks for nothing.
    const QPoint box(6, check->height() / 2);
    QTest::mouseClick(check, Qt::LeftButton, {}, box);
    EXPECT_EQ(settings->readValue("software\\ZOR-OD\\alpha\\check", "after"), "0");
    click(child<QPushButton>("Button2"));
    EXPECT_EQ(result->text(), "");

    // On again with the web server gone.
    QTest::mouseClick(check, Qt::LeftButton, {}, box);
    EXPECT_EQ(settings->readValue("software\\ZOR-OD\\alpha\\check", "after"), "1");
    php.reset();
    click(child<QPushButton>("Button2"));
    EXPECT_TRUE(
        result->text().startsWith("Проверка сайта не прошла: сайт не отвечает\nСтраница 1, "))
        << result->text().toStdString();

    // A site that never answers: Cancel ends the wait, and the upload stands.
    QTemporaryDir quiet;
    HttpFileServer silent(quiet.path());
    ASSERT_TRUE(silent.started());
    child<QLineEdit>("Edit6")->setText(silent.address() + "/silent/");
    QStringList shown;
    dialogs.onOtherModal = [&](QWidget* w) {
        auto* progress = qobject_cast<ProgressWindow*>(w);
        ASSERT_NE(progress, nullptr);
        EXPECT_EQ(progress->objectName(), "PublishProgress");
        auto* timer = new QTimer(progress);
        QObject::connect(timer, &QTimer::timeout, progress, [&shown, progress] {
            for (QLabel* l : progress->findChildren<QLabel*>()) {
                shown.append(l->text());
            }
            if (shown.contains("Проверка сайта: страница 1 из 1")) {
                progress->findChild<QPushButton*>("CancelButton")->click();
            }
        });
        timer->start(20);
    };
    click(child<QPushButton>("Button2"));
    EXPECT_EQ(result->text(), "Проверка сайта прервана; файлы закачаны.");
    EXPECT_EQ(silent.requests(), QStringList{"/silent/index.php?in=1"});
    EXPECT_FALSE(form().commands().busy());
}

// The first login of a site to a server without TLS asks before the password goes in the clear;
// a yes is kept for the site, and once TLS has worked for it, no refusal is taken at its word.
TEST_F(UploadScreenTest, APlainLoginIsAskedAboutOnceAndRefusedWhereTlsWasSeen) {
    FaultFtpServer server("normal");  // no TLS: "AUTH TLS" gets a 500
    publish::storeFtpAccount(*settings, "alpha",
                             {server.host(), server.user(), server.password(), "/"});
    startWith(server);
    const struct {
        const char* what;
        std::optional<int> answer;  // to the question; nullopt: none may come
        const char* error;          // shown instead of a listing, if any
        bool logsIn;
    } rows[] = {
        {"declined", QMessageBox::No, nullptr, false},
        {"agreed", QMessageBox::Yes, nullptr, true},
        {"agreed before", {}, nullptr, true},
        {"TLS seen since", {}, "больше не предлагает защищённое соединение", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (std::string(row.what) == "TLS seen since") {
            publish::rememberTlsSeen(*settings, "alpha", state().ftpAccount);
        }
        if (row.answer) {
            dialogs.expectQuestion("пароль будет передан открытым текстом", *row.answer);
        }
        if (row.error) {
            dialogs.expectMessage(row.error);
        }
        const qsizetype before = server.receivedLines().size();
        // Entering the screen lists the folder, and so does Enter in the folder field.
        if (upload().isVisible()) {
            QTest::keyClick(upload().Edit4, Qt::Key_Return);
        } else {
            clickLabel("Label31");
        }
        ASSERT_TRUE(dialogs.satisfied());
        const QList<QByteArray> wire = server.receivedLines().mid(before);
        EXPECT_EQ(wire.contains("PASS " + server.password().toUtf8() + "\r\n"), row.logsIn);
    }
    EXPECT_EQ(stored("plainok"), QString("1"));
    EXPECT_EQ(stored("tlsseen"), QString("1"));
}

TEST_F(UploadScreenTest, TheSiteCheckSwitchIsStoredHoweverTheUserChangesIt) {
    publish::storeSiteCheckEnabled(*settings, "beta", false);
    start();
    clickLabel("Label31");
    auto* check = child<QCheckBox>("CheckBox4");
    auto after = [&](const QString& site) {
        return settings->readValue("software\\ZOR-OD\\" + site + "\\check", "after");
    };
    // Opening a site shows its setting and stores nothing.
    chooseSite("beta");
    EXPECT_FALSE(check->isChecked());
    chooseSite("alpha");
    EXPECT_TRUE(check->isChecked());
    EXPECT_EQ(after("alpha"), std::nullopt);

    // Space on the focused box, then a screen reader's toggle.
    check->setFocus();
    QTest::keyClick(check, Qt::Key_Space);
    EXPECT_EQ(after("alpha"), "0");
    QAccessible::queryAccessibleInterface(check)->actionInterface()->doAction(
        QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(check->isChecked());
    EXPECT_EQ(after("alpha"), "1");
    EXPECT_EQ(after("beta"), "0");
}

TEST_F(UploadScreenTest, TheChosenEncryptionIsKeptForTheSiteAndUsedWhenItIsOpenedAgain) {
    FaultFtpServer server("normal");  // no TLS: "AUTH TLS" gets a 500
    remember("alpha", server, "/");
    startWith(server);
    clickLabel("Label31");  // lists with the default, falling back to plain FTP
    struct Row {
        int entry;
        const char* stored;
        bool asksForTls, logsIn;
        const char* error;  // null: the listing succeeds
    } rows[] = {
        {1, "require", true, false, "выберите на экране загрузки «Без шифрования»"},
        {2, "off", false, true, nullptr},
        {0, "auto", true, true, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored);
        chooseEntry(upload().EncryptionBox, row.entry);
        EXPECT_EQ(stored("tls"), QString(row.stored));

        chooseSite("beta");  // a site of its own choice, the default
        EXPECT_EQ(upload().EncryptionBox->currentIndex(), 0);
        // Back on alpha, the upload screen lists its folder at once, as chosen.
        const qsizetype before = server.receivedLines().size();
        if (row.error) {
            dialogs.expectMessage(row.error);
        }
        chooseSite("alpha");
        ASSERT_TRUE(dialogs.satisfied());
        EXPECT_EQ(upload().EncryptionBox->currentIndex(), row.entry);
        const QList<QByteArray> wire = server.receivedLines().mid(before);
        EXPECT_EQ(wire.value(0) == "AUTH TLS\r\n", row.asksForTls);
        EXPECT_EQ(wire.contains("USER " + server.user().toUtf8() + "\r\n"), row.logsIn);
    }
}

TEST_F(UploadScreenTest, AnUnvouchedCertificateIsAskedAboutAndOnlyAYesLetsTheUploadLogIn) {
    TestCertificates certificates;
    const ServerTls tls = certificates.selfSigned("IP:127.0.0.1");
    const QString print = TestCertificates::fingerprint(tls.certificate);
    VsftpdServer server(0, tls);
    publish::storeSessions(*settings, "alpha", 1);  // one login a command
    startWith(server);
    clickLabel("Label31");
    QTest::keyClicks(upload().Edit1, server.host());
    QTest::keyClicks(upload().Edit2, server.user());
    QTest::keyClicks(upload().Edit3, server.password());
    QTest::keyClicks(upload().Edit4, "www");
    QTest::mouseClick(upload().CheckBox2, Qt::LeftButton, {},
                      QPoint(6, upload().CheckBox2->height() / 2));  // "Запомнить данные"
    const QString page = server.localPath("/www/mf/pages/1.tq");
    auto logins = [&] { return server.log().count("\"USER "); };
    // The user reads the question for a while, then clicks an answer.
    auto byHand = [this](const QString& answer) {
        return [this, answer](QMessageBox* box) {
            [[maybe_unused]] const bool progressShown = QTest::qWaitFor(
                [this] {
                    auto* progress = form().findChild<ProgressWindow*>("PublishProgress");
                    return progress && progress->isVisible();
                },
                2 * ProgressWindow::ShowAfter.count());
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == answer) {
                    QTest::mouseClick(box->windowHandle(), Qt::LeftButton, {},
                                      b->mapTo(box, b->rect().center()));
                }
            }
            if (!QTest::qWaitFor([box] { return !box->isVisible(); }, 5000)) {
                ADD_FAILURE() << "the question took no answer";
                box->reject();  // or the command would wait for ever
            }
        };
    };

    struct Row {
        const char* answer;
        bool sent, remembered;
    } rows[] = {
        {"Нет", false, false},
        {"Только сейчас", true, false},
        {"Да, всегда для этого сайта", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        const qsizetype before = logins();
        for (int upload = 1; upload <= 2; ++upload) {
            if (upload == 1) {
                dialogs.expectQuestion(print, byHand(row.answer));
            } else if (!row.remembered) {
                dialogs.expectQuestion(print, QString(row.answer));
            }
            if (!row.sent) {
                dialogs.expectMessage("пароль не отправлен");
            }
            click(child<QPushButton>("Button2"));
            ASSERT_TRUE(dialogs.satisfied());
        }
        EXPECT_EQ(logins() - before, row.sent ? 2 : 0) << server.log().toStdString();
        EXPECT_EQ(QFileInfo::exists(page), row.sent);
        EXPECT_EQ(stored("tlscert"), row.remembered ? std::optional(print) : std::nullopt);
    }
    EXPECT_EQ(dialogs.takeMessages().filter("Доверять этому сертификату?").size(), 5);

    // Opened again, the site lists and uploads with no question.
    chooseSite("beta");
    chooseSite("alpha");
    EXPECT_TRUE(items(upload().ListBox1).contains("mf"));
    click(child<QPushButton>("Button2"));
    EXPECT_TRUE(dialogs.takeMessages().isEmpty());
}

TEST_F(UploadScreenTest, ASiteOnAnSshHostPublishesOnceItsHostKeyIsTrusted) {
    SshServer server;
    QTemporaryDir home;
    publish::storeSessions(*settings, "alpha", 1);
    start();
    upload().SftpSession.UserSshFolder = home.filePath(".ssh");  // knows no server
    upload().SftpSession.KnownHostsFile = home.filePath("known_hosts");
    upload().SftpSession.Timeout = std::chrono::seconds(10);
    showForm();
    clickLabel("Label31");
    QTest::keyClicks(upload().Edit1, QStringLiteral("sftp://127.0.0.1:%1").arg(server.port()));
    EXPECT_EQ(upload().Protocol->ProtocolBox->currentText(), "SFTP (SSH)");
    EXPECT_FALSE(upload().EncryptionBox->isEnabled());  // SSH always encrypts
    EXPECT_EQ(stored("protocol"), QString("sftp"));
    QTest::keyClicks(upload().Edit2, server.user());
    QTest::keyClicks(upload().Edit3, server.password());
    QTest::keyClicks(upload().Edit4, server.writableFolder());

    dialogs.expectQuestion(server.hostFingerprint(), QString("Да, всегда для этого сайта"));
    click(child<QPushButton>("Button2"));
    ASSERT_TRUE(dialogs.satisfied());
    EXPECT_FALSE(dialogs.takeMessages().filter("Доверять ключу этого сервера?").isEmpty());
    EXPECT_TRUE(QFileInfo::exists(server.writableFolder() + "/mf/pages/1.tq"));
    // The key is kept in the program's own file: the browser lists without a question.
    QTest::keyClick(upload().Edit4, Qt::Key_Return);
    EXPECT_TRUE(items(upload().ListBox1).contains("mf"));
    EXPECT_TRUE(dialogs.takeMessages().isEmpty());

    // The key kept for the server is another one now: the warning names the server's key and
    // clears the kept one after its own question; the next command asks about the key again.
    const QString known = home.filePath("known_hosts");
    const QString other = home.filePath("other_ed25519");
    test::runTool("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", other});
    const QList<QByteArray> otherKey = readFile(other + ".pub").split(' ');
    writeFile(known, "[127.0.0.1]:" + QByteArray::number(server.port()) + ' ' + otherKey[0] + ' ' +
                         otherKey[1] + '\n');
    dialogs.expectQuestion(server.hostFingerprint(), QString("Удалить известный ключ\u2026"));
    dialogs.expectQuestion("Удалить известный ключ сервера", QMessageBox::Yes);
    click(child<QPushButton>("Button2"));
    ASSERT_TRUE(dialogs.satisfied());
    EXPECT_FALSE(readFile(known).contains(QByteArray::number(server.port())));
    dialogs.expectQuestion(server.hostFingerprint(), QString("Нет"));
    dialogs.expectMessage("Соединение прервано до входа");
    click(child<QPushButton>("Button2"));
    ASSERT_TRUE(dialogs.satisfied());
}

TEST_F(UploadScreenTest, ARememberedSiteKeepsItsKeysPassphraseInTheKeyringNotTheSettings) {
    TestKeyring keyring;
    SshServer server;
    QTemporaryDir home;
    FtpAccount account{"sftp://127.0.0.1:" + QString::number(server.port()), server.user(), "",
                       server.writableFolder()};
    account.protocol = RemoteProtocol::Sftp;
    account.keyFile = server.protectedKeyFile();
    publish::storeFtpAccount(*settings, "alpha", account);
    publish::storeTrustedCertificate(*settings, "alpha", server.hostFingerprint());
    start();
    upload().SftpSession.UserSshFolder = home.filePath(".ssh");
    upload().SftpSession.Timeout = std::chrono::seconds(10);
    showForm();
    upload().CheckBox2->setChecked(true);
    QDir().mkpath(server.writableFolder() + "/mf");
    dialogs.expectInput(SshServer::keyPassphrase());
    QTest::keyClick(upload().Edit4, Qt::Key_Return);
    ASSERT_TRUE(dialogs.satisfied());
    EXPECT_EQ(items(upload().ListBox1), QStringList{"mf"});
    EXPECT_TRUE(dialogs.takeMessages().isEmpty());
    EXPECT_TRUE(keyring.entries({"protocol", "sshkey"}).contains(SshServer::keyPassphrase()));
    EXPECT_FALSE(settings->readValue(FtpKey, "pass").value_or("").contains("key phrase"));

    // The next run of the program takes it from the keyring: nothing is asked.
    chooseSite("beta");
    upload().SftpSession.KeyPassphrase.reset();
    chooseSite("alpha");
    QTest::keyClick(upload().Edit4, Qt::Key_Return);
    EXPECT_EQ(items(upload().ListBox1), QStringList{"mf"});
    EXPECT_TRUE(dialogs.takeMessages().isEmpty());
}
