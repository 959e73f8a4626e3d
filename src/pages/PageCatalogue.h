#pragma once

#include <QString>

#include "site/OpenSiteState.h"

// What a pick in the page list opens.
namespace zor::pages {

struct PageOpening {
    int pageNumber = 0;
    QString title;
    bool isNew = false;     // the "..." entry: a page the list does not hold yet
    bool loadFile = false;  // the page file exists and is loaded; otherwise the text is empty
};

// The page behind the entry at index (from 0) whose text is entry. Only the position counts,
// except that an entry reading exactly "..." starts a new page. Refuses a new page past the
// largest number of pages a site holds, while the title index is not loaded, and where a page
// file of its number is already on disk.
PageOpening planPageOpening(const OpenSiteState& state, int index, const QString& entry);

}  // namespace zor::pages
