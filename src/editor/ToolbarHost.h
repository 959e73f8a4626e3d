#pragma once

#include <QString>

class QComboBox;
class QLabel;

namespace zor {
class RichTextMemo;
}

namespace zor::editor {

struct ToolbarCommand;

// The toolbar's font colour controls: the swatch of the last colour and the colour list.
struct ColourControls {
    QLabel* swatch = nullptr;
    QComboBox* list = nullptr;
};

// What the formatting toolbar reads and changes of the editor window it sits in: the source
// view its commands edit, the window's steps they end with, the cut buffer and the last font
// colour.
class ToolbarHost {
public:
    virtual ~ToolbarHost() = default;

    virtual RichTextMemo& sourceView() = 0;
    // What "Отменить все изменения" brings back.
    virtual QString savedText() const = 0;
    // Writes the preview file from the source text and shows it in the preview.
    virtual void PreviewRefresh() = 0;
    // Colours the complete tags in the text positions first..last (from 1).
    virtual void ColourTags(int first, int last) = 0;
    // Sets the visual editor's document to the source lines: always, or only while the visual
    // editor is in use.
    virtual void push() = 0;
    virtual void pushIfOn() = 0;

    // The text Cut keeps for Paste, across pages.
    virtual QString cutBuffer() const = 0;
    virtual void setCutBuffer(const QString& text) = 0;
    // The code of the font colour chosen last, and the controls that show it.
    virtual void setLastColourCode(const QString& code) = 0;
    virtual ColourControls colourControls() = 0;

    // The window's handler for a toolbar button.
    virtual void ToolButtonClick(const ToolbarCommand& command) = 0;
};

}  // namespace zor::editor
