#include "editor/EditorToolbar.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

#include "editor/SourceMarkup.h"
#include "editor/ToolbarHost.h"
#include "platform/CommandGuard.h"
#include "platform/DropDownList.h"
#include "platform/RichTextMemo.h"

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

void paste(ToolbarHost& host) {
    RichTextMemo& memo = host.sourceView();
    const QString text = host.cutBuffer();
    const int start = memo.selectionStart();
    memo.replaceRange(start, memo.selectionLength(), text, start + static_cast<int>(text.size()));
    // From the last two pasted characters to the end of the text.
    const int caret = memo.caretPosition();
    host.ColourTags(std::max(caret - 1, 1), memo.length());
}

}  // namespace

QPixmap colourSwatch(const QColor& colour, int size) {
    QPixmap p(size, size);
    p.fill(colour);
    QPainter painter(&p);
    painter.setPen(Qt::gray);
    painter.drawRect(0, 0, size - 1, size - 1);
    return p;
}

ColourControls addToolbarControls(ToolbarHost& host, QWidget* window, QHBoxLayout* row) {
    ColourControls colours;
    colours.swatch = new QLabel;
    colours.swatch->setObjectName(QStringLiteral("Image1"));
    colours.swatch->setPixmap(colourSwatch(Qt::black));
    row->addWidget(colours.swatch);
    row->addSpacing(2);

    colours.list = new DropDownList;
    colours.list->setObjectName(QStringLiteral("ColorBox1"));
    for (const NamedColour& c : standardColours()) {
        colours.list->addItem(QIcon(colourSwatch(QColor(c.code), 12)), c.name, c.code);
    }
    colours.list->setFixedWidth(116);
    colours.list->setAccessibleName(QStringLiteral("Цвет текста"));
    const QString firstName = standardColours().front().name;
    colours.list->setToolTip(firstName);
    colours.swatch->setToolTip(firstName);
    row->addWidget(colours.list);
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
        connectGuarded(button, &QToolButton::clicked, window,
                       [&host, &command](bool) { host.ToolButtonClick(command); });
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
    return colours;
}

void runToolbarCommand(ToolbarHost& host, const ToolbarCommand& command) {
    RichTextMemo& memo = host.sourceView();
    const int start = memo.selectionStart();
    const int length = memo.selectionLength();
    switch (command.kind) {
        // Both replace the whole text as one step of the undo history: Ctrl+Z brings it back.
        case CommandKind::Clear:
            memo.replaceAll(QString());
            break;
        case CommandKind::UndoAll:
            memo.replaceAll(host.savedText());
            host.PreviewRefresh();
            break;
        case CommandKind::Wrap: {
            const TextChange change =
                wrapSelection(memo.text(), start, length, command.open, command.close);
            memo.replaceRange(change.start, change.removed, change.inserted, change.caret);
            break;
        }
        case CommandKind::Cut:
            host.setCutBuffer(memo.selectedText());
            memo.replaceRange(start, length, QString(), start);
            break;
        case CommandKind::Paste:
            paste(host);
            break;
    }
    if (command.push == Push::Always) {
        host.push();
    } else if (command.push == Push::IfOn) {
        host.pushIfOn();
    }
}

void applyFontColour(ToolbarHost& host, int index) {
    if (index < 0 || index >= static_cast<int>(standardColours().size())) {
        return;
    }
    const NamedColour& colour = standardColours()[static_cast<size_t>(index)];
    host.setLastColourCode(colour.code);
    const ColourControls colours = host.colourControls();
    colours.swatch->setToolTip(colour.name);
    colours.list->setToolTip(colour.name);
    colours.swatch->setPixmap(colourSwatch(QColor(colour.code)));
    RichTextMemo& memo = host.sourceView();
    const TextChange change =
        wrapSelection(memo.text(), memo.selectionStart(), memo.selectionLength(),
                      fontOpenTag(colour.code), FontCloseTag);
    memo.replaceRange(change.start, change.removed, change.inserted, change.caret);
}

}  // namespace zor::editor
