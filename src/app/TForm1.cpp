#include "app/TForm1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/ClickLabel.h"
#include "app/DesignScreen.h"
#include "app/Icons.h"
#include "app/PagesScreen.h"
#include "app/StaticScreens.h"
#include "app/UpdatesScreen.h"
#include "app/UploadScreen.h"
#include "platform/CommandGuard.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/Shell.h"
#include "publish/PublishSession.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"

namespace zor::app {
namespace {

constexpr int StripHeight = 34;

QFont arial(int px) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(px);
    return f;
}

QPixmap stripBackground() {
    QPixmap pm(704, StripHeight);
    QPainter p(&pm);
    QLinearGradient g(0, 0, 0, StripHeight);
    g.setColorAt(0, QColor(250, 250, 252));
    g.setColorAt(0.55, QColor(228, 232, 240));
    g.setColorAt(1, QColor(196, 204, 218));
    p.fillRect(pm.rect(), g);
    p.setPen(QColor(160, 168, 182));
    p.drawLine(0, StripHeight - 1, 704, StripHeight - 1);
    return pm;
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
    strip_ = new QWidget;
    strip_->setObjectName(QStringLiteral("Panel2"));
    strip_->setFixedHeight(StripHeight);

    // The background picture lies under everything else of the strip and is clickable itself.
    auto* background = new ClickLabel(QString(), ClickLabel::Hover::None, strip_);
    background->setObjectName(QStringLiteral("Image97"));
    background->setPixmap(stripBackground());
    background->setScaledContents(true);
    background->setGeometry(0, 0, 704, StripHeight);
    background->setCursor(Qt::ArrowCursor);

    auto icon = [](const char* name, Icon kind, const QString& hint) {
        auto* l = new ClickLabel(QString());
        l->setObjectName(QLatin1String(name));
        l->setPixmap(drawIcon(kind));
        l->setToolTip(hint);
        l->setFixedSize(16, 16);
        return l;
    };
    auto* designIcon = icon("Image99", Icon::Design, QStringLiteral("Управление дизайном"));
    auto* pagesIcon = icon("Image100", Icon::Pages,
                           QStringLiteral("Управление страницами, создание карты сайта"));
    auto* uploadIcon = icon("Image101", Icon::Upload, QStringLiteral("Загрузка сайта на сервер"));
    uploadIcon->setClickWaitsForDoubleClick(true);  // its double click uploads
    auto* filesIcon = icon("Image102", Icon::FileManager, QStringLiteral("Файловый менеджер"));

    sitesbox = new QComboBox;
    sitesbox->setObjectName(QStringLiteral("sitesbox"));
    sitesbox->setPlaceholderText(QStringLiteral("Выберите сайт"));
    sitesbox->setMinimumWidth(190);
    sitesbox->setToolTip(
        QStringLiteral("Сайт; правая кнопка мыши \u2014 создать, переименовать, "
                       "удалить или скопировать"));

    header = new ClickLabel(QStringLiteral("Главное меню"));
    header->setObjectName(QStringLiteral("header"));
    QFont hf = arial(23);
    hf.setItalic(true);
    header->setFont(hf);
    header->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    header->setStyleSheet(QStringLiteral("color: rgb(105, 105, 105);"));  // 3-D dark shadow

    auto* row = new QHBoxLayout(strip_);
    row->setContentsMargins(8, 0, 10, 0);
    row->setSpacing(8);
    for (QWidget* w : {static_cast<QWidget*>(designIcon), static_cast<QWidget*>(pagesIcon),
                       static_cast<QWidget*>(uploadIcon), static_cast<QWidget*>(filesIcon)}) {
        row->addWidget(w);
    }
    row->addSpacing(6);
    row->addWidget(sitesbox);
    row->addStretch();
    row->addWidget(header);

    // The site selector's menu: its shortcuts act while the selector has the focus.
    PopupMenu3 = new QMenu(sitesbox);
    PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));
    auto addCommand = [this](const char* name, const QString& text, const QKeySequence& keys,
                             void (TForm1::*handler)()) {
        auto* a = PopupMenu3->addAction(text);
        a->setObjectName(QLatin1String(name));
        if (!keys.isEmpty()) {
            a->setShortcut(keys);
            a->setShortcutContext(Qt::WidgetShortcut);
            sitesbox->addAction(a);
        }
        connectGuarded(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    addCommand("SpeedButton1", QStringLiteral("Новый"), QKeySequence(Qt::CTRL | Qt::Key_N),
               &TForm1::SpeedButton1Click);
    addCommand("N1", QStringLiteral("Переименовать"), QKeySequence(Qt::CTRL | Qt::Key_R),
               &TForm1::N1Click);
    addCommand("N5", QStringLiteral("Удалить"), QKeySequence(Qt::CTRL | Qt::Key_Delete),
               &TForm1::N5Click);
    addCommand("N6", QStringLiteral("Сделать копию"), QKeySequence(), &TForm1::N6Click);
    sitesbox->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sitesbox, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu3->popup(sitesbox->mapToGlobal(pos)); });
    connectGuarded(sitesbox, &QComboBox::activated, this, [this] { sitesboxSelect(); });

    // Strip commands. Screens are built after the strip; the connections look them up then.
    auto toMenu = [this] { showScreen(mainMenu_, QStringLiteral("Главное меню")); };
    connect(background, &ClickLabel::clicked, this, toMenu);
    connect(static_cast<ClickLabel*>(header), &ClickLabel::clicked, this, toMenu);
    connect(designIcon, &ClickLabel::clicked, this,
            [this] { showScreen(design_, findChild<QLabel*>(QStringLiteral("Label29"))->text()); });
    connect(pagesIcon, &ClickLabel::clicked, this,
            [this] { showScreen(pages_, QStringLiteral("Управление страницами")); });
    connect(uploadIcon, &ClickLabel::clicked, this, [this] { enterUploadScreen(); });
    // A double click has already acted as a click: the upload follows the screen change.
    connect(uploadIcon, &ClickLabel::doubleClicked, this, [this] { upload_->Button2Click(); });
    connect(filesIcon, &ClickLabel::clicked, this, [this] { showFileManager(); });
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
    helpLayout->setContentsMargins(24, 12, 24, 12);
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
    for (int i = 0; i < 14; ++i) {
        PageControl1->addWidget(tabSheet(i + 1, pages[i]));
    }
    PageControl1->setCurrentIndex(4);  // the main menu

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
    if (sitesbox->count() == 0) {
        dialogs::showMessage(
            this,
            QStringLiteral("В папке программы \u00AB%1\u00BB пока нет ни одного сайта.\n\n"
                           "Чтобы создать сайт, щёлкните правой кнопкой мыши по списку "
                           "\u00ABВыберите сайт\u00BB вверху окна и выберите \u00ABНовый\u00BB "
                           "(или нажмите Ctrl+N, когда список выбран). Созданный сайт затем "
                           "выберите в этом списке.")
                .arg(QDir::toNativeSeparators(state_.sitesRoot)));
        return;
    }
    sitesbox->setCurrentIndex(0);
    runGuarded(this, [this] { sitesboxSelect(); });
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

