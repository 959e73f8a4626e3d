#pragma once

#include <QColor>
#include <QPixmap>

#include "editor/ToolbarHost.h"

class QHBoxLayout;
class QWidget;

// The editor window's formatting toolbar: its controls and what each command does to the
// source view.
namespace zor::editor {

struct ToolbarCommand;

// A colour sample with a grey border.
QPixmap colourSwatch(const QColor& colour, int size = 16);

// The toolbar after the title field: the swatch and the colour box, then the formatting
// buttons in their groups, each running the host's ToolButtonClick (inside the command guard,
// errors shown over `window`). Returns the swatch and the colour box.
ColourControls addToolbarControls(ToolbarHost& host, QWidget* window, QHBoxLayout* row);

// A button's command on the source view, then the push to the visual editor it calls for.
void runToolbarCommand(ToolbarHost& host, const ToolbarCommand& command);

// The colour at index of the colour box: remembered, named in both hints and wrapped around
// the selection as a font tag. Nothing is pushed.
void applyFontColour(ToolbarHost& host, int index);

}  // namespace zor::editor
