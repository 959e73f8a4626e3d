#include <QDialog>
#include <QEnterEvent>
#include <QStackedWidget>

#include "AppFixture.h"
#include "app/ClickLabel.h"

using namespace zor;
using namespace zor::test;

namespace {

struct NavigationTest : AppFixture {
    void SetUp() override {
        root.makeSite("site");
        start();
        showForm();
    }
    QString header() { return child<QLabel>("header")->text(); }
    QString screen() { return form().currentScreen()->objectName(); }
};

}  // namespace

TEST_F(NavigationTest, MenuItemsLeadToTheirScreensAndTheStripLeadsBack) {
    struct Case {
        const char* label;
        const char* screen;
        const char* header;
    };
    const Case cases[] = {
        {"Label74", "WelcomeScreen", "Приветствие"},
        {"Label29", "DesignScreen", "Управление дизайном"},
        {"Label30", "PagesScreen", "Управление страницами"},
        {"Label31", "UploadScreen", "Загрузка сайта на сервер"},
        {"Label93", "UpdatesScreen", "Проверка на наличие обновлений"},
        {"Label75", "DevelopersScreen", "Разработчики"},
        {"Label33", "HelpIndexScreen", "Справка"},
    };
    for (const Case& c : cases) {
        clickLabel(c.label);
        EXPECT_EQ(screen(), c.screen);
        EXPECT_EQ(header(), c.header);
        // The header itself and the strip's background both lead back to the main menu.
        clickLabel(c.screen == QStringLiteral("WelcomeScreen") ? "Image97" : "header");
        EXPECT_EQ(screen(), "MainMenuScreen");
        EXPECT_EQ(header(), "Главное меню");
    }
}

TEST_F(NavigationTest, StripIconsMatchTheMenu) {
    clickLabel("Image100");
    EXPECT_EQ(screen(), "PagesScreen");
    EXPECT_EQ(header(), "Управление страницами");
    clickLabel("Image99");
    EXPECT_EQ(header(), "Управление дизайном");
    // The upload icon waits out the double-click interval before it acts on a click.
    clickLabel("Image101");
    EXPECT_TRUE(QTest::qWaitFor([&] { return screen() == "UploadScreen"; }));
    EXPECT_EQ(header(), "Загрузка сайта на сервер");
}

TEST_F(NavigationTest, HelpTopicsAndBackLeadThroughTheHelpIndex) {
    const std::pair<const char*, const char*> topics[] = {
        {"Label37", "HelpThemesScreen"},     {"Label38", "HelpPagesScreen"},
        {"Label39", "HelpUploadScreen"},     {"sLabelFX1", "HelpFileManagerScreen"},
        {"Label40", "HelpExtensionsScreen"}, {"Label41", "HelpDevelopScreen"},
    };
    clickLabel("Label33");
    for (const auto& [label, helpScreen] : topics) {
        const QString caption = child<QLabel>(label)->text();
        clickLabel(label);
        EXPECT_EQ(screen(), helpScreen);
        EXPECT_EQ(header(), caption);
        // The lead-in, the screen's first text, fits its one line.
        const auto* lead = form().currentScreen()->findChild<QLabel*>();
        EXPECT_LE(lead->fontMetrics().horizontalAdvance(lead->text()), lead->width()) << helpScreen;
        EXPECT_FALSE(lead->font().bold()) << helpScreen;
        clickLabel((QByteArray(helpScreen) + "Back").constData());
        EXPECT_EQ(screen(), "HelpIndexScreen");
        EXPECT_EQ(header(), "Справка");
    }
    // The upload icon inside the upload help behaves like the strip's.
    clickLabel("Label39");
    clickLabel("HelpUploadIcon");
    EXPECT_TRUE(QTest::qWaitFor([&] { return screen() == "UploadScreen"; }));
    EXPECT_EQ(header(), "Загрузка сайта на сервер");
}

TEST_F(NavigationTest, FileManagerOpensModallyWithoutChangingTheScreen) {
    bool shown = false;
    dialogs.onOtherModal = [&](QWidget* w) {
        shown = w->windowTitle() == "Файл-менеджер";
        static_cast<QDialog*>(w)->reject();
    };
    clickLabel("Label150");
    EXPECT_TRUE(shown);
    EXPECT_EQ(header(), "Главное меню");
    EXPECT_EQ(screen(), "MainMenuScreen");
    shown = false;
    clickLabel("Image102");
    EXPECT_TRUE(shown);
}

TEST_F(NavigationTest, HoverUnderlinesMenuItemsAndUnUnderlinesLinks) {
    auto hover = [](QWidget* w, bool in) {
        if (in) {
            QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
            QApplication::sendEvent(w, &e);
        } else {
            QEvent e(QEvent::Leave);
            QApplication::sendEvent(w, &e);
        }
    };
    // A menu item, then a link: underlined at rest or not, and the other way under the mouse.
    for (const auto& [name, atRest] : {std::pair{"Label29", false}, std::pair{"Label96", true}}) {
        auto* label = child<QLabel>(name);
        EXPECT_EQ(label->font().underline(), atRest) << name;
        hover(label, true);
        EXPECT_EQ(label->font().underline(), !atRest) << name;
        hover(label, false);
        EXPECT_EQ(label->font().underline(), atRest) << name;
    }
}

TEST_F(NavigationTest, TheFourteenScreensAreNamedPagesWithoutTabs) {
    auto* control = child<QStackedWidget>("PageControl1");
    ASSERT_EQ(control->count(), 14);
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(control->widget(i)->objectName(), QStringLiteral("TabSheet%1").arg(i + 1));
    }
    EXPECT_NE(form().findChild<QWidget*>("TabSheet3")->findChild<QWidget*>("PagesScreen"), nullptr);
    EXPECT_EQ(form().size(), QSize(704, 467));
}
