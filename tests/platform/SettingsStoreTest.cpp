#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>

#include "platform/Errors.h"
#include "platform/SettingsStore.h"
#include "support/TempSite.h"

using namespace zor;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::ThrowsMessage;

namespace {

struct SettingsStoreTest : ::testing::Test {
    QTemporaryDir dir;
    QString path = dir.filePath("conf/settings.db");
};

}  // namespace

TEST_F(SettingsStoreTest, DatabaseIsCreatedPrivate) {
    SettingsStore store(path);
    store.writeString("software\\ZOR-OD\\a\\ftp", "pass", "x");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsStoreTest, ValuesPersistAsStrings) {
    {
        SettingsStore store(path);
        SettingsKey key(store, siteKeyPath("alpha", "ftp"));
        EXPECT_FALSE(key.valueExists("host"));
        key.write("host", "ftp.example.org");
        key.write("host", "ftp2.example.org");  // replaces
        key.write("pass", QString());           // an empty value still exists
        key.write("kydkach", QStringLiteral("/сайт"));
    }
    SettingsStore store(path);
    const QString key = "software\\ZOR-OD\\alpha\\ftp";
    EXPECT_EQ(store.readValue(key, "host"), QString("ftp2.example.org"));
    EXPECT_TRUE(store.valueExists(key, "pass"));
    EXPECT_EQ(store.readValue(key, "pass"), QString());
    EXPECT_EQ(store.readValue(key, "kydkach"), QStringLiteral("/сайт"));
    EXPECT_FALSE(store.readValue(key, "username").has_value());
    // Other sites do not see it.
    EXPECT_FALSE(store.readValue(siteKeyPath("beta", "ftp"), "host").has_value());
}

TEST_F(SettingsStoreTest, OpeningAKeyCreatesItAndItsParents) {
    SettingsStore store(path);
    EXPECT_FALSE(store.keyExists("software\\ZOR-OD\\s\\sitemap"));
    SettingsKey key(store, siteKeyPath("s", "sitemap"));
    EXPECT_TRUE(store.keyExists("software\\ZOR-OD\\s\\sitemap"));
    EXPECT_TRUE(store.keyExists("software\\ZOR-OD\\s"));
    EXPECT_TRUE(store.keyExists("software"));
    EXPECT_TRUE(store.valueNames(key.path()).isEmpty());
}

TEST_F(SettingsStoreTest, DeleteKeyRemovesEverythingBelowAndNothingBeside) {
    SettingsStore store(path);
    const QString files = siteKeyPath("s", "files");
    store.writeString(files, "/index.php", "d41d8cd98f00b204e9800998ecf8427e");
    store.writeString(files, "/mf/img/a.png", "0123");
    store.writeString(files + "\\deeper", "x", "y");
    store.writeString(siteKeyPath("s", "ftp"), "host", "h");
    // A sibling whose name merely starts with the same text is not below the key.
    store.writeString(siteKeyPath("s", "files2"), "v", "w");

    EXPECT_TRUE(store.deleteKey(files));
    EXPECT_FALSE(store.keyExists(files));
    EXPECT_FALSE(store.valueExists(files, "/index.php"));
    EXPECT_FALSE(store.keyExists(files + "\\deeper"));
    EXPECT_EQ(store.readValue(siteKeyPath("s", "ftp"), "host"), QString("h"));
    EXPECT_EQ(store.readValue(siteKeyPath("s", "files2"), "v"), QString("w"));
    EXPECT_FALSE(store.deleteKey(files));
}

TEST_F(SettingsStoreTest, ValueNamesKeepSlashesAndCase) {
    SettingsStore store(path);
    const QString files = siteKeyPath("s", "files");
    store.writeString(files, "/mf/img/Logo.png", "1");
    store.writeString(files, "/mf/img/logo.png", "2");
    EXPECT_EQ(store.readValue(files, "/mf/img/Logo.png"), QString("1"));
    EXPECT_EQ(store.readValue(files, "/mf/img/logo.png"), QString("2"));
    EXPECT_EQ(store.valueNames(files).size(), 2);
}

