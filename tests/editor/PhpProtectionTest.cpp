#include <gtest/gtest.h>

#include "PhpCases.h"
#include "editor/PhpProtection.h"
#include "editor/PhpScanner.h"
#include "platform/TextFile.h"
#include "support/Http.h"
#include "support/TempSite.h"

using zor::editor::PhpProtection;

namespace {

const QString Loop = QStringLiteral("<?php if ($a > 1) { ?>");
const QString Echo = QStringLiteral("<?php echo $x; ?>");

}  // namespace

TEST(PhpProtection, TheBrowserNeverSeesCodeAndGetsItBack) {
    const QStringList pages{
        "text " + Echo + " more",
        Loop + "<b>big</b><?php } ?>",
        "<a href=\"" + Echo + "\" title='" + Loop + "'>x</a>",
        "<div " + Echo + ">y</div>",
        "<table><tr>" + Echo + "<td>" + Loop + "</td></tr></table>",
        "<select>" + Echo + "<option>" + Loop + "</option></select>",
        "<!-- " + Echo + " --><script>var a = " + Echo + ";</script><textarea>" + Loop +
            "</textarea>",
        "unfinished <?php echo 1;\r\nstill code",
        "<?xml version=\"1.0\"?><p>x</p>",
        // The page itself gives the code an empty value: it stays.
        "<a " + Echo + "=\"\">t</a>",
        "<script>s = '" + Echo + "=\"\"';</script>",
    };
    for (const QString& page : pages) {
        SCOPED_TRACE(page.toStdString());
        PhpProtection protection(page);
        const QString html = protection.protect(page);
        EXPECT_FALSE(html.contains("<?"));
        EXPECT_EQ(protection.restore(html), page);
    }
}

TEST(PhpProtection, CodeEndsWherePhpEndsIt) {
    for (const auto& c : zor::test::phpCases()) {
        SCOPED_TRACE(c.name);
        PhpProtection protection(c.text);
        const QString html = protection.protect(c.text);
        EXPECT_EQ(protection.blocks(), c.blocks);
        EXPECT_FALSE(html.contains("<?")) << html.toStdString();
        const QString restored = protection.restore(html);
        EXPECT_EQ(restored, c.text);
        EXPECT_EQ(zor::test::phpLintErrors(zor::textfile::toCp1251(restored)), "");
    }
}

TEST(PhpProtection, PlaceholderFitsWhereTheCodeStands) {
    PhpProtection p;
    const QString m = p.marker();
    // In content: an inert element the user sees but cannot type into.
    EXPECT_EQ(p.protect("a" + Echo + "b"), "a<span data-" + m +
                                               "=\"0\" contenteditable=\"false\">&lt;?php echo $x; "
                                               "?&gt;</span>b");
    // Between table rows and cells, and in selects, an element would be moved out: a comment.
    EXPECT_EQ(p.protect("<table><tr>" + Echo + "<td>x</td></tr></table>"),
              "<table><tr><!--" + m + ":0--><td>x</td></tr></table>");
    EXPECT_EQ(p.protect("<select><option>" + Echo + "</option></select>"),
              "<select><option><!--" + m + ":0--></option></select>");
    // Inside a cell, content again; after the table is closed too.
    EXPECT_TRUE(p.protect("<table><tr><td>" + Echo + "</td></tr></table>").contains("<span"));
    EXPECT_TRUE(p.protect("<table><tr><td>x</td></tr></table>" + Echo).contains("<span"));
    // Inside a tag, an attribute value, a comment or raw text: a bare token.
    EXPECT_EQ(p.protect("<a href=\"" + Echo + "\">"), "<a href=\"" + m + "0q\">");
    EXPECT_EQ(p.protect("<div " + Echo + ">"), "<div " + m + "0q>");
    EXPECT_EQ(p.protect("<!--" + Echo + "-->"), "<!--" + m + "0q-->");
    EXPECT_EQ(p.protect("<style>" + Echo + "</style>" + Echo),
              "<style>" + m + "0q</style><span data-" + m +
                  "=\"0\" contenteditable=\"false\">&lt;?php echo $x; ?&gt;</span>");
}

TEST(PhpProtection, AGreaterThanInsideTheCodeDoesNotEndTheTag) {
    PhpProtection p;
    const QString page = "<a title=\"" + Loop + "\" href=x>link " + Loop + "</a>";
    const QString html = p.protect(page);
    // The second block stands in content, so the tag ended where the page says, not at "$a >".
    EXPECT_TRUE(html.contains("<span data-")) << html.toStdString();
    EXPECT_EQ(p.restore(html), page);
}

TEST(PhpProtection, ComesBackFromWhatABrowserMakesOfThePlaceholders) {
    PhpProtection p;
    const QString m = p.marker();
    p.protect(Echo + Loop);
    // An attribute-name token gains an empty value; the element a style and a wrapper.
    EXPECT_EQ(p.restore("<div " + m + "0q=\"\">x</div>"), "<div " + Echo + ">x</div>");
    EXPECT_EQ(p.restore("<div " + m + "0r=\"\">x</div>"), "<div " + Echo + "=\"\">x</div>");
    EXPECT_EQ(p.restore("<b><span style=\"color: red;\" data-" + m +
                        "=\"1\" contenteditable=\"false\">whatever</span></b>"),
              "<b>" + Loop + "</b>");
    // Copied by the user: both come back. Unknown numbers stay as they are.
    EXPECT_EQ(p.restore("<!--" + m + ":0-->x<!--" + m + ":0-->"), Echo + "x" + Echo);
    EXPECT_EQ(p.restore(m + "7q"), m + "7q");
}

TEST(PhpProtection, BlocksKeepTheirNumbersAcrossPushes) {
    PhpProtection p;
    const QString first = p.protect(Echo + " and " + Loop);
    p.protect("only " + Loop + " now, then " + Echo);
    EXPECT_EQ(p.blocks(), (QStringList{Echo, Loop}));
    // A document still showing the first push comes back whole.
    EXPECT_EQ(p.restore(first), Echo + " and " + Loop);
}

TEST(PhpProtection, MarkerAvoidsTextThatLooksLikeIt) {
    PhpProtection p(u"we talk about ZORPHP and zorphpz here");
    EXPECT_EQ(p.marker(), "zorphpzz");
    const QString page = "zorphp0q " + Echo;
    EXPECT_EQ(p.restore(p.protect(page)), page);
}

TEST(PhpScanner, AnEditMustKeepEveryBlockInItsOrder) {
    const QString page = "a <?php echo \"?>\"; ?> b " + Loop + " c";
    const struct {
        const char* name;
        QString edited;
        bool kept;
    } rows[] = {
        {"typed around the code", "Za <?php echo \"?>\"; ?> bb " + Loop + " c!", true},
        {"a copy in between", "a <?php echo \"?>\"; ?> " + Loop + " b " + Loop, true},
        {"a block removed", "a <?php echo \"?>\"; ?> b c", false},
        {"a block cut short", "a <?php echo \"?&gt;\"; ?> b " + Loop + " c", false},
        {"blocks swapped", Loop + " a <?php echo \"?>\"; ?>", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(zor::editor::keepsPhpBlocks(page, row.edited), row.kept) << row.name;
    }
    // Code left open runs to the end: what follows it is still part of it.
    EXPECT_TRUE(zor::editor::keepsPhpBlocks(u"x <?php echo 1;", u"xy <?php echo 1;\n "));
    EXPECT_TRUE(zor::editor::keepsPhpBlocks(u"no code", u"anything"));
}
