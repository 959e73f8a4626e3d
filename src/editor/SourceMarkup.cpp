#include "editor/SourceMarkup.h"

#include <algorithm>
#include <stdexcept>

namespace zor::editor {

std::vector<Span> tagSpans(QStringView text, int first, int last) {
    std::vector<Span> spans;
    int open = 0;
    int close = 0;
    const int from = std::max(first, 1);
    const int to = std::min(last, static_cast<int>(text.size()));
    for (int i = from; i <= to; ++i) {
        const QChar c = text[i - 1];
        if (c == u'<') {
            open = i;
        }
        if (c == u'>') {
            close = i;
        }
        if (open != 0 && close != 0 && open < close) {
            spans.push_back({open, close});
            open = 0;
            close = 0;
        }
    }
    return spans;
}

const std::vector<ToolbarCommand>& toolbarCommands() {
    // "\n" is the line break the markup of lists and tables carries.
    static const std::vector<ToolbarCommand> commands{
        {"ToolButton14", "Очистить", CommandKind::Clear, {}, {}, Push::IfOn},
        {"ToolButton6", "Отменить все изменения", CommandKind::UndoAll, {}, {}, Push::IfOn},
        {"ToolButton18", "Выравнивание по левому краю", CommandKind::Wrap, "<div align=\"left\">",
         "</div>", Push::IfOn},
        {"ToolButton3", "Выравнивание по центру", CommandKind::Wrap, "<center>", "</center>",
         Push::IfOn},
        {"ToolButton13", "Выравнивание по правому краю", CommandKind::Wrap, "<div align=\"right\">",
         "</div>", Push::Always},
        {"ToolButton9", "Выравнивание по ширине", CommandKind::Wrap, "<div align=\"justify\">",
         "</div>", Push::IfOn},
        {"ToolButton1", "Жирный", CommandKind::Wrap, "<b>", "</b>", Push::IfOn},
        {"ToolButton12", "Курсив", CommandKind::Wrap, "<i>", "</i>", Push::Always},
        {"ToolButton22", "Подчеркнутый", CommandKind::Wrap, "<u>", "</u>", Push::IfOn},
        {"ToolButton5", "Зачеркнутый", CommandKind::Wrap, "<s>", "</s>", Push::IfOn},
        {"ToolButton2", "Маркерованный список", CommandKind::Wrap, "<ul>\n<li>", "</li>\n</ul>",
         Push::IfOn},
        {"ToolButton15", "Нумерованный список", CommandKind::Wrap, "<ol>\n<li>", "</li>\n</ol>",
         Push::Always},
        {"ToolButton11", "Картинка", CommandKind::Wrap, "<img src=\"", "\">", Push::Always},
        {"ToolButton19", "Нижний индекс", CommandKind::Wrap, "<sub>", "</sub>", Push::IfOn},
        {"ToolButton20", "Верхний индекс", CommandKind::Wrap, "<sup>", "</sup>", Push::IfOn},
        {"ToolButton8", "Вырезать", CommandKind::Cut, {}, {}, Push::IfOn},
        {"ToolButton16", "Вставить", CommandKind::Paste, {}, {}, Push::Always},
        // The empty one-cell table goes before the selected text, which stays.
        {"ToolButton21",
         "Вставить таблицу",
         CommandKind::Wrap,
         "<table>\n<tr>\n<td></td>\n</tr>\n</table>",
         {},
         Push::IfOn},
    };
    return commands;
}

const ToolbarCommand& toolbarCommand(const QString& button) {
    const auto& all = toolbarCommands();
    auto it = std::find_if(all.begin(), all.end(),
                           [&](const ToolbarCommand& c) { return c.button == button; });
    if (it == all.end()) {
        throw std::out_of_range("no toolbar command " + button.toStdString());
    }
    return *it;
}

TextChange wrapSelection(QStringView text, int selStart, int selLength, const QString& open,
                         const QString& close) {
    const int size = static_cast<int>(text.size());
    const int start = std::clamp(selStart, 0, size);
    const int length = std::clamp(selLength, 0, size - start);
    TextChange change;
    change.start = start;
    change.removed = length;
    change.inserted = open + text.mid(start, length).toString() + close;
    change.caret = start + static_cast<int>(change.inserted.size());
    return change;
}

QString applyChange(const QString& text, const TextChange& change) {
    QString out = text;
    out.replace(change.start, change.removed, change.inserted);
    return out;
}

const std::vector<NamedColour>& standardColours() {
    static const std::vector<NamedColour> colours{
        {"#000000", "Чёрный"},       {"#800000", "Малиновый"},    {"#008000", "Зелёный"},
        {"#808000", "Оливковый"},    {"#000080", "Тёмно-синий"},  {"#800080", "Фиолетовый"},
        {"#008080", "Сине-зелёный"}, {"#808080", "Серый"},        {"#c0c0c0", "Серебристый"},
        {"#ff0000", "Красный"},      {"#00ff00", "Ярко-зелёный"}, {"#ffff00", "Жёлтый"},
        {"#0000ff", "Голубой"},      {"#ff00ff", "Пурпурный"},    {"#00ffff", "Цвет моря"},
        {"#ffffff", "Белый"},
    };
    return colours;
}

QString fontOpenTag(const QString& code) {
    return QStringLiteral("<font color=\"") + code + QStringLiteral("\">");
}

}  // namespace zor::editor
