#pragma once

#include <QStringList>

#include "editor/EditorHost.h"
#include "site/OpenSiteState.h"

namespace zor::test {

// The main window's lists as the editor sees them, without the main window: the page list is
// the state's PageList, the block list a list of its own.
class TestEditorHost : public editor::EditorHost {
public:
    explicit TestEditorHost(OpenSiteState& state) : state_(state) {}

    int pageListSelection() const override { return pageSelection; }
    void setPageListEntry(int index, const QString& text) override {
        state_.pageList[index] = text;
    }
    int blockListSelection() const override { return blockSelection; }
    void setBlockListEntry(int index, const QString& text) override { blockList[index] = text; }

    int pageSelection = -1;
    int blockSelection = -1;
    QStringList blockList;

private:
    OpenSiteState& state_;
};

}  // namespace zor::test
