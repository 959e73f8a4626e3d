#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <functional>

#include "platform/Errors.h"
#include "platform/TextFile.h"
#include "support/TempSite.h"

using namespace zor;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::ThrowsMessage;

namespace {

// Tests of files, each in a temporary folder of its own.
struct Files : ::testing::Test {
    QTemporaryDir dir;
};
using Lines = Files;

}  // namespace

TEST(Cp1251, CyrillicAndAsciiRoundTrip) {
    const QString text = QStringLiteral("Новый сайт: Ёё №1 «кавычки» — тире");
    QByteArray bytes = textfile::toCp1251(text);
    // One byte per character: Н is 0xCD, Ё 0xA8, № 0xB9, « 0xAB, — 0x97.
    EXPECT_EQ(bytes.size(), text.size());
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xCD);
    EXPECT_TRUE(bytes.contains('\xA8'));
    EXPECT_TRUE(bytes.contains('\xB9'));
    EXPECT_TRUE(bytes.contains('\x97'));
    EXPECT_EQ(textfile::fromCp1251(bytes), text);
}

TEST(Cp1251, EveryByteSurvivesDecodeAndEncode) {
    EXPECT_EQ(textfile::toCp1251(textfile::fromCp1251(test::everyByte())), test::everyByte());
}

TEST(Cp1251, UnrepresentableCharactersBecomeNumericReferences) {
    // Chinese, a Greek letter and an emoji (outside the basic plane) cannot be held.
    const QString text = QStringLiteral("a中b\u03A9c") + QString::fromUcs4(U"\U0001F600");
    EXPECT_EQ(textfile::toCp1251(text), QByteArray("a&#20013;b&#937;c&#128512;"));
    // The euro sign is in the code page and stays one byte.
    EXPECT_EQ(textfile::toCp1251(QStringLiteral("\u20AC")), QByteArray("\x88"));
    // Half a surrogate pair is no character: the replacement character stands for it.
    EXPECT_EQ(textfile::toCp1251(QString(QChar(0xD83D)) + u'x' + QChar(0xDE00)),
              QByteArray("&#65533;x&#65533;"));
}

