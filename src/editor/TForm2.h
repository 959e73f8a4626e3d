#pragma once

#include <QColor>
#include <QDialog>
#include <memory>
#include <optional>

#include "editor/EditorSave.h"
#include "editor/ToolbarHost.h"
#include "site/OpenSiteState.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTabWidget;

namespace zor {
class HtmlEditingControl;
class PreviewControl;
class RichTextMemo;
class SettingsStore;
}  // namespace zor

namespace zor::editor {

class EditorHost;
class VisualSync;

// The visual editor and the preview the window hosts; it takes them over.
struct EditorControls {
    HtmlEditingControl* visual = nullptr;
    PreviewControl* preview = nullptr;
};
// The real ones, on web views.
EditorControls webEngineControls();

// The editor window for pages and blocks: the source view (the text that is saved), the visual
// editor and the preview, the formatting toolbar and the extension list. Created once, hidden
// between uses, shown modally by the page and block lists; every close saves. Its toolbar works
// on it as its ToolbarHost.
class TForm2 : public QDialog, public ToolbarHost {
    Q_OBJECT
public:
    inline static const QColor TagColour{0, 128, 0};

    // Builds the window and runs its creation step for the site open now. Errors of that step
    // are shown in a message box; the window is usable anyway.
    TForm2(OpenSiteState& state, SettingsStore& settings, EditorHost& host, EditorControls controls,
           QWidget* parent = nullptr);
    ~TForm2() override;

    // The open protocol. Each reads its file (when told to) before anything else, so a failed
    // load throws and leaves the window as it was between uses; then sets the title field, the
    // caption and the source view, shows the window modally and returns once it has saved.
    void openPage(int pageNumber, const QString& title, bool loadFile);
    void openBlock(const QString& name, bool loadFile);

    EditorMode mode() const { return modeOfCaption(windowTitle()); }

    // Reads ExtensionList again from the open site's extension folder (after an install).
    void reloadExtensions();

    // The text as last saved, for "Отменить все изменения": the page file in page mode (nothing
    // for a page not saved yet), nothing for a block.
    QString savedText() const override;

    // Writes the preview file from the source text and shows it in the preview.
    void PreviewRefresh() override;
    // Sets the visual editor's document to the source lines: always, or only while the visual
    // editor is in use.
    void push() override;
    void pushIfOn() override;
    // Colours the complete tags in the text positions first..last (from 1).
    void ColourTags(int first, int last) override;
    static QString ClipboardText();
    static bool IsCtrlDown();

    // Handlers.
    void Memo1Change();
    void Memo1KeyDown(int key, Qt::KeyboardModifiers modifiers);
    void Memo1KeyPress(QChar ch);
    void Memo1KeyUp(int key, Qt::KeyboardModifiers modifiers);
    void DHTMLEdit1Key();  // the visual editor's keys and edits: its body into the source view
    void usedhtmlClick();
    void Edit2Click();
    void ToolButtonClick(const ToolbarCommand& command) override;
    void ColorBox1Select(int index);
    void ComboBox1Select(int index);

    QLineEdit* Edit1;      // title of the page, or name of the block
    QLabel* Image1;        // swatch of the last font colour
    QComboBox* ColorBox1;  // the sixteen font colours
    RichTextMemo* Memo1;   // source view: the text that is saved
    QTabWidget* PageControl1;
    QWidget* TabSheet1;  // "Редактор"
    QWidget* TabSheet2;  // "IE"
    HtmlEditingControl* DHTMLEdit1;
    PreviewControl* WebBrowser1;
    QComboBox* ComboBox1;  // ExtensionList
    QLabel* Label1;        // "Адрес этой страницы"
    QLineEdit* Edit2;      // the page's address on the published site
    QCheckBox* usedhtml;   // "Использовать редактор"

    QColor DefaultTextColour;
    QString CutBuffer;       // kept by Cut for Paste, across pages
    QString lastColourCode;  // the last font colour chosen
    int SavedCaret = 0;      // caret at the last key-down

    // The rest of what the toolbar uses.
    RichTextMemo& sourceView() override { return *Memo1; }
    QString cutBuffer() const override { return CutBuffer; }
    void setCutBuffer(const QString& text) override { CutBuffer = text; }
    void setLastColourCode(const QString& code) override { lastColourCode = code; }
    ColourControls colourControls() override { return {Image1, ColorBox1}; }

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    void buildWindow();
    QWidget* buildToolbar();
    void FormCreate();
    void FormShow();
    // The save; false when the user chose to go on editing instead.
    bool FormClose();
    void startEditing(const QString& text);

    OpenSiteState& state_;
    SettingsStore& settings_;
    EditorHost& host_;
    std::unique_ptr<VisualSync> sync_;
    std::optional<QString> openedBlock_;  // the block loaded from its file, by name
    // What the preview file holds now, so that a key which changes nothing rewrites nothing.
    QString previewPath_;
    QString previewText_;
};

}  // namespace zor::editor
