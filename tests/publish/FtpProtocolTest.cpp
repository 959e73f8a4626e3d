#include <gtest/gtest.h>

#include "FtpTestSupport.h"
#include "publish/FtpError.h"
#include "publish/FtpProtocol.h"

using namespace zor::publish;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

struct ReplyCase {
    const char* name;
    QByteArray received;
    int code;
    QStringList lines;
    QByteArray left;  // what stays in the buffer for the next reply
};

class TakeReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(TakeReply, ReadsOneReplyAndLeavesTheRest) {
    const ReplyCase& c = GetParam();
    QByteArray buffer = c.received;
    const auto reply = takeReply(buffer);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, c.code);
    EXPECT_EQ(reply->lines, c.lines);
    EXPECT_EQ(buffer, c.left);
}

const ReplyCase Replies[] = {
    {"vsftpd_greeting", "220 (vsFTPd 3.0.3)\r\n", 220, {"(vsFTPd 3.0.3)"}, ""},
    {"greeting_with_foreign_lines",
     "220-Welcome\r\n  an indented line\r\nOther text with 220 inside\r\n"
     "220-still the greeting\r\n220 Ready.\r\n331 next\r\n",
     220,
     {"Welcome", "  an indented line", "Other text with 220 inside", "still the greeting",
      "Ready."},
     "331 next\r\n"},
    // vsftpd's HELP: continuation lines begin with a blank and keep all their characters.
    {"help_lines_kept_whole",
     "214-The following commands are recognized.\r\n"
     " ABOR ACCT ALLO APPE CDUP CWD  DELE EPRT EPSV FEAT HELP LIST MDTM MKD\r\n"
     "214 Help OK.\r\n",
     214,
     {"The following commands are recognized.",
      " ABOR ACCT ALLO APPE CDUP CWD  DELE EPRT EPSV FEAT HELP LIST MDTM MKD", "Help OK."},
     ""},
    {"empty_lines_skipped_before_and_inside",
     "\r\n\n226-File sent\r\n\r\n226 0.003 s\r\n",
     226,
     {"File sent", "0.003 s"},
     ""},
    // A line of another code does not end the reply; a short line does.
    {"other_code_inside", "220-a\r\n230 b\r\n220 c\r\n", 220, {"a", "230 b", "c"}, ""},
    {"short_line_ends",
     "211-Features\r\nab\r\n211 End\r\n",
     211,
     {"Features", "ab"},
     "211 End\r\n"},
    {"two_replies_in_one_read",
     "150 Here it comes.\r\n226 Done.\r\n",
     150,
     {"Here it comes."},
     "226 Done.\r\n"},
    {"bare_lf_line_end", "230 OK\n", 230, {"OK"}, ""},
    {"code_alone", "200\r\n", 200, {""}, ""},
    {"not_ftp_is_one_line",
     "SSH-2.0-OpenSSH_9.2\r\n220 x\r\n",
     0,
     {"SSH-2.0-OpenSSH_9.2"},
     "220 x\r\n"},
    {"windows_1251_text",
     "550 \xCD\xE5\xF2 \xF4\xE0\xE9\xEB\xE0\r\n",
     550,
     {QStringLiteral("Нет файла")},
     ""},
};

INSTANTIATE_TEST_SUITE_P(Replies, TakeReply, ::testing::ValuesIn(Replies),
                         [](const auto& info) { return info.param.name; });

TEST(TakeReply, IncompleteReplyLeavesTheBufferAlone) {
    for (QByteArray partial :
         {QByteArray("220 Rea"), QByteArray("\r\n"), QByteArray("220-first\r\n220-second\r\n"),
          QByteArray("220-first\r\n220 last")}) {
        const QByteArray before = partial;
        EXPECT_FALSE(takeReply(partial).has_value()) << partial.constData();
        EXPECT_EQ(partial, before);
    }
}

TEST(TakeReply, TextJoinsLinesForErrorMessages) {
    QByteArray buffer("550-Could not\r\n550 create it.\r\n");
    EXPECT_EQ(takeReply(buffer)->text(), QStringLiteral("Could not\ncreate it."));
}

struct PasvCase {
    const char* name;
    const char* line;
    const char* host;  // nullptr: not an address
    quint16 port;
};

class ParsePassive : public ::testing::TestWithParam<PasvCase> {};

TEST_P(ParsePassive, ReadsSixNumbers) {
    const PasvCase& c = GetParam();
    const auto address = parsePassiveReply(QString::fromLatin1(c.line));
    if (!c.host) {
        EXPECT_FALSE(address.has_value());
        return;
    }
    ASSERT_TRUE(address.has_value());
    EXPECT_EQ(address->host, QLatin1String(c.host));
    EXPECT_EQ(address->port, c.port);
}

const PasvCase PassiveLines[] = {
    {"vsftpd", "Entering Passive Mode (127,0,0,1,117,123).", "127.0.0.1", 30075},
    {"without_parentheses", "Entering Passive Mode 192,168,1,20,4,1", "192.168.1.20", 1025},
    {"with_parentheses", "Entering passive mode (192,168,1,20,4,1)", "192.168.1.20", 1025},
    {"blanks_inside", "  Entering Passive Mode ( 10, 0, 0, 1, 4, 1 )  ", "10.0.0.1", 1025},
    {"five_numbers", "Entering Passive Mode (1,2,3,4,5)", nullptr, 0},
    {"seven_numbers", "Entering Passive Mode (1,2,3,4,5,6,7)", nullptr, 0},
    {"number_too_big", "Entering Passive Mode (256,0,0,1,4,1)", nullptr, 0},
    {"port_zero", "Entering Passive Mode (127,0,0,1,0,0)", nullptr, 0},
    {"no_numbers", "Entering Passive Mode", nullptr, 0},
    {"empty", "", nullptr, 0},
};

INSTANTIATE_TEST_SUITE_P(Lines, ParsePassive, ::testing::ValuesIn(PassiveLines),
                         [](const auto& info) { return info.param.name; });

TEST(CommandLine, Windows1251WithCrLf) {
    EXPECT_EQ(commandLine(u"TYPE I"), QByteArray("TYPE I\r\n"));
    EXPECT_EQ(commandLine(QStringLiteral("CWD //Папка")),
              QByteArray("CWD //\xCF\xE0\xEF\xEA\xE0\r\n"));
    EXPECT_EQ(commandLine(QStringLiteral("STOR /№ «1».txt")), QByteArray("STOR /\xB9 \xAB"
                                                                         "1\xBB.txt\r\n"));
}

TEST(CommandLine, WhatCannotGoOnTheWireAsTypedIsRefusedAndNamed) {
    const std::pair<QString, const char*> cases[] = {
        {QStringLiteral("STOR a.txt\r\nDELE index.php"), "перевод строки"},
        {QStringLiteral("DELE a\nb"), "перевод строки"},
        {QStringLiteral("RNFR a\rb"), "перевод строки"},
        {QStringLiteral("PASS a") + QChar(0) + u'b', "нулевой знак (NUL)"},
        {QStringLiteral("STOR /中.txt"), "знак «中», которого нет в кодировке Windows-1251"},
        {QStringLiteral("USER \U0001F600"), "знак «\U0001F600»"},
    };
    for (const auto& [text, says] : cases) {
        EXPECT_THAT([&line = text] { commandLine(line); },
                    ThrowsMessage<FtpError>(HasSubstr(says)));
    }
}

}  // namespace
