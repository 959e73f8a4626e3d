#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/Errors.h"
#include "platform/Startup.h"
#include "support/TempSite.h"

using namespace zor;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

// A program folder "bin", a home "home" and the environment the choice reads, put back after.
struct ProgramDataFolderTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(home));
        savedHome = qgetenv("HOME");
        savedZorodHome = qgetenv(startup::HomeVariable);
        qputenv("HOME", QFile::encodeName(home));
        qunsetenv(startup::HomeVariable);
    }
    void TearDown() override {
        qputenv("HOME", savedHome);
        savedZorodHome.isNull() ? qunsetenv(startup::HomeVariable)
                                : qputenv(startup::HomeVariable, savedZorodHome);
    }
    QTemporaryDir dir;
    QString bin = dir.filePath("bin");
    QString home = dir.filePath("home");
    QByteArray savedHome, savedZorodHome;
};

}  // namespace

TEST_F(ProgramDataFolderTest, BesideTheProgramWhenItsFolderIsTheUsersElseInTheHome) {
    struct Row {
        const char* what;
        bool systemWide;
        const char* zorodHome;  // inside the temporary folder; null: unset
        QString expected;
    };
    const Row rows[] = {
        {"installed into the user's folder", false, nullptr, bin},
        {"installed into the user's folder, ZOROD_HOME set", false, "elsewhere", bin},
        {"system-wide, ~/ZOR-OD made", true, nullptr, home + "/ZOR-OD"},
        {"system-wide, ZOROD_HOME made with its parents", true, "mine/sites",
         dir.filePath("mine/sites")},
    };
    for (const Row& row : rows) {
        row.zorodHome
            ? qputenv(startup::HomeVariable, QFile::encodeName(dir.filePath(row.zorodHome)))
            : qunsetenv(startup::HomeVariable);
        EXPECT_EQ(startup::programDataFolder(bin, row.systemWide), row.expected) << row.what;
        EXPECT_TRUE(QFileInfo(row.expected).isDir()) << row.what;
    }
    // The next start finds the same folder with what it holds.
    test::writeFile(home + "/ZOR-OD/site/x", "x");
    qunsetenv(startup::HomeVariable);
    EXPECT_EQ(startup::programDataFolder(bin, true), home + "/ZOR-OD");
    EXPECT_EQ(test::readFile(home + "/ZOR-OD/site/x"), "x");

    // A file where the folder should be is reported, not taken for the folder.
    test::writeFile(dir.filePath("file"), "x");
    qputenv(startup::HomeVariable, QFile::encodeName(dir.filePath("file")));
    EXPECT_THAT([&] { startup::programDataFolder(bin, true); },
                ThrowsMessage<FileError>(HasSubstr("это файл, а не папка")));
}

TEST_F(ProgramDataFolderTest, AProgramFolderTheUserCannotWriteSendsTheSitesHome) {
    // Root writes everywhere: the check runs as a user without rights.
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    ::chmod(QFile::encodeName(home).constData(), 0777);
    ::chmod(QFile::encodeName(bin).constData(), 0555);
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && ::setuid(65534) != 0) {
                ::_exit(5);
            }
            const QString folder = startup::programDataFolder(bin, false);
            ::_exit(folder == home + "/ZOR-OD" && QFileInfo(folder).isDir() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
