#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

namespace zor {
class SettingsStore;
}

namespace zor::publish {

// What was last sent of each file of a site: one value per file under the site's "\files" key,
// named by the file's site-relative path ("/" separators, a leading "/"), holding the MD5 of
// the content that reached the server.
class FileChangeCache {
public:
    // Opens the site's key, creating it when missing, and reads what it holds.
    FileChangeCache(SettingsStore& store, const QString& siteName);

    std::optional<QString> recorded(const QString& name);
    void record(const QString& name, const QString& digest);
    // Every name that has a record.
    QStringList names() const { return recorded_.keys(); }
    // Forgets one file: it is no longer on the server as far as the site knows.
    void drop(const QString& name);

    // Forgets every file of the site, so the next upload sends them all.
    static void forget(SettingsStore& store, const QString& siteName);

private:
    SettingsStore& store_;
    QString key_;
    QHash<QString, QString> recorded_;  // read once: an upload asks about every file
};

}  // namespace zor::publish
