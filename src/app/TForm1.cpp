#include "app/TForm1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/ClickLabel.h"
#include "app/DesignScreen.h"
#include "app/Icons.h"
#include "app/PagesScreen.h"
#include "app/ScreenMargins.h"
#include "app/SiteCatalogueMenu.h"
#include "app/StaticScreens.h"
#include "app/TopStrip.h"
#include "app/UpdatesScreen.h"
#include "app/UploadScreen.h"
#include "platform/CommandGuard.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/Shell.h"
#include "publish/AccountSettings.h"
#include "publish/PublishSession.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"
#include "site/SiteOpening.h"

namespace zor::app {
namespace {

QFont arial(int px) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(px);
    return f;
}

// Wraps a screen into its page of the page control, so both names can be found.
QWidget* tabSheet(int number, QWidget* screen) {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet%1").arg(number));
    auto* l = new QVBoxLayout(page);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(screen);
    return page;
}

}  // namespace

TForm1::TForm1(OpenSiteState& state, SettingsStore& settings, const QString& sitesRoot,
               QWidget* parent)
    : QWidget(parent), state_(state), settings_(settings) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Caption);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(704, 467);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(226, 226, 226));
    setPalette(pal);
    setAutoFillBackground(true);

    state_.sitesRoot = QDir(sitesRoot).absolutePath() + u'/';
    buildStrip();
    buildScreens();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(strip_);
    layout->addWidget(PageControl1, 1);
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildStrip() {
    auto* strip = new TopStrip;
    strip_ = strip;
    sitesbox = strip->sitesbox;
    header = strip->header;
    PopupMenu3 = catalogue_ = new SiteCatalogueMenu(*this, state_, sitesbox);
    connectGuarded(sitesbox, &QComboBox::activated, this, [this] { sitesboxSelect(); });

    // Strip commands. Screens are built after the strip; the connections look them up then.
    connect(strip, &TopStrip::menuWanted, this,
            [this] { showScreen(mainMenu_, QStringLiteral("Главное меню")); });
    connect(strip, &TopStrip::designWanted, this,
            [this] { showScreen(design_, findChild<QLabel*>(QStringLiteral("Label29"))->text()); });
    connect(strip, &TopStrip::pagesWanted, this,
            [this] { showScreen(pages_, QStringLiteral("Управление страницами")); });
    connect(strip, &TopStrip::uploadWanted, this, [this] { enterUploadScreen(); });
    // A double click has already acted as a click: the upload follows the screen change.
    connect(strip, &TopStrip::uploadDoubleClicked, this, [this] { upload_->Button2Click(); });
    connect(strip, &TopStrip::fileManagerWanted, this, [this] { showFileManager(); });
}

void TForm1::navigateOn(ClickLabel* label, QWidget* screen, const QString& fixedHeader) {
    connect(label, &ClickLabel::clicked, this, [this, label, screen, fixedHeader] {
        showScreen(screen, fixedHeader.isEmpty() ? label->text() : fixedHeader);
    });
}

