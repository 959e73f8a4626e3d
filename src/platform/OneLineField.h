#pragma once

class QLineEdit;

namespace zor {

// Keeps a one-line field on one line. Line breaks and other control characters, typed, pasted
// or set, become blanks (a CR LF pair one blank) before the field reports the change, so a
// pasted title can never split a line of a file it is written into.
void keepOnOneLine(QLineEdit* field);

}  // namespace zor
