#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include "app/AppFixture.h"
#include "files/TForm4.h"
#include "support/FileDialogs.h"

using namespace zor;
using namespace zor::test;

namespace {

// The file manager of a started program over the site "site", shown (not modally, so the test
// can drive it) with the open-file dialog answered from the test.
struct FileManagerTest : AppFixture {
    QTemporaryDir outside;  // where the user's own files are
    files::TForm4* fm = nullptr;
    QString answer;  // what the next open-file dialog picks; empty cancels it
    QList<SeenFileDialog> seen;

    void SetUp() override {
        root.makeSite("site");
        startAndShow();
    }
    void startAndShow() {
        start();
        fm = &app->form4();
        // The file manager itself is modal too; only the open-file dialogs are answered.
        dialogs.onOtherModal = [this](QWidget* w) {
            if (const auto dialog = answerFileDialog(w, answer)) {
                seen.append(*dialog);
            }
        };
        fm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(fm));
    }
    QString site(const QString& relative) const { return root.sitePath("site") + u'/' + relative; }
    QString userFile(const QString& name, const QByteArray& bytes = "content") {
        const QString path = outside.filePath(name);
        writeFile(path, bytes);
        return path;
    }
    void setAddress(const QString& text) { child<QLineEdit>("Edit6")->setText(text); }
    void choose(const QString& path) {
        answer = path;
        click(fm->SpeedButton1);
    }
    void copyInto(int category) {
        click(fm->copyChoice[static_cast<size_t>(category)]);
        click(fm->button1);
    }
    void browse(int category) { click(fm->browseChoice[static_cast<size_t>(category)]); }
    QStringList listed() const { return items(fm->FileListBox2); }
    void clickListed(const QString& name) {
        const auto items = fm->FileListBox2->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name.toStdString();
        QTest::mouseClick(fm->FileListBox2->viewport(), Qt::LeftButton, {},
                          fm->FileListBox2->visualItemRect(items.first()).center());
    }
    bool linkShown() const { return fm->Edit1->isVisible() && fm->Label3->isVisible(); }
};

}  // namespace

TEST_F(FileManagerTest, CopiesIntoEachCategoryUnderItsOwnNameAndShowsTheLink) {
    struct Case {
        const char* address;
        int category;
        const char* name;
        const char* stored;
        const char* link;
    };
    const Case cases[] = {
        {"example.ru", 0, "My Photo.JPG", "mf/img/My Photo.JPG",
         "http://example.ru/mf/img/My Photo.JPG"},
        {"http://site.ru/", 1, "Песня 1.mp3", "mf/music/Песня 1.mp3",
         "http://site.ru/mf/music/Песня 1.mp3"},
        // No address yet: the link from the site's root.
        {"", 2, "Фон Шапки.PNG", "etc/desing/Фон Шапки.PNG", "/etc/desing/Фон Шапки.PNG"},
        {"https://secure.ru", 3, "Price List.pdf", "mf/other/Price List.pdf",
         "https://secure.ru/mf/other/Price List.pdf"},
    };
    QString previous;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setAddress(QString::fromUtf8(c.address));
        const QString source =
            userFile(QString::fromUtf8(c.name), QByteArray("bytes of ") + c.name);
        choose(source);
        ASSERT_EQ(seen.size(), 1);
        const SeenFileDialog dialog = seen.takeFirst();
        EXPECT_EQ(dialog.title, "Выберите копируемый файл");
        EXPECT_EQ(dialog.nameFilters, QStringList{"Все файлы (*.*)"});
        EXPECT_EQ(dialog.patterns, QStringList{"*"});  // names without a dot are listed too
        // The dialog offers the file of the last copy.
        EXPECT_EQ(dialog.preselected, previous);
        EXPECT_EQ(fm->pyt->text(), source);
        EXPECT_TRUE(fm->button1->isEnabled());

        copyInto(c.category);
        EXPECT_EQ(readFile(site(QString::fromUtf8(c.stored))), QByteArray("bytes of ") + c.name);
        EXPECT_EQ(fm->Edit1->text(), QString::fromUtf8(c.link));
        EXPECT_TRUE(linkShown());
        // Beside a link without the address, where the address is entered.
        EXPECT_EQ(fm->linkNote->isVisible(), c.address[0] == '\0');
        EXPECT_TRUE(fm->linkNote->text().contains("«Управление страницами»"));
        EXPECT_EQ(fm->focusWidget(), fm->Edit1);
        EXPECT_EQ(fm->Edit1->selectedText(), fm->Edit1->text());
        // The list shows "Другое" since "Выбрать": the new file appears only when copied there.
        EXPECT_EQ(listed().contains(QString::fromUtf8(c.name)), c.category == 3);
        previous = source;
    }
}

