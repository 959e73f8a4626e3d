#include "editor/TForm2.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "editor/EditorDocument.h"
#include "editor/EditorHost.h"
#include "editor/EditorKeys.h"
#include "editor/ExtensionList.h"
#include "editor/SourceMarkup.h"
#include "platform/CommandGuard.h"
#include "platform/HtmlEditingControl.h"
#include "platform/OneLineField.h"
#include "platform/RichTextMemo.h"
#include "platform/TextFile.h"
#include "platform/WebControls.h"
#include "site/SiteWorkspace.h"

namespace zor::editor {
namespace {

// Icons of the toolbar buttons, from the Oxygen icon theme.
QString iconName(const QString& button) {
    static const QHash<QString, QString> names{
        {"ToolButton14", "edit-clear"},
        {"ToolButton6", "edit-undo"},
        {"ToolButton18", "format-justify-left"},
        {"ToolButton3", "format-justify-center"},
        {"ToolButton13", "format-justify-right"},
        {"ToolButton9", "format-justify-fill"},
        {"ToolButton1", "format-text-bold"},
        {"ToolButton12", "format-text-italic"},
        {"ToolButton22", "format-text-underline"},
        {"ToolButton5", "format-text-strikethrough"},
        {"ToolButton2", "format-list-unordered"},
        {"ToolButton15", "format-list-ordered"},
        {"ToolButton11", "insert-image"},
        {"ToolButton19", "format-text-subscript"},
        {"ToolButton20", "format-text-superscript"},
        {"ToolButton8", "edit-cut"},
        {"ToolButton16", "edit-paste"},
        {"ToolButton21", "insert-table"},
    };
    return names.value(button);
}

QIcon toolbarIcon(const QString& button) {
    QIcon icon;
    const QString name = iconName(button);
    for (const char* size : {"16", "32"}) {
        icon.addFile(QStringLiteral(":/zorod/icons/%1/%2.png").arg(QLatin1String(size), name));
    }
    return icon;
}

// The last button of each group: clear and undo all; alignments; styles; lists; image;
// indices; cut and paste; then the table.
bool endsGroup(const QString& button) {
    static const QStringList last{"ToolButton6",  "ToolButton9",  "ToolButton5", "ToolButton15",
                                  "ToolButton11", "ToolButton20", "ToolButton16"};
    return last.contains(button);
}

QPixmap swatch(const QColor& colour, int size = 16) {
    QPixmap p(size, size);
    p.fill(colour);
    QPainter painter(&p);
    painter.setPen(Qt::gray);
    painter.drawRect(0, 0, size - 1, size - 1);
    return p;
}

// What a pasted text takes in the source view, where a CR LF is one line break.
int pastedLength(const QString& text) {
    return static_cast<int>(text.size() - text.count(QStringLiteral("\r\n")));
}

}  // namespace

EditorControls webEngineControls() {
    return {new WebHtmlEditor, new WebPreview};
}

TForm2::TForm2(OpenSiteState& state, SettingsStore& settings, EditorHost& host,
               EditorControls controls, QWidget* parent)
    : QDialog(parent), state_(state), settings_(settings), host_(host) {
    DHTMLEdit1 = controls.visual;
    WebBrowser1 = controls.preview;
    DHTMLEdit1->setParent(this);
    WebBrowser1->setParent(this);
    buildWindow();

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
    connectGuarded(DHTMLEdit1, &HtmlEditingControl::applied, this, [this] {
        if (pushWanted_) {
            sendPush();
        }
    });
    // The visual editor may hold an old text (after a command that does not push, or while it
    // was switched off): it is brought up to date before the user can type into it.
    connectGuarded(DHTMLEdit1, &HtmlEditingControl::focusEntered, this, [this] {
        if (visualStale_) {
            push();
        }
    });
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
    layout->addWidget(Memo1, 2);

    PageControl1 = new QTabWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::South);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    auto* visualLayout = new QVBoxLayout(TabSheet1);
    visualLayout->setContentsMargins(0, 0, 0, 0);
    visualLayout->addWidget(DHTMLEdit1->widget());
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    auto* previewLayout = new QVBoxLayout(TabSheet2);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    previewLayout->addWidget(WebBrowser1->widget());
    PageControl1->addTab(TabSheet1, QStringLiteral("Редактор"));
    PageControl1->addTab(TabSheet2, QStringLiteral("IE"));
    PageControl1->setCurrentIndex(0);
    layout->addWidget(PageControl1, 3);

