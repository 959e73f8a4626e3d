#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "platform/Errors.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zor {

// The settings database is damaged (not a database at all, or cut short).
class CorruptSettings : public SettingsError {
public:
    using SettingsError::SettingsError;
};

// The per-site settings tree: keys named by paths with "\" separators, each holding string
// values. Stored in one SQLite database in the user's configuration folder (mode 0600, since
// it holds the scrambled FTP password).
class SettingsStore {
public:
    // Opens the database and holds it for as long as the store lives. Throws CorruptSettings
    // for a damaged file, SettingsError for any other failure.
    explicit SettingsStore(const QString& databasePath);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The database file used by the program: "settings.db" in the configuration folder.
    static QString defaultPath();
    // The program's way to open its store: a corrupt database is moved aside (its name given the
    // date) and an empty one takes its place; notice then says so and where the old file is,
    // otherwise it is empty. Other failures, a database another copy holds among them, throw.
    static std::unique_ptr<SettingsStore> openRecovering(const QString& databasePath,
                                                         QString& notice);
    const QString& databasePath() const { return path_; }

    // Creates the key and its missing parents.
    void createKey(const QString& keyPath);
    bool keyExists(const QString& keyPath);
    // Removes the key with every value and every key below it. Returns whether it existed.
    bool deleteKey(const QString& keyPath);

    bool valueExists(const QString& keyPath, const QString& name);
    std::optional<QString> readValue(const QString& keyPath, const QString& name);
    // Creates or replaces the value (and its key). Throws SettingsError when it cannot.
    void writeString(const QString& keyPath, const QString& name, const QString& value);
    // Removes one value; nothing happens when there is none.
    void deleteValue(const QString& keyPath, const QString& name);
    // Removes the value so that no copy of it stays in the database's files: for a secret that
    // has moved elsewhere. Returns whether it existed. Not within a Batch.
    bool eraseValue(const QString& keyPath, const QString& name);
    QStringList valueNames(const QString& keyPath);
    // Every value of the key by name, read at once.
    QHash<QString, QString> values(const QString& keyPath);

    // Runs many writes as one transaction (much faster; all or nothing reaches the disk).
    class Batch {
    public:
        explicit Batch(SettingsStore& store);
        ~Batch();
        void commit();

    private:
        SettingsStore& store_;
        bool open_ = true;
    };

private:
    sqlite3_stmt* prepare(const char* sql);
    void exec(const char* sql, const QString& what = QString());
    void checkIntact();
    QString reasonText() const;
    [[noreturn]] void fail(const QString& what);

    QString path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insertKey_ = nullptr;
    sqlite3_stmt* selectKey_ = nullptr;
    sqlite3_stmt* selectValue_ = nullptr;
    sqlite3_stmt* upsertValue_ = nullptr;
};

// An opened key, as the system uses the store: open (creating it), test, read, write, close.
class SettingsKey {
public:
    SettingsKey(SettingsStore& store, QString keyPath);
    const QString& path() const { return path_; }
    bool valueExists(const QString& name) { return store_.valueExists(path_, name); }
    std::optional<QString> read(const QString& name) { return store_.readValue(path_, name); }
    void write(const QString& name, const QString& value) {
        store_.writeString(path_, name, value);
    }
    bool erase(const QString& name) { return store_.eraseValue(path_, name); }

private:
    SettingsStore& store_;
    QString path_;
};

// "software\ZOR-OD\" + site name + "\" + sub, the key of one site's group of settings.
QString siteKeyPath(const QString& siteName, const QString& sub);

}  // namespace zor
