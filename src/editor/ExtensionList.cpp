#include "editor/ExtensionList.h"

#include <QDir>
#include <QFileInfo>

#include "platform/Errors.h"
#include "platform/TextFile.h"
#include "site/SiteWorkspace.h"

namespace zor::editor {

QString extensionName(const QString& firstLine) {
    // p: position of the first "?>" counted from 1, 0 when there is none.
    const auto p = firstLine.indexOf(QStringLiteral("?>")) + 1;
    if (p - 8 <= 0 || firstLine.size() < 8) {
        return {};
    }
    return firstLine.mid(7, p - 8);
}

QString extensionEntry(const QString& name, const QString& fileName) {
    return name + QStringLiteral(" [") + fileName + u']';
}

std::vector<Extension> listExtensions(const QString& sitePath) {
    std::vector<Extension> list;
    const QDir folder(site::extensionsFolder(sitePath));
    const QFileInfoList entries = folder.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& info : entries) {
        if (!info.isFile()) {
            continue;
        }
        QString text;
        try {
            text = textfile::readText(info.filePath());
        } catch (const FileError&) {
            continue;
        }
        const QStringList lines = textfile::splitLines(text);
        const QString name = lines.isEmpty() ? QString() : extensionName(lines.first());
        list.push_back({extensionEntry(name, info.fileName()), info.fileName()});
    }
    return list;
}

QString extensionText(const QString& sitePath, const QString& fileName) {
    return textfile::readText(site::extensionsFolder(sitePath) + u'/' + fileName);
}

}  // namespace zor::editor
