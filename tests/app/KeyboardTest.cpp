#include <QAccessible>
#include <QCheckBox>
#include <QDialog>
#include <QStackedWidget>

#include "AppFixture.h"
#include "app/ClickLabel.h"
#include "app/UploadScreen.h"
#include "editor/TForm2.h"
#include "files/TForm4.h"

using namespace zor;
using namespace zor::test;

namespace {

struct KeyboardTest : AppFixture {
    void SetUp() override {
        root.makeSite("site");
        start();
        showForm();
    }

    static QStringList tabCycle(QWidget* window, QWidget* first, QStringList& unnamed) {
        QApplication::setActiveWindow(window);
        first->setFocus(Qt::TabFocusReason);
        QStringList names;
        for (int i = 0; i < 60; ++i) {
            QWidget* w = QApplication::focusWidget();
            if (!w || (i > 0 && w == first)) {
                break;
            }
            names.append(w->objectName());
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            if (!a || a->text(QAccessible::Name).trimmed().isEmpty()) {
                unnamed.append(w->objectName());
            }
            QTest::keyClick(w, Qt::Key_Tab);
        }
        return names;
    }

    void showScreen(const QString& name) {
        auto* control = child<QStackedWidget>("PageControl1");
        QWidget* screen = form().findChild<QWidget*>(name);
        ASSERT_NE(screen, nullptr) << name.toStdString();
        control->setCurrentWidget(screen->parentWidget());
    }
    QString header() { return child<QLabel>("header")->text(); }
    QString screen() { return form().currentScreen()->objectName(); }

    // Focus on `first`, then Tab until the focus comes back to it: the objectNames on the way,
    // and in `unnamed` those a screen reader would have no name for.
};

}  // namespace

TEST_F(KeyboardTest, TabWalksEveryScreenAndDialogInVisualOrderAndEveryStopIsNamed) {
    const QStringList strip{"Image99", "Image100", "Image101", "Image102", "sitesbox", "header"};
    struct Case {
        const char* screen;
        QStringList order;  // after it, Tab goes round the top strip
    };
    const Case screens[] = {
        {"MainMenuScreen",
         {"Label74", "Label29", "Label30", "Label31", "Label150", "Label93", "Label75", "Label33"}},
        {"DesignScreen", {"Memo1", "Button1", "ListBox2"}},
        {"PagesScreen", {"Edit31", "ComboBox1", "Edit6", "CheckBox3"}},
        {"UpdatesScreen", {"SpeedButton11", "SpeedButton12"}},
        {"UploadScreen",
         {"Edit1",       "Edit2",       "Edit3",     "Edit4",          "EncryptionBox",
          "SessionsBox", "ProtocolBox", "CheckBox2", "CheckBox1",      "Edit5",
          "Button3",     "CheckBox4",   "CheckBox5", "Button2",        "sSpeedButton19",
          "Button6",     "ListBox1",    "ListBox3",  "sSpeedButton16", "sSpeedButton17"}},
        {"HelpIndexScreen",
         {"Label96", "Label37", "Label38", "Label39", "sLabelFX1", "Label40", "Label41"}},
        {"HelpThemesScreen", {"HelpThemesScreenBack"}},
        {"HelpPagesScreen", {"HelpPagesScreenBack"}},
        {"HelpUploadScreen", {"HelpUploadIcon", "HelpUploadScreenBack"}},
        {"HelpFileManagerScreen", {"HelpFileManagerScreenBack"}},
        {"HelpExtensionsScreen", {"HelpExtensionsScreenBack"}},
        {"HelpDevelopScreen", {"HelpDevelopScreenBack"}},
        {"DevelopersScreen", {"MailLink", "SiteLink"}},
        {"WelcomeScreen", {}},
    };
    form().uploadScreen()->CheckBox1->setChecked(true);  // its new-folder group shown
    for (const Case& c : screens) {
        showScreen(c.screen);
        const QString first = c.order.isEmpty() ? strip.first() : c.order.first();
        QStringList unnamed;
        EXPECT_EQ(tabCycle(&form(), child<QWidget>(first.toUtf8().constData()), unnamed),
                  c.order + strip)
            << c.screen;
        EXPECT_TRUE(unnamed.isEmpty()) << c.screen << ": " << unnamed.join(", ").toStdString();
    }

    struct Dialog {
        QWidget* window;
        QStringList order;
    };
    const Dialog dialogs[] = {
        {&app->form2(),
         {"Edit1", "ColorBox1", "Memo1", "qt_tabwidget_tabbar", "ComboBox1", "Edit2", "usedhtml"}},
        {&app->form4(),
         {"SpeedButton1", "RadioButton1", "FileListBox2", "RadioButton5", "SpeedButton3"}},
    };
    for (const Dialog& d : dialogs) {
        d.window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(d.window));
        QStringList unnamed;
        auto* first = d.window->findChild<QWidget*>(d.order.first());
        EXPECT_EQ(tabCycle(d.window, first, unnamed), d.order)
            << d.window->objectName().toStdString();
        EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join(", ").toStdString();
        d.window->hide();
    }
}

