#include "app/PagesScreen.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/ScreenHost.h"
#include "app/ScreenMargins.h"
#include "editor/TForm2.h"
#include "pages/PageCatalogue.h"
#include "pages/Sitemap.h"
#include "platform/CommandGuard.h"
#include "platform/DropDownList.h"
#include "platform/OneLineField.h"
#include "platform/SettingsStore.h"

namespace zor::app {

PagesScreen::PagesScreen(ScreenHost& host, OpenSiteState& state, SettingsStore& settings,
                         QWidget* parent)
    : QWidget(parent), host_(host), state_(state), settings_(settings) {
    auto* help = new QLabel(QStringLiteral(
        "Вам доступно редактирование страниц визуальным редактором. Для этого выберите "
        "соответствующий заголовок из выпадающего списка, откроется окно визуального редактора. "
        "Там же можно изменить заголовок страницы. Для редактирования имени сайта просто введите "
        "его в соответствуюшее поле."));
    help->setWordWrap(true);

    Edit31 = new QLineEdit;
    Edit31->setObjectName(QStringLiteral("Edit31"));
    keepOnOneLine(Edit31);
    ComboBox1 = new DropDownList;
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setPlaceholderText(QStringLiteral("Выберите страницу"));
    ComboBox1->setMaxVisibleItems(20);

    auto* sitemapText = new QLabel(
        QStringLiteral("Вы можете автоматически создавать карту своего сайта в xml-версии."));
    sitemapText->setWordWrap(true);
    auto* addressLabel =
        new QLabel(QStringLiteral("Укажите адрес сайта (напр. http://www.example.ru/)"));
    Edit6 = new QLineEdit;
    Edit6->setObjectName(QStringLiteral("Edit6"));
    keepOnOneLine(Edit6);
    CheckBox3 = new QCheckBox(QStringLiteral("Создавать карту сайта"));
    CheckBox3->setObjectName(QStringLiteral("CheckBox3"));

    // Each field is named by its label, for screen readers too.
    auto* titleLabel = new QLabel(QStringLiteral("Имя сайта"));
    titleLabel->setBuddy(Edit31);
    auto* pagesLabel = new QLabel(QStringLiteral("Страницы"));
    pagesLabel->setBuddy(ComboBox1);
    addressLabel->setBuddy(Edit6);
    auto* grid = new QGridLayout;
    grid->addWidget(titleLabel, 0, 0);
    grid->addWidget(Edit31, 0, 1);
    grid->addWidget(pagesLabel, 1, 0);
    grid->addWidget(ComboBox1, 1, 1);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(ScreenMargins);
    layout->setSpacing(8);
    layout->addWidget(help);
    layout->addLayout(grid);
    layout->addSpacing(16);
    layout->addWidget(sitemapText);
    layout->addWidget(addressLabel);
    layout->addWidget(Edit6);
    layout->addWidget(CheckBox3);
    layout->addStretch();

    connect(Edit31, &QLineEdit::textChanged, this, [this] { Edit31Change(); });
    connect(Edit6, &QLineEdit::textChanged, this, [this] { Edit6Change(); });
    connectGuarded(CheckBox3, &QCheckBox::toggled, this, [this] { CheckBox3Click(); });
    // A pick runs the click handler (the sitemap), then the select handler (the editor).
    connect(ComboBox1, &QComboBox::activated, this, [this] {
        if (runGuarded(this, [this] { ComboBox1Click(); })) {
            runGuarded(this, [this] { ComboBox1Select(); });
        }
    });
}

void PagesScreen::showPageList() {
    ComboBox1->clear();
    ComboBox1->addItems(state_.pageList);
    ComboBox1->setCurrentIndex(-1);
    Edit31->setText(state_.siteTitle);
}

void PagesScreen::loadSitemapSettings() {
    Edit6->clear();
    state_.sitemapEnabled = false;
    const pages::SitemapSettings s = pages::loadSitemapSettings(settings_, state_.siteName);
    state_.sitemapEnabled = s.enabled;
    if (s.enabled) {
        Edit6->setText(s.address);
    }
    CheckBox3->setChecked(state_.sitemapEnabled);
}

void PagesScreen::Edit31Change() {
    state_.siteTitle = Edit31->text();
}

void PagesScreen::Edit6Change() {
    state_.siteAddress = pages::normaliseAddress(Edit6->text());
}

void PagesScreen::CheckBox3Click() {
    if (Edit6->text().isEmpty()) {
        // Without an address there is nothing to announce; the switch springs back.
        CheckBox3->setChecked(false);
        return;
    }
    if (state_.siteName.isEmpty()) {
        return;
    }
    state_.siteAddress = pages::normaliseAddress(Edit6->text());
    pages::storeSitemapSettings(settings_, state_.siteName, CheckBox3->isChecked(),
                                state_.siteAddress);
    pages::SitemapWriter(state_);
}

void PagesScreen::ComboBox1Click() {
    state_.siteAddress = pages::normaliseAddress(Edit6->text());
    pages::regenerateSitemap(state_);
}

void PagesScreen::ComboBox1Select() {
    const int index = ComboBox1->currentIndex();
    if (index < 0) {
        return;
    }
    const pages::PageOpening page =
        pages::planPageOpening(state_, index, ComboBox1->itemText(index));
    editor::TForm2& form2 = host_.editor();
    if (page.isNew) {
        // The list ends with a new-page entry again; the picked one becomes the new page when
        // the editor saves it.
        state_.pageList.append(NewItemEntry);
        ComboBox1->addItem(NewItemEntry);
    }
    form2.openPage(page.pageNumber, page.title, page.loadFile);
}

}  // namespace zor::app