TEST_F(SettingsStoreTest, AnUnwritableDatabaseRaisesAnError) {
    {
        SettingsStore store(path);
        store.writeString("k", "v", "1");
    }
    // A file that is not a database at all cannot be written either.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(4096, 'x'));
    f.close();
    QFile::remove(path + "-wal");
    QFile::remove(path + "-shm");
    EXPECT_THROW(SettingsStore{path}, SettingsError);
}

TEST_F(SettingsStoreTest, ACorruptDatabaseIsMovedAsideAndTheProgramStartsWithAnEmptyStore) {
    struct Row {
        const char* what;
        std::function<void(const QString&)> spoil;
    };
    auto resize = [](const QString& p, qint64 size) {
        QFile f(p);
        ASSERT_TRUE(f.resize(size));
    };
    const Row rows[] = {
        {"not a database", [](const QString& p) { test::writeFile(p, QByteArray(4096, 'x')); }},
        {"cut short", [&](const QString& p) { resize(p, QFileInfo(p).size() / 2); }},
    };
    for (const Row& row : rows) {
        QTemporaryDir rowDir;
        const QString db = rowDir.filePath("settings.db");
        {
            SettingsStore store(db);
            SettingsStore::Batch batch(store);
            for (int i = 0; i < 2000; ++i) {
                store.writeString(siteKeyPath("s", "files"), QString("/mf/img/%1.png").arg(i),
                                  QString(32, u'0'));
            }
            batch.commit();
        }
        row.spoil(db);
        const QByteArray spoilt = test::readFile(db);
        EXPECT_THAT([&] { SettingsStore{db}; },
                    ThrowsMessage<CorruptSettings>(HasSubstr("повреждён")))
            << row.what;

        QString notice;
        auto store = SettingsStore::openRecovering(db, notice);
        ASSERT_NE(store, nullptr) << row.what;
        EXPECT_FALSE(store->valueExists(siteKeyPath("s", "files"), "/mf/img/1.png"));
        store->writeString(siteKeyPath("s", "ftp"), "host", "h");
        EXPECT_EQ(store->readValue(siteKeyPath("s", "ftp"), "host"), QString("h"));

        const QStringList aside =
            QDir(rowDir.path())
                .entryList({"settings-*" + QDate::currentDate().toString("yyyy-MM-dd") + "*.db"});
        ASSERT_EQ(aside.size(), 1) << row.what;
        EXPECT_EQ(test::readFile(rowDir.filePath(aside[0])), spoilt);
        EXPECT_TRUE(notice.contains(db)) << notice.toStdString();
        EXPECT_TRUE(notice.contains(rowDir.filePath(aside[0]))) << notice.toStdString();
    }
}

TEST_F(SettingsStoreTest, AHealthyDatabaseOpensAsItIs) {
    SettingsStore(path).writeString("k", "v", "1");
    QString notice;
    auto store = SettingsStore::openRecovering(path, notice);
    EXPECT_EQ(store->readValue("k", "v"), QString("1"));
    EXPECT_TRUE(notice.isEmpty());
    EXPECT_EQ(QDir(dir.filePath("conf")).entryList({"*.db"}), QStringList{"settings.db"});
}

TEST_F(SettingsStoreTest, ASecondCopyOfTheProgramIsToldThatOneIsRunning) {
    SettingsStore first(path);
    first.writeString("k", "v", "1");
    QString notice;
    EXPECT_THAT([&] { SettingsStore::openRecovering(path, notice); },
                ThrowsMessage<SettingsError>(
                    AllOf(HasSubstr("другая копия программы"), Not(HasSubstr("locked")))));
    EXPECT_EQ(QDir(dir.filePath("conf")).entryList({"*.db"}), QStringList{"settings.db"});
    EXPECT_EQ(first.readValue("k", "v"), QString("1"));
}
