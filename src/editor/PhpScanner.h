#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// Where PHP code in a page starts and ends, read the way PHP reads it: a "?>" inside a quoted
// string, a block comment, a heredoc or a nowdoc does not end the code; one inside a "//" or "#"
// comment does. Any other "<?" instruction (an XML declaration, say) ends at its first "?>".
namespace zor::editor {

// The end (just past the closing "?>", or the end of the text when nothing closes it) of the
// block that opens with the "<?" at start.
qsizetype phpBlockEnd(QStringView text, qsizetype start);

// Every block of the text, in order.
QStringList phpBlocks(QStringView text);

// Whether edited still holds every block of original, byte for byte and in the same order
// (further blocks, such as a copy, may stand between them).
bool keepsPhpBlocks(QStringView original, QStringView edited);

}  // namespace zor::editor
