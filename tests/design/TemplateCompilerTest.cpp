#include <gtest/gtest.h>

#include "design/TemplateCompiler.h"
#include "platform/Errors.h"
#include "platform/TextFile.h"
#include "site/SiteWorkspace.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::design;

namespace {

// The first line of every index.php: the pages are Windows-1251, whatever the server's default.
const QByteArray Charset = R"(<?php header("Content-Type: text/html; charset=windows-1251"); ?>)";

// The compiled lines after the charset line every index.php starts with.
QStringList compiled(const QStringList& templateLines) {
    QStringList out = compileTemplate(templateLines);
    EXPECT_EQ(out.value(0).toLatin1(), Charset);
    out.removeFirst();
    return out;
}

// The fragments as the server must get them, one output line a line.
QStringList fragment(const char* name) {
    QString text =
        QString::fromLatin1(test::readFile(QStringLiteral(ZOROD_DESIGN_DATA "/") + name));
    text.chop(1);
    return text.split(u'\n');
}
const QStringList Title = fragment("title-block.php");
const QStringList Content = fragment("content-block.php");

// The inclusion of block `name`, as the server must get it.
QStringList include(const char* name) {
    return {"<?php", QStringLiteral("include \"etc/blocs/%1.tq\";").arg(QLatin1String(name)), "?>"};
}

QStringList concat(std::initializer_list<QStringList> parts) {
    QStringList out;
    for (const QStringList& p : parts) {
        out += p;
    }
    return out;
}

}  // namespace

TEST(Fragments, AreTheFixedPhpTexts) {
    EXPECT_EQ(titleBlock(), Title);
    EXPECT_EQ(contentBlock(), Content);
    EXPECT_EQ(blockInclude("menu"), include("menu"));
}

TEST(Compiler, LinesWithoutMarkersAreCopied) {
    EXPECT_EQ(compiled({}), QStringList{});
    EXPECT_EQ(compiled({"<html>", "", "  {{ title }} {{bloc menu}}", "</html>"}),
              (QStringList{"<html>", "", "  {{ title }} {{bloc menu}}", "</html>"}));
}

TEST(Compiler, MarkersAnywhereInALine) {
    struct Case {
        QString line;
        QStringList expected;
    };
    const Case cases[] = {
        {"<title>{{title}}</title>", concat({{"<title>"}, Title, {"</title>"}})},
        {"{{title}}", concat({{""}, Title, {""}})},
        {"    {{content}}", concat({{"    "}, Content, {""}})},
        {"{{content}}</div><br />", concat({{""}, Content, {"</div><br />"}})},
        {"<div>{{bloc=menu}}</div>", concat({{"<div>"}, include("menu"), {"</div>"}})},
        {"{{bloc=menu}}", concat({{""}, include("menu"), {""}})},
        // A second title stays as text in the part after the first one.
        {"a{{title}}b{{title}}c", concat({{"a"}, Title, {"b{{title}}c"}})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compiled({c.line}), c.expected) << c.line.toStdString();
    }
}

TEST(Compiler, TwoMarkersOnALineEmitTheLineOncePerPass) {
    EXPECT_EQ(
        compiled({"<h1>{{title}}</h1>{{content}}<p>"}),
        concat(
            {{"<h1>"}, Title, {"</h1>{{content}}<p>"}, {"<h1>{{title}}</h1>"}, Content, {"<p>"}}));
    // Content first: its "}}" is the first on the line, so the block name is empty and the
    // text after the block starts right after "{{content}}".
    EXPECT_EQ(compiled({"x{{content}}y{{bloc=menu}}z"}), concat({{"x{{content}}y"},
                                                                 include(""),
                                                                 {"y{{bloc=menu}}z", "x"},
                                                                 Content,
                                                                 {"y{{bloc=menu}}z"}}));
    // Block first, then content: both passes.
    EXPECT_EQ(compiled({"{{bloc=top}}{{content}}"}),
              concat({{""}, include("top"), {"{{content}}", "{{bloc=top}}"}, Content, {""}}));
    // Title and block: the title only; the block marker stays text.
    EXPECT_EQ(compiled({"{{bloc=menu}}{{title}}"}), concat({{"{{bloc=menu}}"}, Title, {""}}));
}

TEST(Compiler, ABlockMarkerWithoutItsClosingBraces) {
    // No "}}" on the line: an empty name, then the line from its second character.
    EXPECT_EQ(compiled({"<b>{{bloc=menu</b>"}),
              concat({{"<b>"}, include(""), {"b>{{bloc=menu</b>"}}));
    EXPECT_EQ(compiled({"{{bloc=}}"}), concat({{""}, include(""), {""}}));
}

TEST(SaveAndCompile, WritesTemplateAsGivenAndIndexWithCrLf) {
    test::TempRoot root;
    OpenSiteState state = root.openNewSite("s");
    // The last line without a line end still counts; nothing is added to the template.
    saveAndCompile(state, "<html>\r\n<title>{{title}}</title>\r\n</html>");
    EXPECT_EQ(test::readFile(site::themePath(state.sitePath)),
              "<html>\r\n<title>{{title}}</title>\r\n</html>");
    EXPECT_EQ(state.templateLines[3], "</html>");
    const QByteArray php = test::readFile(site::frontControllerPath(state.sitePath));
    EXPECT_TRUE(php.startsWith(Charset + "\r\n<html>\r\n<title>\r\n"));
    EXPECT_TRUE(php.endsWith("        ?>\r\n</title>\r\n</html>\r\n"));
    EXPECT_EQ(php.count("\r\n"), 1 + 1 + 1 + 37 + 1 + 1);
    EXPECT_EQ(php.count("\n"), php.count("\r\n"));

    // A trailing line end makes no extra line; an empty template compiles to the charset line.
    saveAndCompile(state, "a\r\n");
    EXPECT_EQ(test::readFile(site::frontControllerPath(state.sitePath)), Charset + "\r\na\r\n");
    saveAndCompile(state, "");
    EXPECT_EQ(test::readFile(site::themePath(state.sitePath)), "");
    EXPECT_EQ(test::readFile(site::frontControllerPath(state.sitePath)), Charset + "\r\n");
}

TEST(SaveAndCompile, RefusesMoreLinesThanTheTableHoldsAndWritesNothing) {
    test::TempRoot root;
    OpenSiteState state = root.openNewSite("s");
    const QByteArray before = test::readFile(site::themePath(state.sitePath));
    QString big;
    for (int i = 0; i < 5001; ++i) {
        big += "x\r\n";
    }
    EXPECT_THROW(saveAndCompile(state, big), ZorError);
    EXPECT_EQ(test::readFile(site::themePath(state.sitePath)), before);
    EXPECT_FALSE(QFile::exists(site::frontControllerPath(state.sitePath)));
}
