#include <QDesktopServices>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>

#include "AppFixture.h"
#include "app/ClickLabel.h"
#include "files/TForm4.h"
#include "support/FileDialogs.h"

using namespace zor;
using namespace zor::test;

namespace {

// Stands in for the user's browser and mail program.
class DefaultPrograms : public QObject {
    Q_OBJECT
public:
    DefaultPrograms() {
        for (const char* scheme : {"http", "https", "mailto"}) {
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
        }
    }
    ~DefaultPrograms() override {
        for (const char* scheme : {"http", "https", "mailto"}) {
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
        }
    }
    QStringList opened;

public slots:
    void open(const QUrl& url) { opened.append(url.toString()); }
};

struct ShellTest : AppFixture {
    QTemporaryDir outside{QDir::tempPath() + QStringLiteral("/zorod-Drop-XXXXXX")};

    void SetUp() override {
        root.makeSite("site");
        start();
        showForm();
    }
    // Drags the files onto target and drops them there, as the window system delivers it.
    bool drop(QWidget* target, const QStringList& paths) {
        QList<QUrl> urls;
        for (const QString& p : paths) {
            urls.append(p.contains(QStringLiteral("://")) ? QUrl(p) : QUrl::fromLocalFile(p));
        }
        // File managers offer the addresses as text too, which a text box would take.
        QMimeData data;
        data.setUrls(urls);
        data.setText(paths.join(u'\n'));
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        return dropped.isAccepted();
    }
    void click(const char* name) {
        QTest::mouseClick(child<app::ClickLabel>(name), Qt::LeftButton);
    }
};

}  // namespace

TEST_F(ShellTest, ADropOfThreeFilesOpensTheFileManagerWithTheFirstInLowerCase) {
    // Only A-Z change: Cyrillic and other Latin capitals (É) keep their case.
    const QString folder = outside.path() + QStringLiteral("/ÉTÉ Фото");
    const QStringList files{folder + QStringLiteral("/Photo ONE.JPG"), folder + "/b.png",
                            folder + "/c.png"};
    for (const QString& f : files) {
        writeFile(f, f.toUtf8());
    }
    ASSERT_TRUE(outside.path().startsWith(QDir::tempPath()));
    const QString shown = outside.path().toLower() + QStringLiteral("/ÉtÉ Фото/photo one.jpg");
    const QString target = root.sitePath("site") + QStringLiteral("/mf/other/photo one.jpg");

    auto* memo = child<QPlainTextEdit>("Memo1");
    const QString memoText = memo->toPlainText();
    for (QWidget* onto : {static_cast<QWidget*>(&form()), memo->viewport()}) {
        SCOPED_TRACE(onto->objectName().toStdString());
        QFile::remove(target);
        QString pyt;
        bool copyEnabled = false;
        QString link;
        dialogs.onOtherModal = later([&](QWidget* w) {
            auto* fm = qobject_cast<files::TForm4*>(w);
            ASSERT_NE(fm, nullptr);
            pyt = fm->pyt->text();
            copyEnabled = fm->button1->isEnabled();
            QTest::mouseClick(fm->button1, Qt::LeftButton);
            link = fm->Edit1->text();
            fm->reject();
        });
        ASSERT_TRUE(drop(onto, files));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !link.isEmpty(); }));
        EXPECT_EQ(pyt, shown);
        EXPECT_TRUE(copyEnabled);
        // Read from the path the drop gave, stored and linked under the lower-cased name.
        EXPECT_EQ(readFile(target), files.first().toUtf8());
        EXPECT_EQ(link, "/mf/other/photo one.jpg");
        EXPECT_TRUE(app->form4().pyt->text().isEmpty());
    }
    EXPECT_EQ(memo->toPlainText(), memoText);
}

TEST_F(ShellTest, WhatIsNoFileIsNotTakenFromADrop) {
    QDir().mkpath(outside.filePath("Folder"));
    bool opened = false;
    dialogs.onOtherModal = [&](QWidget* w) {
        opened = true;
        static_cast<QDialog*>(w)->reject();
    };
    dialogs.expectMessage("это папка");
    ASSERT_TRUE(drop(&form(), {outside.filePath("Folder")}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.satisfied(); }));
    // An address from a browser is not a file of this machine: the drop is not taken at all.
    EXPECT_FALSE(drop(&form(), {"http://example.org/picture.png"}));
    EXPECT_FALSE(opened);
}

TEST_F(ShellTest, LinksOfTheHelpIndexAndDevelopersScreenOpenInTheDefaultPrograms) {
    DefaultPrograms programs;
    click("Label33");
    click("Label96");
    click("Label75");
    const auto contacts = child<QWidget>("DevelopersScreen")->findChildren<app::ClickLabel*>();
    for (app::ClickLabel* link : contacts) {
        QTest::mouseClick(link, Qt::LeftButton);
    }
    EXPECT_EQ(programs.opened,
              (QStringList{"http://zorod.example.org/index.php?in=8",
                           "mailto:team@zorod.example.org", "http://zorod.example.org"}));
}

#include "ShellTest.moc"