TEST_F(FileManagerTest, AFileOfTheSameNameIsReplacedAndAFileCopiedOntoItselfIsKept) {
    writeFile(site("mf/img/logo.png"), "old logo");
    writeFile(site("mf/img/self.png"), "picture");
    choose(userFile("logo.png", "new logo"));
    copyInto(0);
    choose(site("mf/img/self.png"));
    copyInto(0);
    EXPECT_EQ(readFile(site("mf/img/logo.png")), "new logo");
    EXPECT_EQ(readFile(site("mf/img/self.png")), "picture");
    EXPECT_EQ(fm->Edit1->text(), "/mf/img/self.png");
    EXPECT_EQ(QDir(site("mf/img")).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"logo.png", "self.png"}));
}

TEST_F(FileManagerTest, BrowsingListsOrdinaryFilesGivesLinksAndDeletesOnlyAfterAYes) {
    for (const char* name : {"b.mp3", "A.mp3", "c.ogg", ".hidden.mp3"}) {
        writeFile(site(QStringLiteral("mf/music/") + QLatin1String(name)), "x");
    }
    QDir().mkpath(site("mf/music/folder.mp3"));
    QFile::link(site("mf/music/b.mp3"), site("mf/music/link.mp3"));
    setAddress("site.ru");
    browse(1);
    EXPECT_EQ(listed(), (QStringList{"A.mp3", "b.mp3", "c.ogg"}));

    clickListed("b.mp3");
    EXPECT_EQ(fm->Edit1->text(), "http://site.ru/mf/music/b.mp3");
    EXPECT_TRUE(linkShown());

    dialogs.expectQuestion("Удалить файл «b.mp3»?", QMessageBox::No);
    click(fm->SpeedButton3);
    EXPECT_TRUE(QFile::exists(site("mf/music/b.mp3")));
    EXPECT_EQ(listed().size(), 3);

    dialogs.expectQuestion("Удалить файл «b.mp3»?", QMessageBox::Yes);
    click(fm->SpeedButton3);
    EXPECT_FALSE(QFile::exists(site("mf/music/b.mp3")));
    EXPECT_EQ(listed(), (QStringList{"A.mp3", "c.ogg"}));
    EXPECT_FALSE(linkShown());

    // Nothing selected: nothing is deleted and nothing is said (the driver fails on any box).
    click(fm->SpeedButton3);
    EXPECT_EQ(listed(), (QStringList{"A.mp3", "c.ogg"}));
}

TEST_F(FileManagerTest, ChoosingShowsOtherAndCancellingForgetsTheChoiceButNotThePath) {
    const QString first = userFile("first.txt");
    browse(0);
    choose(first);
    EXPECT_TRUE(fm->browseChoice[3]->isChecked());
    EXPECT_EQ(fm->pyt->text(), first);

    browse(1);
    choose(QString());
    EXPECT_TRUE(fm->browseChoice[3]->isChecked());
    EXPECT_TRUE(fm->pyt->text().isEmpty());
    EXPECT_FALSE(fm->button1->isEnabled());

    choose(QString());
    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen[1].preselected, first);
    EXPECT_EQ(seen[2].preselected, first);
}

TEST_F(FileManagerTest, ClosingEmptiesTheChoiceAndHidesTheLinkButKeepsTheCategories) {
    choose(userFile("song.mp3"));
    copyInto(1);
    browse(2);
    ASSERT_TRUE(linkShown());
    fm->close();
    EXPECT_TRUE(fm->pyt->text().isEmpty());
    EXPECT_FALSE(fm->button1->isEnabled());
    fm->show();
    EXPECT_FALSE(linkShown());
    EXPECT_TRUE(fm->copyChoice[1]->isChecked());
    EXPECT_TRUE(fm->browseChoice[2]->isChecked());
}