void TForm1::sitesboxSelect() {
    if (publishing_) {
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
        } catch (...) {
            // The open site stays open: the selector keeps naming it.
            selectSiteEntry(state_.siteName);
            throw;
        }
    }
    openSite(picked);
}

void TForm1::openSite(const QString& name) {
    state_.siteName = name;
    setSiteCaption(name);
    state_.sitePath = state_.sitesRoot + name;

    QStringList errors;
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
    step([this] { site::readPageTitleIndex(state_); }, nullptr);
    pages_->showPageList();
    step([this] { design_->loadTemplate(); }, [this] { design_->clearTemplate(); });
    step([this] { pages_->loadSitemapSettings(); }, nullptr);
    step([this] { upload_->loadAccount(); }, nullptr);
    upload_->clearRemoteLists();
    if (!errors.isEmpty()) {
        throw ZorError(QStringLiteral("Сайт \u00AB%1\u00BB открыт не полностью.\n\n").arg(name) +
                       errors.join(QStringLiteral("\n\n")));
    }
    if (header->text() == QStringLiteral("Загрузка сайта на сервер") &&
        !state_.ftpAccount.host.isEmpty()) {
        // A server that cannot be listed is reported on its own: the site is open all the same,
        // and a command that opened it (such as a deletion) goes on.
        runGuarded(this, [this] { upload_->Button5Click(); });
    }
}