void TForm1::buildScreens() {
    PageControl1 = new QStackedWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));

    design_ = new DesignScreen(*this, state_);
    design_->setObjectName(QStringLiteral("DesignScreen"));
    upload_ = new UploadScreen(*this, state_, settings_);
    upload_->setObjectName(QStringLiteral("UploadScreen"));
    pages_ = new PagesScreen(*this, state_, settings_);
    pages_->setObjectName(QStringLiteral("PagesScreen"));
    QWidget* welcome = makeWelcomeScreen();

    // The main menu: eight items, each with its picture on the left.
    mainMenu_ = new QWidget;
    mainMenu_->setObjectName(QStringLiteral("MainMenuScreen"));
    auto* menuLayout = new QVBoxLayout(mainMenu_);
    menuLayout->setContentsMargins(20, 14, 60, 14);
    auto* hint =
        new QLabel(QStringLiteral("Кстати, сюда можно попасть кликнув по верхней части окна"));
    hint->setStyleSheet(QStringLiteral("color: rgb(105, 105, 105);"));
    menuLayout->addWidget(hint, 0, Qt::AlignRight);
    menuLayout->addSpacing(14);
    struct Item {
        const char* name;
        const char* caption;
        Icon icon;
    };
    const Item items[] = {
        {"Label74", "Приветствие", Icon::Welcome},
        {"Label29", "Управление дизайном", Icon::Design},
        {"Label30", "Управление страницами, создание карты сайта", Icon::Pages},
        {"Label31", "Загрузка сайта на сервер", Icon::Upload},
        {"Label150", "Файловый менеджер ", Icon::FileManager},
        {"Label93", "Проверка на наличие обновлений", Icon::Updates},
        {"Label75", "Разработчики", Icon::Developers},
        {"Label33", "Справка", Icon::Help},
    };
    QHash<QString, ClickLabel*> menu;
    for (const Item& item : items) {
        auto* row = new QHBoxLayout;
        row->addStretch();
        auto* pic = new QLabel;
        pic->setPixmap(drawIcon(item.icon));
        row->addWidget(pic);
        row->addSpacing(6);
        auto* label = new ClickLabel(QString::fromUtf8(item.caption), ClickLabel::Hover::MenuItem);
        label->setObjectName(QLatin1String(item.name));
        label->setBaseFont(arial(16));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(label);
        menuLayout->addLayout(row);
        menuLayout->addSpacing(8);
        menu.insert(QLatin1String(item.name), label);
    }
    menuLayout->addStretch();

    HelpScreen themes = makeHelpScreen(HelpTopic::Themes);
    HelpScreen pagesHelp = makeHelpScreen(HelpTopic::Pages);
    HelpScreen uploadHelp = makeHelpScreen(HelpTopic::Upload);
    HelpScreen extensions = makeHelpScreen(HelpTopic::Extensions);
    HelpScreen develop = makeHelpScreen(HelpTopic::Develop);
    HelpScreen fileManager = makeHelpScreen(HelpTopic::FileManager);
    QList<ClickLabel*> contactLinks;
    QWidget* developers = makeDevelopersScreen(contactLinks);
    QWidget* updates = updates_ = new UpdatesScreen(*this, state_);

    // The help index: two groups of topics and the documentation link.
    helpIndex_ = new QWidget;
    helpIndex_->setObjectName(QStringLiteral("HelpIndexScreen"));
    auto* helpLayout = new QVBoxLayout(helpIndex_);
    helpLayout->setContentsMargins(ScreenMargins);
    const QString siteHost = QUrl(site::ProductSite).host();
    auto* docLink = new ClickLabel(QStringLiteral("Документация на сайтe ") + siteHost,
                                   ClickLabel::Hover::Link);
    docLink->setObjectName(QStringLiteral("Label96"));
    docLink->setBaseFont(arial(13));
    docLink->setStyleSheet(QStringLiteral("color: #1a4fa0;"));
    helpLayout->addWidget(docLink, 0, Qt::AlignRight);
    struct Topic {
        const char* name;
        const char* caption;
        QWidget* screen;
    };
    auto group = [&](const QString& title, std::initializer_list<Topic> topics) {
        auto* g = new QLabel(title);
        QFont gf = arial(17);
        gf.setBold(true);
        g->setFont(gf);
        helpLayout->addWidget(g);
        for (const Topic& t : topics) {
            auto* label = new ClickLabel(QString::fromUtf8(t.caption), ClickLabel::Hover::MenuItem);
            label->setObjectName(QLatin1String(t.name));
            label->setBaseFont(arial(16));
            helpLayout->addWidget(label, 0, Qt::AlignLeft);
            navigateOn(label, t.screen);
        }
        helpLayout->addSpacing(12);
    };
    group(QStringLiteral("Пользователю"),
          {{"Label37", "О создании тем", themes.page},
           {"Label38", "О редактировании страниц", pagesHelp.page},
           {"Label39", "О загрузке на сервер", uploadHelp.page},
           {"sLabelFX1", "О файловом менеджере", fileManager.page}});
    group(QStringLiteral("Разработчику"), {{"Label40", "О написании расширений", extensions.page},
                                           {"Label41", "О доработке CMS", develop.page}});
    helpLayout->addStretch();

    QWidget* const pages[] = {design_,         upload_,         pages_,         welcome,
                              mainMenu_,       themes.page,     pagesHelp.page, uploadHelp.page,
                              extensions.page, develop.page,    developers,     updates,
                              helpIndex_,      fileManager.page};
    int sheet = 0;  // the sheets are numbered from 1, in this order
    for (QWidget* page : pages) {
        PageControl1->addWidget(tabSheet(++sheet, page));
    }
    PageControl1->setCurrentWidget(mainMenu_->parentWidget());  // the main menu's sheet

    navigateOn(menu["Label74"], welcome);
    navigateOn(menu["Label29"], design_);
    navigateOn(menu["Label30"], pages_, QStringLiteral("Управление страницами"));
    connect(menu["Label31"], &ClickLabel::clicked, this, [this] { enterUploadScreen(); });
    connect(menu["Label150"], &ClickLabel::clicked, this, [this] { showFileManager(); });
    navigateOn(menu["Label93"], updates);
    navigateOn(menu["Label75"], developers);
    navigateOn(menu["Label33"], helpIndex_);
    for (const HelpScreen* h :
         {&themes, &pagesHelp, &uploadHelp, &extensions, &develop, &fileManager}) {
        connect(h->back, &ClickLabel::clicked, this,
                [this, help = menu["Label33"]] { showScreen(helpIndex_, help->text()); });
    }
    // The upload icon inside the upload help does what the strip's upload icon does.
    connect(uploadHelp.uploadIcon, &ClickLabel::clicked, this, [this] { enterUploadScreen(); });
    connect(uploadHelp.uploadIcon, &ClickLabel::doubleClicked, this,
            [this] { upload_->Button2Click(); });
    const QString docAddress = site::ProductSite + QStringLiteral("/index.php?in=8");
    connect(docLink, &ClickLabel::clicked, this, [docAddress] { shell::openAddress(docAddress); });
    for (ClickLabel* link : contactLinks) {
        connect(link, &ClickLabel::clicked, this,
                [link] { shell::openAddress(link->property("address").toString()); });
    }
}