    auto* bottom = new QHBoxLayout;
    ComboBox1 = new QComboBox;
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setPlaceholderText(QStringLiteral("Выберите расширение"));
    ComboBox1->setMinimumWidth(200);
    Label1 = new QLabel(QStringLiteral("Адрес этой страницы"));
    Label1->setObjectName(QStringLiteral("Label1"));
    Edit2 = new QLineEdit;
    Edit2->setObjectName(QStringLiteral("Edit2"));
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
    row->addWidget(Edit1);
    row->addSpacing(4);

    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(swatch(Qt::black));
    row->addWidget(Image1);
    row->addSpacing(2);

    ColorBox1 = new QComboBox;
    ColorBox1->setObjectName(QStringLiteral("ColorBox1"));
    for (const NamedColour& c : standardColours()) {
        ColorBox1->addItem(QIcon(swatch(QColor(c.code), 12)), c.name, c.code);
    }
    ColorBox1->setFixedWidth(116);
    const QString firstName = standardColours().front().name;
    ColorBox1->setToolTip(firstName);
    Image1->setToolTip(firstName);
    row->addWidget(ColorBox1);
    row->addSpacing(4);

    for (const ToolbarCommand& command : toolbarCommands()) {
        auto* button = new QToolButton;
        button->setObjectName(command.button);
        button->setToolTip(command.hint);
        button->setIcon(toolbarIcon(command.button));
        button->setIconSize(QSize(16, 16));
        button->setAutoRaise(true);
        button->setFixedSize(21, 22);
        button->setFocusPolicy(Qt::NoFocus);
        connectGuarded(button, &QToolButton::clicked, this,
                       [this, &command](bool) { ToolButtonClick(command); });
        row->addWidget(button);
        if (endsGroup(command.button)) {
            auto* line = new QFrame;
            line->setFrameShape(QFrame::VLine);
            line->setFrameShadow(QFrame::Sunken);
            line->setFixedWidth(3);
            row->addWidget(line);
        }
    }
    row->addStretch(1);
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
    Edit1->setText(name);
    setWindowTitle(windowTitle() + BlockModeCaption);
    startEditing(text);
    exec();
}

void TForm2::startEditing(const QString& text) {
    protection_ = PhpProtection(text);
    previewText_.clear();
    previewPath_.clear();
    pushedText_.reset();
    Memo1->setText(text);
    // Loading always refreshes the preview file, even when the text is what it was.
    Memo1Change();
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
        sendPush(QStringLiteral(" "));
    }
    Edit2->setText(state_.siteAddress + QStringLiteral("index.php?in=") +
                   QString::number(host_.pageListSelection() + 1));
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
    if (!runGuarded(this, [this] { FormClose(); })) {
        return;  // the error is shown and the window stays open: closing again saves again
    }
    QDialog::done(result);
}

void TForm2::FormClose() {
    const QString text = Memo1->text();
    if (mode() == EditorMode::Block) {
        saveBlock(state_, host_, text, Edit1->text());
    } else {
        savePage(state_, host_, text, Edit1->text());
    }
    if (!state_.siteName.isEmpty()) {
        storeVisualEditorSetting(settings_, state_.siteName, usedhtml->isChecked());
    }
    previewPath_.clear();  // the save removed the preview file
    // Last: a window left open by a failure above must keep its mode for the next close.
    setWindowTitle(EditorCaption);
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
    visualStale_ = false;
    if (DHTMLEdit1->isBusy()) {
        pushWanted_ = true;  // sent when the visual editor has taken the last one
        return;
    }
    sendPush();
}

void TForm2::pushIfOn() {
    if (usedhtml->isChecked()) {
        push();
    }
}

