// Real mouse input through an X server (the test runs under Xvfb): clicks whose timing matters.
#include <QProcess>

#include "AppFixture.h"
#include "app/ClickLabel.h"
#include "app/UploadScreen.h"
#include "publish/AccountSettings.h"
#include "publish/FileChangeCache.h"
#include "support/FtpServers.h"

using namespace zor;
using namespace zor::test;

namespace {

struct RealInputTest : AppFixture {
    // Clicks the left button `times` at the widget's centre, as the window system delivers it.
    void clickWithXdotool(QWidget* w, int times) {
        const QPoint at = w->mapToGlobal(w->rect().center());
        xdotool.start(QStringLiteral("xdotool"),
                      // No "--sync": it waits for the pointer to move, and it may be there already.
                      {"mousemove", QString::number(at.x()), QString::number(at.y()), "click",
                       "--repeat", QString::number(times), "--delay", "80", "1"});
        ASSERT_TRUE(xdotool.waitForStarted());
    }
    // Usually long over by now: the events it sent have been handled.
    void xdotoolDone() {
        if (xdotool.state() != QProcess::NotRunning) {
            xdotool.waitForFinished();
        }
        EXPECT_EQ(xdotool.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
    }
    int count(const FaultFtpServer& server, const QByteArray& line) {
        return static_cast<int>(server.receivedLines().count(line));
    }
    QProcess xdotool;
};

}  // namespace

TEST_F(RealInputTest, ADoubleClickOnTheUploadIconUploadsEvenWhenTheServerIsSlowToGreet) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with the xcb platform";
    root.makeSite("alpha");
    FaultFtpServer server("slow-greeting");  // 1.5 s before its "220"
    FtpAccount account{server.host(), server.user(), server.password(), "/"};
    publish::storeFtpAccount(*settings, "alpha", account);
    publish::rememberPlainAccepted(*settings, "alpha", account);  // no TLS there
    publish::storeSessions(*settings, "alpha", 1);                // one login a command
    start();
    form().uploadScreen()->IdFTP1.Port = server.port();
    showForm();
    auto* icon = child<app::ClickLabel>("Image101");

    // One click: the screen and its listing, no upload.
    clickWithXdotool(icon, 1);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return count(server, "LIST\r\n") == 1 && !form().commands().busy(); }, 20000));
    EXPECT_EQ(form().currentScreen(), form().uploadScreen());
    xdotoolDone();

    QTest::mouseClick(child<QLabel>("header"), Qt::LeftButton);
    ASSERT_EQ(child<QLabel>("header")->text(), "Главное меню");

    // A double click: the listing, then the upload of changed files.
    clickWithXdotool(icon, 2);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return count(server, "STOR //mf/pages/1.tq\r\n") == 1 && !form().commands().busy(); },
        20000));
    xdotoolDone();
    EXPECT_EQ(form().currentScreen(), form().uploadScreen());
    const QList<QByteArray> lines = server.receivedLines();
    EXPECT_EQ(lines.count("LIST\r\n"), 3);  // the first click, the double click, the upload
    EXPECT_EQ(lines.count("USER tester\r\n"), 3);
    EXPECT_TRUE(publish::FileChangeCache(*settings, "alpha").recorded("/mf/pages/1.tq"));
}
