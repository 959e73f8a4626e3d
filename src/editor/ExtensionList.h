#pragma once

#include <QString>
#include <vector>

// Extension scripts: ready-made pages in the site's "extentions" folder, offered by the editor's
// drop-down and dropped into a page whole.
namespace zor::editor {

// The name shown for an extension, taken from its first line: from the 8th character up to just
// before the first "?>" ("<?php //Комментарии ?>" gives "/Комментарии ").
QString extensionName(const QString& firstLine);
// The drop-down entry: name + " [" + file name + "]".
QString extensionEntry(const QString& name, const QString& fileName);

struct Extension {
    QString entry;     // what the list shows
    QString fileName;  // the file in the extension folder
};

// Every readable file of the site's extension folder, by name. Sub-folders and files that cannot
// be read are skipped; a missing folder gives an empty list.
std::vector<Extension> listExtensions(const QString& sitePath);

// The text an extension puts into a page: the whole file. Throws FileError when the file cannot
// be read (for example when it belongs to another site than the one open now).
QString extensionText(const QString& sitePath, const QString& fileName);

}  // namespace zor::editor