TEST_F(KeyboardTest, MenuStripAndHelpCommandsRunFromTheKeyboard) {
    // From where the focus is, Tab to the command, then its key.
    struct Case {
        const char* command;
        Qt::Key key;
        const char* screen;
        const char* header;
    };
    const Case cases[] = {
        {"Label33", Qt::Key_Return, "HelpIndexScreen", "Справка"},
        {"Label39", Qt::Key_Space, "HelpUploadScreen", "О загрузке на сервер"},
        {"HelpUploadIcon", Qt::Key_Return, "UploadScreen", "Загрузка сайта на сервер"},
        {"header", Qt::Key_Return, "MainMenuScreen", "Главное меню"},
        {"Label30", Qt::Key_Enter, "PagesScreen", "Управление страницами"},
        {"Image99", Qt::Key_Return, "DesignScreen", "Управление дизайном"},
        {"header", Qt::Key_Space, "MainMenuScreen", "Главное меню"},
        {"Label93", Qt::Key_Return, "UpdatesScreen", "Проверка на наличие обновлений"},
    };
    QApplication::setActiveWindow(&form());
    child<QWidget>("Image99")->setFocus(Qt::TabFocusReason);
    for (const Case& c : cases) {
        for (int i = 0; i < 30 && QApplication::focusWidget()->objectName() != c.command; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        ASSERT_EQ(QApplication::focusWidget()->objectName(), c.command);
        QTest::keyClick(QApplication::focusWidget(), c.key);
        EXPECT_EQ(screen(), c.screen) << c.command;
        EXPECT_EQ(header(), c.header) << c.command;
    }

    // The file manager from the menu (the selector's Ctrl+N is tried with the site commands).
    bool shown = false;
    dialogs.onOtherModal = [&](QWidget* w) {
        shown = w->objectName() == "Form4";
        static_cast<QDialog*>(w)->reject();
    };
    showScreen("MainMenuScreen");
    child<QWidget>("Label150")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(child<QWidget>("Label150"), Qt::Key_Return);
    EXPECT_TRUE(shown);
}

TEST_F(KeyboardTest, ScreenReadersSeeCommandLabelsAsButtonsAndLinksAndCanPressThem) {
    for (auto* label : form().findChildren<app::ClickLabel*>()) {
        if (label->focusPolicy() == Qt::NoFocus) {
            continue;  // the strip's background: the header is the same command
        }
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(label);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->role(), label->hover() == app::ClickLabel::Hover::Link ? QAccessible::Link
                                                                            : QAccessible::Button)
            << label->objectName().toStdString();
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << label->objectName().toStdString();
    }
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(child<QWidget>("Image101"))->text(QAccessible::Name),
        "Загрузка сайта на сервер");
    QAccessibleInterface* welcome =
        QAccessible::queryAccessibleInterface(child<QWidget>("Label74"));
    welcome->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(screen(), "WelcomeScreen");
    EXPECT_EQ(header(), "Приветствие");
}
