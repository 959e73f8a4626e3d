#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>

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
    if (fd < 0) {
        throw SettingsError(QStringLiteral("Не удалось открыть файл настроек \u00AB%1\u00BB: %2")
                                .arg(path_, systemErrorText(errno)));
    }
    ::fchmod(fd, 0600);
    ::close(fd);
    if (sqlite3_open_v2(native.constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        QString reason = db_ ? reasonText() : QString();
        sqlite3_close(db_);
        db_ = nullptr;
        throw SettingsError(QStringLiteral("Не удалось открыть файл настроек \u00AB%1\u00BB: %2")
                                .arg(path_, reason));
    }
    try {
        const QString opening = QStringLiteral("Не удалось открыть файл настроек");
        sqlite3_busy_timeout(db_, 1000);
        // The database stays locked while the program runs: a second copy would keep its own
        // state of the open site and overwrite this one's saves.
        exec("PRAGMA locking_mode=EXCLUSIVE", opening);
        // WAL without a sync per commit: each value written during an upload costs microseconds,
        // and a crash can lose at most the last moments, never corrupt the file.
        exec("PRAGMA journal_mode=WAL", opening);
        exec("PRAGMA synchronous=NORMAL", opening);
        // What is deleted or replaced is overwritten, not left in free space in the file.
        exec("PRAGMA secure_delete=ON", opening);
        checkIntact();
        exec("CREATE TABLE IF NOT EXISTS keys(path TEXT PRIMARY KEY) WITHOUT ROWID", opening);
        exec(
            "CREATE TABLE IF NOT EXISTS vals(path TEXT NOT NULL, name TEXT NOT NULL, "
            "value TEXT NOT NULL, PRIMARY KEY(path, name)) WITHOUT ROWID",
            opening);
        insertKey_ = prepare("INSERT OR IGNORE INTO keys(path) VALUES(?1)");
        selectKey_ = prepare("SELECT 1 FROM keys WHERE path = ?1");
        selectValue_ = prepare("SELECT value FROM vals WHERE path = ?1 AND name = ?2");
        upsertValue_ = prepare(
            "INSERT INTO vals(path, name, value) VALUES(?1, ?2, ?3) "
            "ON CONFLICT(path, name) DO UPDATE SET value = excluded.value");
    } catch (...) {
        for (sqlite3_stmt* st : {insertKey_, selectKey_, selectValue_, upsertValue_}) {
            sqlite3_finalize(st);
        }
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

void SettingsStore::checkIntact() {
    // A damaged file often opens without complaint; the check reads every page once.
    sqlite3_stmt* st = prepare("PRAGMA quick_check");
    const int rc = sqlite3_step(st);
    const QString verdict = rc == SQLITE_ROW ? columnText(st, 0) : QString();
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        fail(QStringLiteral("Не удалось открыть файл настроек"));
    }
    if (verdict != u"ok") {
        throw CorruptSettings(QStringLiteral("Файл настроек \u00AB%1\u00BB повреждён.").arg(path_));
    }
}

std::unique_ptr<SettingsStore> SettingsStore::openRecovering(const QString& databasePath,
                                                             QString& notice) {
    notice.clear();
    try {
        return std::make_unique<SettingsStore>(databasePath);
    } catch (const CorruptSettings&) {
        // Moved aside below, outside the handler.
    }
    const QFileInfo info(databasePath);
    const QString stem = info.absolutePath() + u'/' + info.completeBaseName() +
                         QStringLiteral("-corrupt-") +
                         QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QString dot = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    QString aside = stem + dot;
    for (int n = 2; QFileInfo::exists(aside); ++n) {
        aside = stem + u'-' + QString::number(n) + dot;
    }
    if (::rename(QFile::encodeName(databasePath).constData(),
                 QFile::encodeName(aside).constData()) != 0) {
        throw SettingsError(
            QStringLiteral("Файл настроек \u00AB%1\u00BB повреждён, и убрать его в сторону не "
                           "удалось: %2. Переименуйте или удалите его и запустите программу снова.")
                .arg(databasePath, systemErrorText(errno)));
    }
    // Its journal belongs to it and must not be applied to the new file.
    QFile::rename(databasePath + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    QFile::remove(databasePath + QStringLiteral("-shm"));
    auto store = std::make_unique<SettingsStore>(databasePath);
    notice = QStringLiteral(
                 "Файл настроек \u00AB%1\u00BB был повреждён, поэтому программа начинает с "
                 "пустыми настройками: данные FTP и другие настройки сайтов придётся ввести "
                 "заново.\n\nПовреждённый файл сохранён как \u00AB%2\u00BB.")
                 .arg(databasePath, aside);
    return store;
}

SettingsStore::~SettingsStore() {
    for (sqlite3_stmt* st : {insertKey_, selectKey_, selectValue_, upsertValue_}) {
        sqlite3_finalize(st);
    }
    sqlite3_close_v2(db_);
}

QString SettingsStore::reasonText() const {
    switch (sqlite3_errcode(db_)) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return QStringLiteral(
                "файл занят: уже запущена другая копия программы. Закройте её и "
                "попробуйте снова");
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return QStringLiteral("файл повреждён");
        case SQLITE_FULL:
            return systemErrorText(ENOSPC);
        case SQLITE_READONLY:
            return QStringLiteral("файл доступен только для чтения");
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return systemErrorText(EACCES);
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
            if (const int err = sqlite3_system_errno(db_); err != 0) {
                return systemErrorText(err);
            }
            break;
        default:
            break;
    }
    return QString::fromUtf8(sqlite3_errmsg(db_));
}

void SettingsStore::fail(const QString& what) {
    const QString text = QStringLiteral("%1 (\u00AB%2\u00BB): %3").arg(what, path_, reasonText());
    const int code = sqlite3_errcode(db_);
    if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB) {
        throw CorruptSettings(text);
    }
    throw SettingsError(text);
}

sqlite3_stmt* SettingsStore::prepare(const char* sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
        fail(QStringLiteral("Ошибка базы настроек"));
    }
    return st;
}

void SettingsStore::exec(const char* sql, const QString& what) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(what.isEmpty() ? QStringLiteral("Ошибка базы настроек") : what);
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

void SettingsStore::deleteValue(const QString& keyPath, const QString& name) {
    sqlite3_stmt* st = prepare("DELETE FROM vals WHERE path = ?1 AND name = ?2");
    bindText(st, 1, keyPath);
    bindText(st, 2, name);
    const int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) {
        fail(QStringLiteral("Не удалось удалить настройки"));
    }
}

bool SettingsStore::eraseValue(const QString& keyPath, const QString& name) {
    if (!valueExists(keyPath, name)) {
        return false;
    }
    deleteValue(keyPath, name);
    // Older pages may still hold it: in the journal until the next checkpoint, and in free pages
    // written before deletions were overwritten. The database is rebuilt and the journal emptied.
    exec("VACUUM", QStringLiteral("Не удалось удалить настройки"));
    exec("PRAGMA wal_checkpoint(TRUNCATE)", QStringLiteral("Не удалось удалить настройки"));
    return true;
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
