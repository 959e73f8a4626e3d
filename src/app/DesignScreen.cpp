#include "app/DesignScreen.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/ScreenHost.h"
#include "app/ScreenMargins.h"
#include "design/TemplateCompiler.h"
#include "editor/EditorSave.h"
#include "editor/TForm2.h"
#include "platform/CommandGuard.h"
#include "platform/Errors.h"
#include "platform/RichTextMemo.h"
#include "platform/TextFile.h"
#include "site/SiteWorkspace.h"

namespace zor::app {

QString toBoxText(const QString& fileText) {
    QString t = fileText;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t;
}

QString toFileText(const QString& boxText) {
    QString t = boxText;
    t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return t;
}

DesignScreen::DesignScreen(ScreenHost& host, OpenSiteState& state, QWidget* parent)
    : QWidget(parent), host_(host), state_(state) {
    auto* intro = new QLabel(QStringLiteral(
        "Вы можете менять стандартную тему сайта как Вам захочется. У нас есть ряд обозначений "
        "(псевдокоды). Для изменеия дизайна Вы должны их знать"));
    intro->setWordWrap(true);
    auto* legend = new QLabel(
        QStringLiteral("{{title}}       Заголовок страницы (<title>ZOR OD : Главная</title>) \n"
                       "{{content}}  Содержание страницы (Вы создаёте его в визуальном редакторе)\n"
                       "{{bloc=(имя блока)}}  Полное включение блока (Вы создаёте его в визуальном "
                       "редакторе)"));
    legend->setTextFormat(Qt::PlainText);
    auto* yours = new QLabel(QStringLiteral("Ваш шаблон:"));
    auto* blocks = new QLabel(QStringLiteral("Блоки:"));

    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(13);
    Memo1->setFont(arial);
    // Tab moves on to the next control, as everywhere in the window; the template needs none.
    Memo1->setTabChangesFocus(true);
    yours->setBuddy(Memo1);

    Button1 = new QPushButton(QStringLiteral("Сохранить"));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setToolTip(QStringLiteral("Сохранить шаблон и собрать из него index.php"));

    ListBox2 = new QListWidget;
    ListBox2->setObjectName(QStringLiteral("ListBox2"));
    ListBox2->setFont(arial);
    ListBox2->setFixedSize(200, 74);
    ListBox2->setToolTip(QStringLiteral("Блоки сайта; \u00AB...\u00BB создаёт новый блок"));
    ListBox2->setAccessibleName(blocks->text().chopped(1));  // a list reads no buddy

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Button1, 0, Qt::AlignLeft | Qt::AlignBottom);
    bottom->addStretch();
    bottom->addWidget(blocks, 0, Qt::AlignTop);
    bottom->addWidget(ListBox2);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(ScreenMargins);
    layout->setSpacing(4);
    layout->addWidget(intro);
    layout->addWidget(legend);
    layout->addWidget(yours);
    layout->addWidget(Memo1, 1);
    layout->addLayout(bottom);

    connectGuarded(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    // Return opens the entry as a click does. Where the style opens entries with one click,
    // that click is an activation too and is not taken twice.
    connectGuarded(ListBox2, &QListWidget::itemActivated, this, [this] { ListBox2Click(); });
    if (!ListBox2->style()->styleHint(QStyle::SH_ItemView_ActivateItemOnSingleClick, nullptr,
                                      ListBox2)) {
        connectGuarded(ListBox2, &QListWidget::itemClicked, this, [this] { ListBox2Click(); });
    }
}

void DesignScreen::loadBlockList() {
    ListBox2->clear();
    for (const QString& name : site::listBlocks(state_.sitePath)) {
        // A file named so that its entry could not be told from the new-block entry, or not
        // be read in the list, is left out.
        if (editor::isBlockName(name)) {
            ListBox2->addItem(name);
        }
    }
    ListBox2->addItem(NewItemEntry);
}

void DesignScreen::loadTemplate() {
    const QFileInfo theme(site::themePath(state_.sitePath));
    // A template that is not there loses nothing when the box is saved; one that is there but
    // could not be read must not be saved over with the empty box.
    templateLoaded_ = !theme.exists() && !theme.isSymLink();
    Memo1->setPlainText(toBoxText(textfile::readText(theme.filePath(), site::MaxTemplateBytes)));
    templateLoaded_ = true;
}

void DesignScreen::clearTemplate() {
    Memo1->clear();
}

void DesignScreen::Button1Click() {
    if (state_.siteName.isEmpty()) {
        throw ZorError(QStringLiteral("Сайт не открыт: сначала создайте или выберите сайт."));
    }
    if (!templateLoaded_) {
        throw ZorError(QStringLiteral("Шаблон сайта не загрузился, и сохранить его сейчас "
                                      "значило бы стереть файл \u00AB%1\u00BB. Исправьте файл "
                                      "и откройте сайт снова.")
                           .arg(QDir::toNativeSeparators(site::themePath(state_.sitePath))));
    }
    // Not toPlainText(): that turns no-break spaces into plain ones.
    design::saveAndCompile(state_, toFileText(exactText(*Memo1->document())));
}

void DesignScreen::ListBox2Click() {
    QListWidgetItem* picked = ListBox2->currentItem();
    if (!picked) {
        return;
    }
    editor::TForm2& form2 = host_.editor();
    if (picked->text() == NewItemEntry) {
        // The picked entry becomes the new block's when the editor saves it.
        ListBox2->addItem(NewItemEntry);
        form2.openBlock(editor::NewBlockName, false);
    } else {
        form2.openBlock(picked->text(), true);
    }
}

}  // namespace zor::app
