#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/Errors.h"

namespace zor {
namespace {

void bindText(sqlite3_stmt* st, int index, const QString& text) {
    QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(st, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt* st, int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return QString::fromUtf8(p, sqlite3_column_bytes(st, col));
}

// Resets a statement when the scope ends, whatever happened in it.
struct StmtReset {
    sqlite3_stmt* st;
    ~StmtReset() {
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
    }
};

}  // namespace

QString siteKeyPath(const QString& siteName, const QString& sub) {
    return QStringLiteral("software\\ZOR-OD\\") + siteName + u'\\' + sub;
}

QString SettingsStore::defaultPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (dir.isEmpty()) {
        dir = QDir::homePath() + QStringLiteral("/.config/zorod");
    }
    return dir + QStringLiteral("/settings.db");
}

SettingsStore::SettingsStore(const QString& databasePath) : path_(databasePath) {
    QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath())) {
        throw SettingsError(QStringLiteral("Не удалось создать папку настроек \u00AB%1\u00BB")
                                .arg(info.absolutePath()));
    }
    // Create the file ourselves so it is never readable by others, not even for a moment.
    QByteArray native = QFile::encodeName(path_);
    int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
    if (sqlite3_open_v2(native.constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        QString reason = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString();
        sqlite3_close(db_);
        db_ = nullptr;
        throw SettingsError(QStringLiteral("Не удалось открыть файл настроек \u00AB%1\u00BB: %2")
                                .arg(path_, reason));
    }
    try {
        sqlite3_busy_timeout(db_, 5000);
        // WAL without a sync per commit: each value written during an upload costs microseconds,
        // and a crash can lose at most the last moments, never corrupt the file.
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
        exec("CREATE TABLE IF NOT EXISTS keys(path TEXT PRIMARY KEY) WITHOUT ROWID");
        exec(
            "CREATE TABLE IF NOT EXISTS vals(path TEXT NOT NULL, name TEXT NOT NULL, "
            "value TEXT NOT NULL, PRIMARY KEY(path, name)) WITHOUT ROWID");
        insertKey_ = prepare("INSERT OR IGNORE INTO keys(path) VALUES(?1)");
        selectKey_ = prepare("SELECT 1 FROM keys WHERE path = ?1");
        selectValue_ = prepare("SELECT value FROM vals WHERE path = ?1 AND name = ?2");
        upsertValue_ = prepare(
            "INSERT INTO vals(path, name, value) VALUES(?1, ?2, ?3) "
            "ON CONFLICT(path, name) DO UPDATE SET value = excluded.value");
    } catch (...) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

SettingsStore::~SettingsStore() {
    for (sqlite3_stmt* st : {insertKey_, selectKey_, selectValue_, upsertValue_}) {
        sqlite3_finalize(st);
    }
    sqlite3_close_v2(db_);
}

void SettingsStore::fail(const QString& what) {
    throw SettingsError(QStringLiteral("%1 (\u00AB%2\u00BB): %3")
                            .arg(what, path_, QString::fromUtf8(sqlite3_errmsg(db_))));
}

sqlite3_stmt* SettingsStore::prepare(const char* sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
        fail(QStringLiteral("Ошибка базы настроек"));
    }
    return st;
}

void SettingsStore::exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(QStringLiteral("Ошибка базы настроек"));
    }
}

void SettingsStore::createKey(const QString& keyPath) {
    // Every prefix up to a "\" is a parent key and exists too.
    qsizetype from = 0;
    while (true) {
        qsizetype sep = keyPath.indexOf(u'\\', from);
        QString prefix = sep < 0 ? keyPath : keyPath.left(sep);
        if (!prefix.isEmpty()) {
            StmtReset r{insertKey_};
            bindText(insertKey_, 1, prefix);
            if (sqlite3_step(insertKey_) != SQLITE_DONE) {
                fail(QStringLiteral("Не удалось сохранить настройки"));
            }
        }
        if (sep < 0) {
            break;
        }
        from = sep + 1;
    }
}

bool SettingsStore::keyExists(const QString& keyPath) {
    StmtReset r{selectKey_};
    bindText(selectKey_, 1, keyPath);
    int rc = sqlite3_step(selectKey_);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        fail(QStringLiteral("Не удалось прочитать настройки"));
    }
    return rc == SQLITE_ROW;
}

bool SettingsStore::deleteKey(const QString& keyPath) {
    bool existed = keyExists(keyPath);
    Batch batch(*this);
    for (const char* sql :
         {"DELETE FROM vals WHERE path = ?1 OR substr(path, 1, length(?1) + 1) = ?1 || '\\'",
          "DELETE FROM keys WHERE path = ?1 OR substr(path, 1, length(?1) + 1) = ?1 || '\\'"}) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) {
            fail(QStringLiteral("Не удалось удалить настройки"));
        }
        bindText(st, 1, keyPath);
        int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) {
            fail(QStringLiteral("Не удалось удалить настройки"));
        }
    }
    batch.commit();
    return existed;
}

bool SettingsStore::valueExists(const QString& keyPath, const QString& name) {
    return readValue(keyPath, name).has_value();
}

std::optional<QString> SettingsStore::readValue(const QString& keyPath, const QString& name) {
    StmtReset r{selectValue_};
    bindText(selectValue_, 1, keyPath);
    bindText(selectValue_, 2, name);
    int rc = sqlite3_step(selectValue_);
    if (rc == SQLITE_ROW) {
        return columnText(selectValue_, 0);
    }
    if (rc != SQLITE_DONE) {
        fail(QStringLiteral("Не удалось прочитать настройки"));
    }
    return std::nullopt;
}

void SettingsStore::writeString(const QString& keyPath, const QString& name, const QString& value) {
    createKey(keyPath);
    StmtReset r{upsertValue_};
    bindText(upsertValue_, 1, keyPath);
    bindText(upsertValue_, 2, name);
    bindText(upsertValue_, 3, value);
    if (sqlite3_step(upsertValue_) != SQLITE_DONE) {
        fail(QStringLiteral("Не удалось сохранить настройки"));
    }
}

QStringList SettingsStore::valueNames(const QString& keyPath) {
    sqlite3_stmt* st = prepare("SELECT name FROM vals WHERE path = ?1 ORDER BY name");
    bindText(st, 1, keyPath);
    QStringList names;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        names.append(columnText(st, 0));
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) {
        fail(QStringLiteral("Не удалось прочитать настройки"));
    }
    return names;
}

QHash<QString, QString> SettingsStore::values(const QString& keyPath) {
    sqlite3_stmt* st = prepare("SELECT name, value FROM vals WHERE path = ?1");
    bindText(st, 1, keyPath);
    QHash<QString, QString> found;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        found.insert(columnText(st, 0), columnText(st, 1));
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) {
        fail(QStringLiteral("Не удалось прочитать настройки"));
    }
    return found;
}

SettingsStore::Batch::Batch(SettingsStore& store) : store_(store) {
    store_.exec("BEGIN IMMEDIATE");
}

SettingsStore::Batch::~Batch() {
    if (open_) {
        sqlite3_exec(store_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void SettingsStore::Batch::commit() {
    store_.exec("COMMIT");
    open_ = false;
}

SettingsKey::SettingsKey(SettingsStore& store, QString keyPath)
    : store_(store), path_(std::move(keyPath)) {
    store_.createKey(path_);
}

}  // namespace zor
