#pragma once

#include <QStringList>

#include "editor/EditorHost.h"
#include "site/OpenSiteState.h"
#include "support/TempSite.h"

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
    // The design screen's block list, with entry `row` picked.
    void pickBlock(const QStringList& list, int row) {
        blockList = list;
        blockSelection = row;
    }

    int pageSelection = -1;
    int blockSelection = -1;
    QStringList blockList;

private:
    OpenSiteState& state_;
};

// The site the editor tests work on: "alpha", made by the new-site operation, with two pages in
// its lists (page 2 has no file yet) and a web address.
inline void openTwoPageSite(const TempRoot& root, OpenSiteState& state) {
    state.sitePath = root.makeSite("alpha");
    state.siteName = "alpha";
    state.pageList = {"1 - Главная", "2 - Вторая", "..."};
    state.pageTitles[1] = "Главная";
    state.pageTitles[2] = "Вторая";
    state.siteAddress = "http://example.org/";
}

}  // namespace zor::test
