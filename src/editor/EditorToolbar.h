#pragma once

#include <QColor>
#include <QPixmap>

class QHBoxLayout;

// The editor window's formatting toolbar: its controls and what each command does to the
// source view.
namespace zor::editor {

class TForm2;
struct ToolbarCommand;

// A colour sample with a grey border.
QPixmap colourSwatch(const QColor& colour, int size = 16);

// The toolbar after the title field: the swatch and the colour box, then the formatting
// buttons in their groups, each running the window's ToolButtonClick.
void addToolbarControls(TForm2& form, QHBoxLayout* row);

// A button's command on the source view, then the push to the visual editor it calls for.
void runToolbarCommand(TForm2& form, const ToolbarCommand& command);

// The colour at index of the colour box: remembered, named in both hints and wrapped around
// the selection as a font tag. Nothing is pushed.
void applyFontColour(TForm2& form, int index);

}  // namespace zor::editor