TEST_F(Lines, SplitAtEveryKindOfLineEnd) {
    EXPECT_EQ(textfile::splitLines(u""), QStringList{});
    EXPECT_EQ(textfile::splitLines(u"a"), QStringList{"a"});
    EXPECT_EQ(textfile::splitLines(u"a\r\n"), QStringList{"a"});
    EXPECT_EQ(textfile::splitLines(u"a\r\nb"), (QStringList{"a", "b"}));
    EXPECT_EQ(textfile::splitLines(u"a\r\n\r\n"), (QStringList{"a", ""}));
    EXPECT_EQ(textfile::splitLines(u"a\nb\rc\r\n"), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(textfile::splitLines(u"\r\n"), QStringList{""});
}

TEST_F(Lines, WrittenWithCrLfAfterEveryLine) {
    const QString path = dir.filePath("t.txt");
    textfile::writeLines(path, {QStringLiteral("Главная"), QString(), QStringLiteral("#")});
    EXPECT_EQ(test::readFile(path), QByteArray("\xC3\xEB\xE0\xE2\xED\xE0\xFF\r\n\r\n#\r\n"));
    EXPECT_EQ(textfile::readLines(path), (QStringList{"Главная", "", "#"}));
}

TEST_F(Lines, WriteTextAddsNothing) {
    const QString path = dir.filePath("t.txt");
    textfile::writeText(path, QStringLiteral("a\r\nb"));
    EXPECT_EQ(test::readFile(path), QByteArray("a\r\nb"));
}

TEST_F(Files, ReadingAMissingFileThrowsWithItsPath) {
    const QString path = dir.filePath("missing.txt");
    EXPECT_THAT([&] { textfile::readLines(path); },
                ThrowsMessage<FileError>(HasSubstr(path.toStdString())));
}

TEST_F(Files, AFailedRewriteKeepsTheOldFile) {
    const QString path = dir.filePath("keep.txt");
    textfile::writeLines(path, {"old"});
    // A file-size limit makes the write of the new content fail, even for root.
    {
        test::FileSizeLimit limit(1024);
        EXPECT_THROW(textfile::writeLines(path, {QString(4096, u'n')}), FileError);
    }
    EXPECT_EQ(test::readFile(path), QByteArray("old\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.txt"});  // no leftovers
}

TEST_F(Files, WritingIntoAMissingFolderThrowsAndCreatesNothing) {
    const QString path = dir.filePath("no/such/folder/f.txt");
    EXPECT_THROW(textfile::writeLines(path, {"x"}), FileError);
    EXPECT_FALSE(QFile::exists(path));
}

// Reads run in a child process: one that blocks must end the test, not hang it.
TEST_F(Files, OnlyRegularFilesAreReadAndNothingBlocks) {
    struct Row {
        const char* name;
        std::function<bool(const QByteArray&)> make;
    };
    const Row rows[] = {
        {"pipe", [](const QByteArray& p) { return ::mkfifo(p.constData(), 0600) == 0; }},
        {"folder", [](const QByteArray& p) { return ::mkdir(p.constData(), 0700) == 0; }},
        {"device", [](const QByteArray& p) { return ::symlink("/dev/zero", p.constData()) == 0; }},
    };
    for (const Row& row : rows) {
        const QString path = dir.filePath(row.name);
        ASSERT_TRUE(row.make(QFile::encodeName(path))) << row.name;
        EXPECT_EXIT(test::exitAfter([&] { textfile::readBytes(path); },
                                    [&](const QString& text) {
                                        return text.contains(path) &&
                                               text.contains("не обычный файл");
                                    }),
                    ::testing::ExitedWithCode(test::FileErrorThrown), "")
            << row.name;
    }
}

// In a child process, which the default reaction to the signal would kill.
TEST_F(Files, WritingPastTheFileSizeLimitFailsWithAMessageAndLeavesNothingBehind) {
    const QString path = dir.filePath("keep.txt");
    textfile::writeLines(path, {"old"});
    EXPECT_EXIT(test::exitAfter(
                    [&] {
                        struct rlimit small {};
                        ::getrlimit(RLIMIT_FSIZE, &small);
                        small.rlim_cur = 1024;
                        ::setrlimit(RLIMIT_FSIZE, &small);
                        textfile::writeLines(path, {QString(4096, u'n')});
                    },
                    [](const QString& text) { return text.contains("допустимый размер"); }),
                ::testing::ExitedWithCode(test::FileErrorThrown), "");
    EXPECT_EQ(test::readFile(path), QByteArray("old\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.txt"});
}

TEST_F(Files, CommonSystemErrorsAreToldInRussian) {
    test::writeFile(dir.filePath("file.txt"), "x");
    ::chmod(QFile::encodeName(dir.filePath("file.txt")).constData(), 0600);
    struct Row {
        const char* what;
        std::function<void()> fail;
        const char* told;
        int errorNumber;  // whose system text must not appear
    };
    const Row rows[] = {
        {"missing", [&] { textfile::readBytes(dir.filePath("missing.txt")); }, "не найден", ENOENT},
        {"file as folder", [&] { textfile::readBytes(dir.filePath("file.txt/x")); },
         "не является папкой", ENOTDIR},
    };
    for (const Row& row : rows) {
        EXPECT_THAT(row.fail,
                    ThrowsMessage<FileError>(
                        AllOf(HasSubstr(row.told), Not(HasSubstr(std::strerror(row.errorNumber))))))
            << row.what;
    }
    // Permission denied, as a user without rights meets it (root reads everything).
    EXPECT_EXIT(test::exitAfter(
                    [&] {
                        if (::geteuid() == 0 && ::setuid(65534) != 0) {
                            ::_exit(5);
                        }
                        ::chmod(QFile::encodeName(dir.filePath("file.txt")).constData(), 0);
                        textfile::readBytes(dir.filePath("file.txt"));
                    },
                    [](const QString& text) { return text.contains("нет прав доступа"); }),
                ::testing::ExitedWithCode(test::FileErrorThrown), "");
}

TEST(Cp1251, FirstCharacterOutsideTheCodePage) {
    const std::pair<QString, std::optional<QString>> cases[] = {
        {QStringLiteral("Пароль №1 «€» ok"), std::nullopt},
        {QString(), std::nullopt},
        {QStringLiteral("abc中d中"), QStringLiteral("中")},
        {QStringLiteral("über"), QStringLiteral("ü")},
        {QStringLiteral("x\U0001F600y"), QStringLiteral("\U0001F600")},
        {QStringLiteral("a") + QChar(0xD800) + u'b', QString(QChar(0xD800))},
    };
    for (const auto& [text, outside] : cases) {
        EXPECT_EQ(textfile::firstOutsideCp1251(text), outside) << text.toStdString();
    }
}