TEST_F(FileManagerTest, AfterSwitchingSiteTheListAndTheDeleteActOnTheNewSite) {
    // The program starts again with a second site in its folder.
    fm->close();
    app.reset();
    root.makeSite("zeta");
    writeFile(site("mf/other/a.txt"), "a");
    writeFile(root.sitePath("zeta") + "/mf/other/a.txt", "z");
    writeFile(root.sitePath("zeta") + "/mf/other/z.txt", "z");
    startAndShow();
    EXPECT_EQ(listed(), QStringList{"a.txt"});
    fm->close();
    auto* box = child<QComboBox>("sitesbox");
    box->setCurrentIndex(box->findText("zeta"));
    form().sitesboxSelect();
    fm->show();
    EXPECT_EQ(listed(), (QStringList{"a.txt", "z.txt"}));
    clickListed("a.txt");
    dialogs.expectQuestion("«a.txt»", QMessageBox::Yes);
    click(fm->SpeedButton3);
    EXPECT_FALSE(QFile::exists(root.sitePath("zeta") + "/mf/other/a.txt"));
    EXPECT_TRUE(QFile::exists(site("mf/other/a.txt")));
}

TEST_F(FileManagerTest, AMissingCategoryFolderIsShownEmptyAndMadeByTheCopy) {
    QDir(site("mf/music")).removeRecursively();
    browse(1);
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_TRUE(fm->missingNote->isVisible());
    EXPECT_TRUE(fm->missingNote->text().contains("mf/music"));

    choose(userFile("tune.mp3", "tune"));
    copyInto(1);
    EXPECT_EQ(readFile(site("mf/music/tune.mp3")), "tune");
    browse(1);
    EXPECT_EQ(listed(), QStringList{"tune.mp3"});
    EXPECT_FALSE(fm->missingNote->isVisible());
}

TEST_F(FileManagerTest, ACopyThatCannotBeMadeIsReportedAndChangesNothing) {
    struct Case {
        const char* what;
        const char* name;
        std::function<void(FileManagerTest&, const QString& source)> meddle;
        const char* message;
    };
    const Case cases[] = {
        {"source gone", "doc.txt",
         [](FileManagerTest&, const QString& source) { QFile::remove(source); }, "не найден"},
        {"disk full", "doc.txt", nullptr, "Не удалось записать файл"},
        {"name outside the code page", "日本.txt", nullptr, "Windows-1251"},
        {"no dot in the name", "README", nullptr, "нет расширения"},
        {"folder leads out of the site", "doc.txt",
         [](FileManagerTest& t, const QString&) {
             // The folder is a link to one outside holding a file of the same name.
             QDir(t.site("mf/other")).removeRecursively();
             writeFile(t.outside.filePath("elsewhere/doc.txt"), "old");
             QFile::link(t.outside.filePath("elsewhere"), t.site("mf/other"));
         },
         "за пределы сайта"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(site("mf/other/doc.txt"), "old");
        const QString source = userFile(QString::fromUtf8(c.name), QByteArray(256 * 1024, 'n'));
        choose(source);
        if (c.meddle) {
            c.meddle(*this, source);
        }
        dialogs.expectMessage(QString::fromUtf8(c.message));
        {
            const auto limit = QByteArray(c.what) == "disk full"
                                   ? std::make_unique<FileSizeLimit>(64 * 1024)
                                   : nullptr;
            copyInto(3);
        }
        EXPECT_TRUE(dialogs.satisfied());
        EXPECT_FALSE(linkShown());
        EXPECT_EQ(readFile(site("mf/other/doc.txt")), "old");
        EXPECT_EQ(QDir(site("mf/other")).entryList(QDir::Files | QDir::Hidden),
                  QStringList{"doc.txt"});
        // Back to a plain site folder for the next case.
        QFile::remove(site("mf/other"));
        QDir().mkpath(site("mf/other"));
    }
}
