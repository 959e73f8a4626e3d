#pragma once

#include "editor/SourceMarkup.h"

namespace zor::test {

// The editor's toolbar as the user sees it, left to right: hint, the markup put around the
// selection, and when the visual editor follows.
struct ToolbarRow {
    const char* button;
    const char* hint;
    const char* open;
    const char* close;
    editor::Push push;
    // Clear, undo all, cut and paste put no markup in.
    bool wraps() const { return *open != 0; }
};

using editor::Push;
inline constexpr ToolbarRow ToolbarRows[] = {
    {"ToolButton14", "Очистить", "", "", Push::IfOn},
    {"ToolButton6", "Отменить все изменения", "", "", Push::IfOn},
    {"ToolButton18", "Выравнивание по левому краю", "<div align=\"left\">", "</div>", Push::IfOn},
    {"ToolButton3", "Выравнивание по центру", "<center>", "</center>", Push::IfOn},
    {"ToolButton13", "Выравнивание по правому краю", "<div align=\"right\">", "</div>",
     Push::Always},
    {"ToolButton9", "Выравнивание по ширине", "<div align=\"justify\">", "</div>", Push::IfOn},
    {"ToolButton1", "Жирный", "<b>", "</b>", Push::IfOn},
    {"ToolButton12", "Курсив", "<i>", "</i>", Push::Always},
    {"ToolButton22", "Подчеркнутый", "<u>", "</u>", Push::IfOn},
    {"ToolButton5", "Зачеркнутый", "<s>", "</s>", Push::IfOn},
    {"ToolButton2", "Маркерованный список", "<ul>\n<li>", "</li>\n</ul>", Push::IfOn},
    {"ToolButton15", "Нумерованный список", "<ol>\n<li>", "</li>\n</ol>", Push::Always},
    {"ToolButton11", "Картинка", "<img src=\"", "\">", Push::Always},
    {"ToolButton19", "Нижний индекс", "<sub>", "</sub>", Push::IfOn},
    {"ToolButton20", "Верхний индекс", "<sup>", "</sup>", Push::IfOn},
    {"ToolButton8", "Вырезать", "", "", Push::IfOn},
    {"ToolButton16", "Вставить", "", "", Push::Always},
    {"ToolButton21", "Вставить таблицу", "<table>\n<tr>\n<td></td>\n</tr>\n</table>", "",
     Push::IfOn},
};

}  // namespace zor::test