void TForm2::sendPush(const QString& tail) {
    pushWanted_ = false;
    visualStale_ = false;
    const QString text = Memo1->text();
    if (pushedText_ == text && pushedTail_ == tail && !DHTMLEdit1->isEdited()) {
        return;  // the visual editor holds this very text
    }
    pushedText_ = text;
    pushedTail_ = tail;
    DHTMLEdit1->setDocumentHtml(protection_.protect(linesForVisualEditor(text) + tail));
}

void TForm2::Memo1Change() {
    if (!copyingFromVisual_) {
        visualStale_ = true;
    }
    if (Memo1->length() == 0) {
        // No page or block is ever saved empty; the blank is a change and comes back here.
        Memo1->replaceRange(0, 0, QStringLiteral(" "), 0);
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
    // Only the user's own edits come back: the browser rewrites whatever it is given, and a
    // load copied back would rewrite the page without the user having touched it.
    if (!DHTMLEdit1->isEdited()) {
        return;
    }
    if (visualStale_) {
        // Edited on an old text: the source is not overwritten with it.
        push();
        return;
    }
    const auto body = extractBody(DHTMLEdit1->documentHtml());
    if (!body) {
        return;
    }
    const QString text = protection_.restore(*body);
    if (text == Memo1->text()) {
        return;
    }
    copyingFromVisual_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{copyingFromVisual_};
    Memo1->setText(text);
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
    const int start = Memo1->selectionStart();
    const int length = Memo1->selectionLength();
    switch (command.kind) {
        case CommandKind::Clear:
            Memo1->setText(QString());
            break;
        case CommandKind::UndoAll:
            undoAll();
            break;
        case CommandKind::Wrap: {
            const TextChange change =
                wrapSelection(Memo1->text(), start, length, command.open, command.close);
            Memo1->replaceRange(change.start, change.removed, change.inserted, change.caret);
            break;
        }
        case CommandKind::Cut:
            CutBuffer = Memo1->selectedText();
            Memo1->replaceRange(start, length, QString(), start);
            break;
        case CommandKind::Paste:
            paste();
            break;
    }
    if (command.push == Push::Always) {
        push();
    } else if (command.push == Push::IfOn) {
        pushIfOn();
    }
}

void TForm2::undoAll() {
    QString text;
    if (mode() == EditorMode::Page) {
        const int n = host_.pageListSelection() + 1;
        const QString path = site::pageFilePath(state_.sitePath, n);
        if (n >= 1 && QFileInfo::exists(path)) {
            text = textfile::readText(path);
        }
    }
    Memo1->setText(text);
    PreviewRefresh();
}

void TForm2::paste() {
    const int start = Memo1->selectionStart();
    Memo1->replaceRange(start, Memo1->selectionLength(), CutBuffer,
                        start + static_cast<int>(CutBuffer.size()));
    // From the last two pasted characters to the end of the text.
    const int caret = Memo1->caretPosition();
    ColourTags(std::max(caret - 1, 1), Memo1->length());
}

void TForm2::ColorBox1Select(int index) {
    if (index < 0 || index >= static_cast<int>(standardColours().size())) {
        return;
    }
    const NamedColour& colour = standardColours()[static_cast<size_t>(index)];
    lastColourCode = colour.code;
    Image1->setToolTip(colour.name);
    ColorBox1->setToolTip(colour.name);
    Image1->setPixmap(swatch(QColor(colour.code)));
    const TextChange change =
        wrapSelection(Memo1->text(), Memo1->selectionStart(), Memo1->selectionLength(),
                      fontOpenTag(colour.code), FontCloseTag);
    Memo1->replaceRange(change.start, change.removed, change.inserted, change.caret);
}

void TForm2::ComboBox1Select(int index) {
    if (index < 0) {
        return;
    }
    // The entry's own file, whatever its shown name holds.
    Memo1->setText(extensionText(state_.sitePath, ComboBox1->itemData(index).toString()));
}

void TForm2::reloadExtensions() {
    ComboBox1->clear();
    for (const Extension& e : listExtensions(state_.sitePath)) {
        ComboBox1->addItem(e.entry, e.fileName);
    }
}

}  // namespace zor::editor
