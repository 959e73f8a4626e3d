#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "support/TempSite.h"

using namespace zor;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

struct FileCopy : ::testing::Test {
    QTemporaryDir dir;
    QString source = dir.filePath("source.bin");
    QString target = dir.filePath("target.bin");
    // Three and a half blocks of the copy, no two equal.
    QByteArray content = [] {
        QByteArray b;
        for (int i = 0; b.size() < 3 * (1 << 20) + (1 << 19); ++i) {
            b += QByteArray::number(i) + ' ';
        }
        return b;
    }();
    void SetUp() override {
        test::writeFile(source, content);
        test::writeFile(target, "old");
    }
    QStringList entries() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }
};

}  // namespace

TEST_F(FileCopy, ReplacesTheTargetWithEveryByteAndReportsProgressUpToTheTotal) {
    QList<qint64> reported;
    EXPECT_TRUE(copyFileAtomically(source, target, [&](qint64 done, qint64 total) {
        EXPECT_EQ(total, content.size());
        reported.append(done);
        return true;
    }));
    EXPECT_EQ(test::readFile(target), content);
    ASSERT_EQ(reported.size(), 4);
    EXPECT_EQ(reported.last(), content.size());
    EXPECT_EQ(entries(), (QStringList{"source.bin", "target.bin"}));
}

TEST_F(FileCopy, AStoppedCopyLeavesTheOldTargetAndNoHalfFile) {
    EXPECT_FALSE(copyFileAtomically(source, target, [](qint64, qint64) { return false; }));
    EXPECT_EQ(test::readFile(target), "old");
    EXPECT_EQ(entries(), (QStringList{"source.bin", "target.bin"}));
}

TEST_F(FileCopy, ANamedPipeIsRefusedAtOnceInsteadOfWaitedOn) {
    const QString pipe = dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_THAT([&] { copyFileAtomically(pipe, target); },
                ThrowsMessage<FileError>(HasSubstr("не обычный файл")));
    EXPECT_EQ(test::readFile(target), "old");
}
