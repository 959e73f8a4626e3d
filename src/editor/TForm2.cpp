#include "editor/TForm2.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTextDocument>
#include <QVBoxLayout>

#include "editor/EditorDocument.h"
#include "editor/EditorHost.h"
#include "editor/EditorKeys.h"
#include "editor/EditorToolbar.h"
#include "editor/ExtensionList.h"
#include "editor/SourceMarkup.h"
#include "editor/VisualSync.h"
#include "platform/CommandGuard.h"
#include "platform/Dialogs.h"
#include "platform/DropDownList.h"
#include "platform/HtmlEditingControl.h"
#include "platform/OneLineField.h"
#include "platform/RichTextMemo.h"
#include "platform/TextFile.h"
#include "platform/WebControls.h"
#include "site/SiteWorkspace.h"

namespace zor::editor {
namespace {

// What a pasted text takes in the source view, where a CR LF is one line break.
int pastedLength(const QString& text) {
    return static_cast<int>(text.size() - text.count(QStringLiteral("\r\n")));
}

}  // namespace

EditorControls webEngineControls() {
    return {new WebHtmlEditor({DocumentHead, DocumentTail}), new WebPreview};
}

TForm2::TForm2(OpenSiteState& state, SettingsStore& settings, EditorHost& host,
               EditorControls controls, QWidget* parent)
    : QDialog(parent), state_(state), settings_(settings), host_(host) {
    DHTMLEdit1 = controls.visual;
    WebBrowser1 = controls.preview;
    DHTMLEdit1->setParent(this);
    WebBrowser1->setParent(this);
    buildWindow();
    sync_ = std::make_unique<VisualSync>(*DHTMLEdit1, *Memo1, [this](const QString& text) {
        // Told from outside the visual editor's own report of the key.
        QMetaObject::invokeMethod(
            this, [this, text] { dialogs::showMessage(this, text); }, Qt::QueuedConnection);
    });

    connectGuarded(Memo1, &RichTextMemo::changed, this, [this] { Memo1Change(); });
    connectGuarded(Memo1, &RichTextMemo::keyDown, this,
                   [this](int key, Qt::KeyboardModifiers m) { Memo1KeyDown(key, m); });
    connectGuarded(Memo1, &RichTextMemo::keyPress, this, [this](QChar ch) { Memo1KeyPress(ch); });
    connectGuarded(Memo1, &RichTextMemo::keyUp, this,
                   [this](int key, Qt::KeyboardModifiers m) { Memo1KeyUp(key, m); });
    for (auto signal : {&HtmlEditingControl::keyDown, &HtmlEditingControl::keyPress,
                        &HtmlEditingControl::keyUp, &HtmlEditingControl::edited}) {
        connectGuarded(DHTMLEdit1, signal, this, [this] { DHTMLEdit1Key(); });
    }
    connectGuarded(DHTMLEdit1, &HtmlEditingControl::applied, this, [this] { sync_->applied(); });
    // The visual editor may hold an old text (after a command that does not push, or while it
    // was switched off): it is brought up to date before the user can type into it.
    connectGuarded(DHTMLEdit1, &HtmlEditingControl::focusEntered, this,
                   [this] { sync_->entered(); });
    connectGuarded(usedhtml, &QCheckBox::toggled, this, [this](bool) { usedhtmlClick(); });
    connectGuarded(ColorBox1, &QComboBox::activated, this,
                   [this](int index) { ColorBox1Select(index); });
    connectGuarded(ComboBox1, &QComboBox::activated, this,
                   [this](int index) { ComboBox1Select(index); });

    runGuarded(this, [this] { FormCreate(); });
}

TForm2::~TForm2() {
    // The controls die with the window's children, after this; what they report while going
    // must not reach a window that is half gone.
    for (QObject* control : {static_cast<QObject*>(DHTMLEdit1), static_cast<QObject*>(WebBrowser1),
                             static_cast<QObject*>(Memo1)}) {
        control->disconnect(this);
    }
}

void TForm2::buildWindow() {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(EditorCaption);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(667, 535);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(buildToolbar());

    Memo1 = new RichTextMemo;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("Исходный текст"));
    // Tab moves on to the next control instead of typing into the source.
    Memo1->setTabChangesFocus(true);
    layout->addWidget(Memo1, 2);