void TForm1::SpeedButton1Click() {
    if (publishing_) {
        return;
    }
    const auto name = dialogs::inputQuery(this, QStringLiteral("Новый сайт"),
                                          QStringLiteral("Пожалуйста, укажите имя"));
    if (!name || name->isEmpty()) {
        return;
    }
    site::createSite(state_.sitesRoot, *name);
    const QString open = state_.siteName;
    sitesbox->addItem(*name);
    selectSiteEntry(open);  // the open site stays the selected one
}

void TForm1::N1Click() {
    if (publishing_ || state_.siteName.isEmpty()) {
        return;
    }
    const auto name = dialogs::inputQuery(this, QStringLiteral("Переименовать"),
                                          QStringLiteral("Пожалуйста, укажите новое имя"));
    if (!name || name->isEmpty()) {
        return;
    }
    // Nothing below changes unless the folder really has the new name.
    site::renameSite(state_.sitesRoot, state_.siteName, *name);
    sitesbox->setItemText(sitesbox->findText(state_.siteName), *name);
    setSiteCaption(*name);
    state_.siteName = *name;
    state_.sitePath = state_.sitesRoot + *name;
    selectSiteEntry(*name);
}

void TForm1::N5Click() {
    if (publishing_ || state_.siteName.isEmpty()) {
        return;
    }
    if (sitesbox->count() == 1) {
        dialogs::showMessage(this,
                             QStringLiteral("Это Ваш единственный сайт! Его нельзя удалить!"));
        return;
    }
    const QString doomed = state_.siteName;
    if (QMessageBox::question(
            this, QStringLiteral("Удалить"),
            QStringLiteral("Удалить сайт \u00AB%1\u00BB вместе со всеми его страницами и "
                           "файлами? Это действие нельзя отменить.")
                .arg(doomed)) != QMessageBox::Yes) {
        return;
    }
    sitesbox->removeItem(sitesbox->findText(doomed));
    sitesbox->setCurrentIndex(0);
    // The site about to go is not saved first: its folder is removed right after.
    state_.siteName.clear();
    openSite(sitesbox->itemText(0));
    site::DeleteFolderTree(state_.sitesRoot + doomed,
                           [this](const QString& message) { dialogs::showMessage(this, message); });
}

void TForm1::N6Click() {
    if (publishing_ || state_.siteName.isEmpty()) {
        return;
    }
    const QString copy = state_.siteName + QStringLiteral(" - копия");
    site::CopyFolderTree(state_.sitesRoot + state_.siteName, state_.sitesRoot + copy);
    setSiteCaption(copy);
    sitesbox->addItem(copy);
    sitesbox->setCurrentIndex(sitesbox->count() - 1);
    state_.siteName = copy;
    state_.sitePath = state_.sitesRoot + copy;
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
    if (publishing_) {
        event->ignore();  // the running command's own Cancel ends it first
        return;
    }
    try {
        SaveOpenSite();
        event->accept();
    } catch (const ZorError& e) {
        const auto answer = QMessageBox::question(
            this, QStringLiteral("ZOR OD"),
            QStringLiteral("Не удалось сохранить сайт \u00AB%1\u00BB:\n%2\n\nЗакрыть программу без "
                           "сохранения?")
                .arg(state_.siteName, e.text()));
        if (answer == QMessageBox::Yes) {
            event->accept();
        } else {
            event->ignore();
        }
    }
}

}  // namespace zor::app
