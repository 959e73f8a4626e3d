#pragma once

#include <QString>

namespace zor::editor {

// What the editor window reads and changes of the main window's lists when it saves: the page
// list's selected entry (the page being edited) and the block list's selected entry.
class EditorHost {
public:
    virtual ~EditorHost() = default;
    // Position of the page list's selection, from 0; -1 when nothing is selected.
    virtual int pageListSelection() const = 0;
    // Replaces the page list's entry at the position (in OpenSiteState and on screen).
    virtual void setPageListEntry(int index, const QString& text) = 0;
    // Position of the block list's selection, from 0; -1 when nothing is selected.
    virtual int blockListSelection() const = 0;
    virtual void setBlockListEntry(int index, const QString& text) = 0;
};

}  // namespace zor::editor