    PageControl1 = new QTabWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::South);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    auto* visualLayout = new QVBoxLayout(TabSheet1);
    visualLayout->setContentsMargins(0, 0, 0, 0);
    DHTMLEdit1->widget()->setAccessibleName(QStringLiteral("Визуальный редактор"));
    visualLayout->addWidget(DHTMLEdit1->widget());
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    auto* previewLayout = new QVBoxLayout(TabSheet2);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    WebBrowser1->widget()->setAccessibleName(QStringLiteral("Просмотр страницы"));
    previewLayout->addWidget(WebBrowser1->widget());
    PageControl1->addTab(TabSheet1, QStringLiteral("Редактор"));
    PageControl1->addTab(TabSheet2, QStringLiteral("IE"));
    PageControl1->setCurrentIndex(0);
    layout->addWidget(PageControl1, 3);

    auto* bottom = new QHBoxLayout;
    ComboBox1 = new DropDownList;
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setPlaceholderText(QStringLiteral("Выберите расширение"));
    ComboBox1->setMinimumWidth(200);
    ComboBox1->setAccessibleName(QStringLiteral("Расширение"));
    Label1 = new QLabel(QStringLiteral("Адрес этой страницы"));
    Label1->setObjectName(QStringLiteral("Label1"));
    Edit2 = new QLineEdit;
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Label1->setBuddy(Edit2);
    usedhtml = new QCheckBox(QStringLiteral("Использовать редактор"));
    usedhtml->setObjectName(QStringLiteral("usedhtml"));
    usedhtml->setChecked(true);
    bottom->addWidget(ComboBox1);
    bottom->addWidget(Label1);
    bottom->addWidget(Edit2, 1);
    bottom->addWidget(usedhtml);
    layout->addLayout(bottom);

    Edit2->installEventFilter(this);
    Label1->installEventFilter(this);
}

QWidget* TForm2::buildToolbar() {
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("ToolBar1"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    Edit1 = new QLineEdit(NewPageTitle);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    keepOnOneLine(Edit1);
    Edit1->setFixedWidth(92);
    Edit1->setAccessibleName(QStringLiteral("Заголовок страницы"));
    row->addWidget(Edit1);
    row->addSpacing(4);
    const ColourControls colours = addToolbarControls(*this, this, row);
    Image1 = colours.swatch;
    ColorBox1 = colours.list;
    return bar;
}

void TForm2::FormCreate() {
    DefaultTextColour = Memo1->defaultTextColour();
    if (state_.siteName.isEmpty()) {
        return;  // no site to read from or write into
    }
    for (const Extension& e : listExtensions(state_.sitePath)) {
        ComboBox1->addItem(e.entry, e.fileName);
    }
    PreviewRefresh();
    if (auto use = loadVisualEditorSetting(settings_, state_.siteName)) {
        usedhtml->setChecked(*use);
    }
}

void TForm2::openPage(int pageNumber, const QString& title, bool loadFile) {
    const QString text =
        loadFile ? textfile::readText(site::pageFilePath(state_.sitePath, pageNumber)) : QString();
    Edit1->setText(title);
    setWindowTitle(windowTitle() + pageCaptionSuffix(pageNumber));
    startEditing(text);
    exec();
}

void TForm2::openBlock(const QString& name, bool loadFile) {
    const QString text =
        loadFile ? textfile::readText(site::blockFilePath(state_.sitePath, name)) : QString();
    openedBlock_ = loadFile ? std::optional(name) : std::nullopt;
    Edit1->setText(name);
    setWindowTitle(windowTitle() + BlockModeCaption);
    startEditing(text);
    exec();
}

void TForm2::startEditing(const QString& text) {
    sync_->startEditing(text);
    previewText_.clear();
    previewPath_.clear();
    Memo1->setText(text);
    // Loading always refreshes the preview file, even when the text is what it was.
    Memo1Change();
    // Ctrl+Z never goes back past the text as it was opened (nor to another page's).
    Memo1->document()->clearUndoRedoStacks();
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        runGuarded(this, [this] { FormShow(); });
    }
}

void TForm2::FormShow() {
    // Pictures with addresses relative to the site show in the visual editor.
    DHTMLEdit1->setBaseUrl(QUrl::fromLocalFile(state_.sitePath + u'/'));
    if (usedhtml->isChecked()) {
        sync_->send(QStringLiteral(" "));
    }
    Edit2->setText(state_.siteAddress + QStringLiteral("index.php?in=") +
                   QString::number(host_.pageListSelection() + 1));
    Edit2->setCursorPosition(0);  // a field too short for the address shows its start
}

bool TForm2::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        Memo1->setFocus();
    }
    return QDialog::event(event);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == Edit2 || watched == Label1) && event->type() == QEvent::MouseButtonRelease) {
        runGuarded(this, [this] { Edit2Click(); });
    }
    return QDialog::eventFilter(watched, event);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    // Escape would close (and so save) the window behind the user's back.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm2::done(int result) {
    bool saved = false;
    if (!runGuarded(this, [&] { saved = FormClose(); }) || !saved) {
        return;  // the window stays open with its text: closing again saves again
    }
    QDialog::done(result);
}

bool TForm2::FormClose() {
    const QString text = Memo1->text();
    if (mode() == EditorMode::Block) {
        const QString name = Edit1->text();
        checkBlockName(name);
        if (replacesOtherBlock(state_, name, openedBlock_) &&
            !dialogs::ask(this, EditorCaption, replaceBlockQuestion(name))) {
            return false;
        }
        saveBlock(state_, host_, text, name);
    } else {
        savePage(state_, host_, text, Edit1->text());
    }
    if (!state_.siteName.isEmpty()) {
        storeVisualEditorSetting(settings_, state_.siteName, usedhtml->isChecked());
    }
    previewPath_.clear();  // the save removed the preview file
    // Last: a window left open by a failure above must keep its mode for the next close.
    setWindowTitle(EditorCaption);
    return true;
}