void TForm1::showScreen(QWidget* screen, const QString& headerText) {
    header->setText(headerText);
    PageControl1->setCurrentWidget(screen->parentWidget());
}

void TForm1::enterUploadScreen() {
    showScreen(upload_, findChild<QLabel*>(QStringLiteral("Label31"))->text());
    if (publish::accountComplete(state_.ftpAccount)) {
        upload_->Button5Click();
    }
}

QWidget* TForm1::currentScreen() const {
    QWidget* page = PageControl1->currentWidget();
    return page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).value(0);
}

editor::TForm2& TForm1::editor() const {
    if (!form2_) {
        throw ZorError(QStringLiteral("Окно редактора ещё не создано."));
    }
    return *form2_;
}

void TForm1::showFileManager() {
    if (form4_) {
        form4_->exec();
    }
}

void TForm1::FormCreate() {
    state_.sitePath = state_.sitesRoot;
    sitesbox->addItems(site::listSites(state_.sitesRoot));
    sitesbox->setCurrentIndex(-1);
    // A name that could not be made, or an input box cancelled, brings the offer back; "OK"
    // leaves the window without a site, to be made later with "Новый".
    while (sitesbox->count() == 0) {
        if (!offerFirstSite()) {
            return;
        }
        runGuarded(this, [this] { catalogue_->createSite(); });
    }
    sitesbox->setCurrentIndex(0);
    runGuarded(this, [this] { sitesboxSelect(); });
}

