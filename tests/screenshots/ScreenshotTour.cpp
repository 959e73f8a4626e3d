// The README's pictures: a first site from the first start to the published copy in a browser,
// made with the real windows and web views on an X server (scripts/screenshots runs it under
// xvfb-run). Each step is what the README tells the user to do; a step that fails stops the
// tour, so pictures are never taken of a program that did not do what they show.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include "app/Application.h"
#include "app/ClickLabel.h"
#include "app/Icons.h"
#include "app/PagesScreen.h"
#include "app/TForm1.h"
#include "app/UploadScreen.h"
#include "editor/TForm2.h"
#include "files/TForm4.h"
#include "platform/RichTextMemo.h"
#include "platform/SettingsStore.h"
#include "support/DialogDriver.h"
#include "support/FtpServers.h"
#include "support/TempSite.h"
#include "support/UserInput.h"

using namespace zor;
using test::click;
using test::type;

namespace {

QString outPath(const char* name) {
    return QDir(qEnvironmentVariable("ZOROD_SCREENSHOT_DIR")).filePath(QLatin1String(name));
}

// The window as the X server shows it, web views included.
void shoot(QWidget* window, const char* name) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    // Web views and fonts paint a moment after the window is mapped.
    QTest::qWait(1500);
    const QPixmap shot = window->screen()->grabWindow(window->winId());
    ASSERT_FALSE(shot.isNull()) << name;
    ASSERT_TRUE(shot.save(outPath(name))) << outPath(name).toStdString();
}

}  // namespace

TEST(ScreenshotTour, FirstSiteFromStartToPublished) {
    ASSERT_FALSE(qEnvironmentVariable("ZOROD_SCREENSHOT_DIR").isEmpty());
    test::TempRoot root;
    SettingsStore settings(root.settingsPath());

    // 1. The first start: no site yet; "Создать сайт", and the name.
    bool offered = false;
    QTimer firstRun;
    firstRun.setInterval(20);
    QObject::connect(&firstRun, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->isVisible() && !offered) {
            offered = true;
            shoot(box, "first-run.png");
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == QStringLiteral("Создать сайт")) {
                    b->click();
                }
            }
        } else if (auto* input = qobject_cast<QInputDialog*>(modal); input && input->isVisible()) {
            input->setTextValue(QStringLiteral("mysite"));
            input->accept();
        }
    });
    firstRun.start();
    app::Application app(root.root(), settings);
    firstRun.stop();
    ASSERT_TRUE(offered);
    app::TForm1& form = app.form1();
    ASSERT_EQ(form.windowTitle(), "ZOR OD v3.0 - mysite");
    form.show();
    shoot(&form, "main-window.png");

    test::DialogDriver dialogs;
    dialogs.allowMessages();  // the results of saving and uploading, read below

    // 2. A picture through the file manager: its kind, "Копировать", and its link.
    const QString picture = QDir(root.root()).filePath(QStringLiteral("../picture.png"));
    ASSERT_TRUE(app::programIcon().pixmap(128).save(picture));
    QString link;
    dialogs.onOtherModal = [&](QWidget* w) {
        if (auto* f4 = qobject_cast<files::TForm4*>(w)) {
            click(f4->copyChoice[0]);  // "Картинка"
            click(f4->button1);
            ASSERT_TRUE(QTest::qWaitFor([&] { return f4->Edit1->isVisible(); }, 10000));
            link = f4->Edit1->text();
            shoot(f4, "file-manager.png");
            f4->reject();
        } else if (auto* f2 = qobject_cast<editor::TForm2*>(w)) {
            // 3. The welcome page: a line typed into the source, with the picture's link.
            f2->Memo1->setFocus();
            f2->Memo1->moveCursor(QTextCursor::End);
            type(f2->Memo1, QStringLiteral("<p>Мой первый сайт. <img src=\"%1\" /></p>").arg(link));
            shoot(f2, "editor-window.png");
            f2->close();
        }
    };
    app.form4().showWithFile(picture, picture);
    ASSERT_FALSE(link.isEmpty());

    click(form.findChild<QWidget*>(QStringLiteral("Label30")));
    QComboBox* pages = form.pagesScreen()->ComboBox1;
    pages->setCurrentIndex(0);
    emit pages->activated(0);
    ASSERT_TRUE(test::readFile(root.sitePath("mysite") + "/mf/pages/1.tq").contains("picture.png"));

    // 4. The design compiled into index.php.
    click(form.findChild<QWidget*>(QStringLiteral("header")));
    click(form.findChild<QWidget*>(QStringLiteral("Label29")));
    click(form.findChild<QPushButton*>(QStringLiteral("Button1")));
    ASSERT_TRUE(QFileInfo::exists(root.sitePath("mysite") + "/index.php"));
    shoot(&form, "design-screen.png");

    // 5. Published to an FTP server on this machine.
    test::PyftpdlibServer server;
    click(form.findChild<QWidget*>(QStringLiteral("Label31")));
    app::UploadScreen* upload = form.uploadScreen();
    upload->IdFTP1.Port = server.port();
    QTest::keyClicks(upload->Edit1, server.host());
    QTest::keyClicks(upload->Edit2, server.user());
    QTest::keyClicks(upload->Edit3, server.password());
    click(upload->CheckBox2);
    // The server here has no TLS; asked once, the user lets the password go in the clear.
    dialogs.expectQuestion(QStringLiteral("открытым текстом"), QMessageBox::Yes);
    click(form.findChild<QPushButton*>(QStringLiteral("Button2")));
    ASSERT_TRUE(QFileInfo::exists(server.localPath("/index.php")));
    // Both pictures of the welcome page went up: the design's header and the one copied in,
    // whose link leads from the web root.
    ASSERT_TRUE(QFileInfo::exists(server.localPath("/etc/desing/head.png")));
    ASSERT_TRUE(QFileInfo::exists(server.localPath(link))) << link.toStdString();
    upload->Button5Click();
    shoot(&form, "upload-screen.png");

    // 6. The published copy, as a browser shows it.
    QProcess browser;
    browser.start(qEnvironmentVariable("ZOROD_TEST_SOURCE_DIR") + "/scripts/site-screenshot",
                  {server.localPath("/"), outPath("welcome-page.png")});
    ASSERT_TRUE(browser.waitForFinished(120000));
    ASSERT_EQ(browser.exitCode(), 0) << browser.readAllStandardError().toStdString();
    form.close();
}