void TForm2::PreviewRefresh() {
    if (state_.siteName.isEmpty()) {
        return;
    }
    const QString path = site::previewFilePath(state_.sitePath);
    const QString text = Memo1->text();
    if (path == previewPath_ && text == previewText_) {
        return;  // the file holds this text and the preview shows it
    }
    previewPath_.clear();
    textfile::writeText(path, fileText(text), textfile::Durability::Scratch);
    previewPath_ = path;
    previewText_ = text;
    WebBrowser1->navigate(path);
}

void TForm2::push() {
    sync_->push();
}

void TForm2::pushIfOn() {
    if (usedhtml->isChecked()) {
        sync_->push();
    }
}

void TForm2::Memo1Change() {
    sync_->sourceChanged();
    if (Memo1->length() == 0) {
        // No page or block is ever saved empty; the blank is a change and comes back here. It
        // completes the edit that emptied the text, so one Ctrl+Z takes back both.
        Memo1->replaceRange(0, 0, QStringLiteral(" "), 0, RichTextMemo::Undo::JoinLast);
    }
    PreviewRefresh();
}

void TForm2::Memo1KeyDown(int key, Qt::KeyboardModifiers modifiers) {
    SavedCaret = Memo1->caretPosition();
    const bool editKey = isEditKey(virtualKeyCode(key), modifiers, IsCtrlDown());
    if (!editKey) {
        pushIfOn();
    }
    PreviewRefresh();
    if (editKey && Memo1->charBeforeCaret() == u'>') {
        Memo1->setInsertionColour(DefaultTextColour);
    }
    pushIfOn();
}

void TForm2::Memo1KeyPress(QChar ch) {
    if (ch == u'<') {
        Memo1->setInsertionColour(TagColour);
    } else if (Memo1->charBeforeCaret() == u'>') {
        Memo1->setInsertionColour(DefaultTextColour);
    }
    if (ch == u'\r') {
        // The line break Enter then inserts comes after the tag, wherever the caret was.
        Memo1->appendToCaretLine(QStringLiteral("<br />"));
    }
    PreviewRefresh();
    pushIfOn();
}

void TForm2::Memo1KeyUp(int key, Qt::KeyboardModifiers modifiers) {
    const int vk = virtualKeyCode(key);
    if (vk == VkPeriod) {
        Memo1->setInsertionColour(DefaultTextColour);
    }
    pushIfOn();
    bool changed = false;
    if (isPasteKey(vk, modifiers, IsCtrlDown())) {
        const QString pasted = ClipboardText();
        if (!pasted.isEmpty()) {
            const int end = SavedCaret + pastedLength(pasted);
            ColourTags(SavedCaret, end);
            Memo1->setCaretPosition(end);
            SavedCaret = 0;
            changed = true;
        }
    }
    PreviewRefresh();
    if (vk == VkBackspace || vk == VkDelete) {
        changed = true;
    }
    if (changed) {
        Memo1Change();
    }
    pushIfOn();
}

void TForm2::ColourTags(int first, int last) {
    for (const Span& span : tagSpans(Memo1->text(), first, last)) {
        Memo1->colourRange(span.first - 1, span.last, TagColour);
    }
}

QString TForm2::ClipboardText() {
    return QGuiApplication::clipboard()->text();
}

bool TForm2::IsCtrlDown() {
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
}

void TForm2::DHTMLEdit1Key() {
    sync_->copyBack();
}

void TForm2::usedhtmlClick() {
    const bool on = usedhtml->isChecked();
    const int editorTab = PageControl1->indexOf(TabSheet1);
    PageControl1->setTabVisible(editorTab, on);
    PageControl1->setTabEnabled(editorTab, on);
    DHTMLEdit1->widget()->setVisible(on);
    PageControl1->setCurrentWidget(on ? TabSheet1 : TabSheet2);
}

void TForm2::Edit2Click() {
    Edit2->selectAll();
}

void TForm2::ToolButtonClick(const ToolbarCommand& command) {
    runToolbarCommand(*this, command);
}

QString TForm2::savedText() const {
    if (mode() == EditorMode::Page) {
        const int n = host_.pageListSelection() + 1;
        const QString path = site::pageFilePath(state_.sitePath, n);
        if (n >= 1 && QFileInfo::exists(path)) {
            return textfile::readText(path);
        }
    }
    return {};
}

void TForm2::ColorBox1Select(int index) {
    applyFontColour(*this, index);
}

void TForm2::ComboBox1Select(int index) {
    if (index < 0) {
        return;
    }
    // The entry's own file, whatever its shown name holds. The page's text stays one Ctrl+Z
    // away.
    Memo1->replaceAll(extensionText(state_.sitePath, ComboBox1->itemData(index).toString()));
}

void TForm2::reloadExtensions() {
    ComboBox1->clear();
    for (const Extension& e : listExtensions(state_.sitePath)) {
        ComboBox1->addItem(e.entry, e.fileName);
    }
}

}  // namespace zor::editor