bool TForm1::offerFirstSite() {
    QMessageBox box(
        QMessageBox::Information, QStringLiteral("ZOR OD"),
        QStringLiteral("Сайты хранятся в папке \u00AB%1\u00BB, по папке на сайт. В ней пока "
                       "нет ни одного сайта.\n\n"
                       "Нажмите \u00ABСоздать сайт\u00BB, чтобы создать первый сайт и сразу "
                       "открыть его. Новые сайты потом можно создавать и из списка сайтов "
                       "вверху окна: щёлкните по нему правой кнопкой мыши и выберите "
                       "\u00ABНовый\u00BB (или нажмите Ctrl+N, когда список выбран).")
            .arg(QDir::toNativeSeparators(QDir::cleanPath(state_.sitesRoot))),
        QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    QPushButton* create = box.addButton(QStringLiteral("Создать сайт"), QMessageBox::AcceptRole);
    // Without the picture the style gives standard buttons only, so the two look alike.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.setDefaultButton(create);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
    return box.clickedButton() == create;
}

void TForm1::setSiteCaption(const QString& name) {
    setWindowTitle(Caption + QStringLiteral(" - ") + name);
}

void TForm1::selectSiteEntry(const QString& name) {
    sitesbox->setCurrentIndex(sitesbox->findText(name));
}

void TForm1::SaveOpenSite() {
    if (state_.siteName.isEmpty()) {
        return;
    }
    site::writeIndexFiles(state_);
    upload_->saveAccount();
}

void TForm1::showPageList() {
    pages_->showPageList();
}

void TForm1::sitesboxSelect() {
    if (commands_.busy()) {
        selectSiteEntry(state_.siteName);  // the open site stays open
        return;
    }
    const QString picked = sitesbox->currentText();
    if (picked.isEmpty() || sitesbox->currentIndex() < 0) {
        return;
    }
    if (!state_.siteName.isEmpty()) {
        try {
            SaveOpenSite();
        } catch (const ZorError& e) {
            if (!leaveUnsaved(e, QStringLiteral("Перейти к другому сайту без сохранения?"))) {
                // The open site stays open: the selector keeps naming it.
                selectSiteEntry(state_.siteName);
                return;
            }
        }
    }
    openSite(picked);
}

void TForm1::openSite(const QString& name) {
    setSiteCaption(name);
    QStringList errors = publish::loadOpenSite(state_, settings_, name);
    auto step = [&errors](const std::function<void()>& fn, const std::function<void()>& onError) {
        try {
            fn();
        } catch (const ZorError& e) {
            errors.append(e.text());
            if (onError) {
                onError();
            }
        }
    };
    step([this] { design_->loadBlockList(); }, nullptr);
    pages_->showPageList();
    step([this] { design_->loadTemplate(); }, [this] { design_->clearTemplate(); });
    step([this] { pages_->loadSitemapSettings(); }, nullptr);
    upload_->showAccount();
    upload_->clearRemoteLists();
    if (!errors.isEmpty()) {
        throw ZorError(site::partlyOpenedText(name, errors));
    }
    if (header->text() == QStringLiteral("Загрузка сайта на сервер") &&
        !state_.ftpAccount.host.isEmpty()) {
        // A server that cannot be listed is reported on its own: the site is open all the same,
        // and a command that opened it (such as a deletion) goes on.
        runGuarded(this, [this] { upload_->Button5Click(); });
    }
}

int TForm1::pageListSelection() const {
    return pages_->ComboBox1->currentIndex();
}

void TForm1::setPageListEntry(int index, const QString& text) {
    state_.pageList[index] = text;
    pages_->ComboBox1->setItemText(index, text);
}

int TForm1::blockListSelection() const {
    return design_->ListBox2->currentRow();
}

void TForm1::setBlockListEntry(int index, const QString& text) {
    design_->ListBox2->item(index)->setText(text);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (commands_.busy()) {
        event->ignore();  // the running command's own Cancel ends it first
        return;
    }
    try {
        SaveOpenSite();
        event->accept();
    } catch (const ZorError& e) {
        if (leaveUnsaved(e, QStringLiteral("Закрыть программу без сохранения?"))) {
            event->accept();
        } else {
            event->ignore();
        }
    }
}

bool TForm1::leaveUnsaved(const ZorError& error, const QString& question) {
    return dialogs::ask(this, QStringLiteral("ZOR OD"),
                        QStringLiteral("Не удалось сохранить сайт \u00AB%1\u00BB:\n%2\n\n")
                                .arg(state_.siteName, error.text()) +
                            question);
}

}  // namespace zor::app
