#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <optional>

#include <QImage>

#include "EditorWindowFixture.h"
#include "PhpCases.h"
#include "editor/EditorDocument.h"
#include "platform/HtmlEditingControl.h"
#include "platform/TextFile.h"
#include "platform/WebControls.h"
#include "support/Http.h"

using namespace zor;
using namespace zor::editor;

namespace {

// The editor window with the real web views.
struct WebEditor : test::EditorWindowTest {
    WebHtmlEditor* web = nullptr;
    WebPreview* browser = nullptr;

    void createWeb() {
        web = new WebHtmlEditor({DocumentHead, DocumentTail});
        browser = new WebPreview;
        form = std::make_unique<TForm2>(state, *settings, *host, EditorControls{web, browser});
    }
    static std::optional<QString> eval(QWebEnginePage* page, const QString& script,
                                       quint32 world = QWebEngineScript::MainWorld) {
        std::optional<QString> result;
        page->runJavaScript(script, world, [&](const QVariant& v) { result = v.toString(); });
        if (!waitUntil([&] { return result.has_value(); })) {
            ADD_FAILURE() << "no answer from the page";
        }
        return result;
    }
    std::optional<QString> visualBody() {
        return eval(web->view()->page(), "document.body.innerHTML",
                    QWebEngineScript::ApplicationWorld);
    }
    // Puts the caret at the start of the visual editor's body, as a click there does.
    void clickIntoVisualEditor() {
        ASSERT_TRUE(waitUntil([&] { return web->view()->focusProxy() != nullptr; }, 10000));
        QTest::mouseClick(web->view()->focusProxy(), Qt::LeftButton, {}, QPoint(6, 6));
        ASSERT_TRUE(waitUntil([&] { return web->view()->focusProxy()->hasFocus(); }, 5000));
    }
};

const QStringList PhpBlocks{
    "<?php echo $name; ?>", "<?php if ($a > 1) { ?>",  "<?php } ?>",
    "<?php echo $url; ?>",  "<?php echo $attrs; ?>",   "<?php foreach ($rows as $r) { ?>",
    "<?php echo $r; ?>",    "<?php echo $options; ?>",
};

}  // namespace

TEST_F(WebEditor, PhpBlocksComeBackUnchangedAfterTypingInTheVisualEditor) {
    const QStringList lines{
        "<p>Hello " + PhpBlocks[0] + "!</p>",
        PhpBlocks[1] + "<b>big</b>" + PhpBlocks[2],
        "<a href=\"" + PhpBlocks[3] + "\" " + PhpBlocks[4] + ">link</a>",
        "<table><tr>" + PhpBlocks[5] + "<td>" + PhpBlocks[6] + "</td>" + PhpBlocks[2] +
            "</tr></table>",
        "<select>" + PhpBlocks[7] + "</select>",
    };
    test::writeFile(page(2), test::crlf(lines));
    createWeb();
    openPage(2, [&] {
        ASSERT_TRUE(waitUntil([&] { return !web->isBusy(); }, 15000));
        const auto shown = visualBody();
        ASSERT_TRUE(shown);
        EXPECT_FALSE(shown->contains("<?")) << shown->toStdString();
        EXPECT_TRUE(shown->startsWith("<p>Hello <span")) << shown->toStdString();

        clickIntoVisualEditor();
        QTest::keyClick(web->view()->focusProxy(), 'Z');
        ASSERT_TRUE(waitUntil([&] { return memoText().contains("Z"); }, 10000))
            << memoText().toStdString();
        const QString text = memoText();
        EXPECT_TRUE(text.startsWith("<p>ZHello " + PhpBlocks[0] + "!</p>")) << text.toStdString();
        for (const QString& block : PhpBlocks) {
            EXPECT_TRUE(text.contains(block)) << block.toStdString() << "\n" << text.toStdString();
        }
        EXPECT_EQ(text.count("<?"), 9) << text.toStdString();
        // In the order they stood.
        qsizetype at = 0;
        for (const QString& line : lines) {
            for (qsizetype i = line.indexOf("<?"); i >= 0; i = line.indexOf("<?", i + 2)) {
                const QString block = line.mid(i, line.indexOf("?>", i) + 2 - i);
                at = text.indexOf(block, at);
                EXPECT_GE(at, 0) << block.toStdString();
            }
        }
    });
    EXPECT_TRUE(
        test::readFile(page(2)).contains("<a href=\"<?php echo $url; ?>\" <?php echo "
                                         "$attrs; ?>>link</a>"));
}

TEST_F(WebEditor, KeysThatChangeNothingCopyNothingBack) {
    // The browser would write these differently; untouched, the source keeps its own form.
    test::writeFile(page(2), test::crlf({"<P>one<BR/>two &amp; &#1103;</P>"}));
    createWeb();
    openPage(2, [&] {
        ASSERT_TRUE(waitUntil([&] { return !web->isBusy(); }, 15000));
        clickIntoVisualEditor();
        QSignalSpy keyUps(web, &HtmlEditingControl::keyUp);
        QTest::keyClick(web->view()->focusProxy(), Qt::Key_Right);
        ASSERT_TRUE(keyUps.wait(10000));
        EXPECT_EQ(memoText(), "<P>one<BR/>two &amp; &#1103;</P>\n");
    });
    EXPECT_EQ(test::readFile(page(2)), test::crlf({"<P>one<BR/>two &amp; &#1103;</P>"}));
}

TEST_F(WebEditor, SourceEditsReachBothViewsAndPageScriptsNeverRun) {
    createWeb();
    const QString trap = "<img src=\"missing.png\" onerror=\"document.title='ran'\">";
    openPage(2, [&] {
        form->Memo1->selectAll();
        test::type(form->Memo1, "<i>new</i>" + trap);
        // The preview follows the rewritten file (its scripts run, as a browser's would).
        ASSERT_TRUE(waitUntil([&] { return browser->view()->page()->title() == "ran"; }));
        EXPECT_EQ(eval(browser->view()->page(), "document.body.innerHTML"), "<i>new</i>" + trap);
        // The visual editor ends up with the last text, and its scripts stay off.
        ASSERT_TRUE(
            waitUntil([&] { return visualBody().value_or("").startsWith("<i>new</i><img"); }));
        // Its handler would have run by the time the picture counts as broken.
        ASSERT_TRUE(waitUntil([&] {
            return eval(web->view()->page(),
                        "var i = document.querySelector('img'); i.complete && !i.naturalWidth",
                        QWebEngineScript::ApplicationWorld) == "true";
        }));
        EXPECT_NE(web->view()->page()->title(), "ran");
    });
}

TEST_F(WebEditor, WindowGoesAwayQuietlyWithWorkInFlight) {
    createWeb();
    showPage(1, "start");
    ASSERT_TRUE(waitUntil([&] { return !web->isBusy(); }));
    test::type(form->Memo1, "abc");  // the first key's push is on its way, the rest wait
    ASSERT_TRUE(web->isBusy());
    // The page answers its pending script while it is destroyed: the window, half gone by
    // then, must hear nothing of it.
    int reports = 0;
    QObject::connect(web, &HtmlEditingControl::applied, [&] { ++reports; });
    form.reset();
    EXPECT_EQ(reports, 0);
}

TEST_F(WebEditor, PhpWithAClosingTagInsideSurvivesAKeyInTheVisualEditor) {
    // Every form whose code ends before the page does, one a line.
    QStringList lines;
    std::vector<const test::PhpCase*> cases;
    for (const test::PhpCase& c : test::phpCases()) {
        if (c.blocks.last().endsWith("?>")) {
            lines.append(c.text);
            cases.push_back(&c);
        }
    }
    test::writeFile(page(2), test::crlf(lines));
    createWeb();
    openPage(2, [&] {
        ASSERT_TRUE(waitUntil([&] { return !web->isBusy(); }, 15000));
        clickIntoVisualEditor();
        QTest::keyClick(web->view()->focusProxy(), 'Z');
        ASSERT_TRUE(waitUntil([&] { return memoText().startsWith("Z"); }, 10000))
            << memoText().toStdString();
        // Each block whole and in its place, with the source view's line breaks.
        const QString text = memoText();
        qsizetype at = 0;
        for (const test::PhpCase* c : cases) {
            for (QString block : c->blocks) {
                block.replace("\r\n", "\n");
                at = text.indexOf(block, at);
                ASSERT_GE(at, 0) << c->name << "\n" << text.toStdString();
            }
        }
    });
    EXPECT_EQ(test::phpLintErrors(test::readFile(page(2))), "");
}

TEST_F(WebEditor, AKeyTypedRightAfterClickingIntoAnOldDocumentIsKept) {
    test::writeFile(page(2), "<p>one</p>");
    createWeb();
    openPage(2, [&] {
        ASSERT_TRUE(waitUntil([&] { return !web->isBusy(); }, 15000));
        // The colour command does not push: the visual editor shows the text before it.
        form->Memo1->selectAll();
        form->ColorBox1Select(9);
        clickIntoVisualEditor();
        QTest::keyClick(web->view()->focusProxy(), 'Q');
        ASSERT_TRUE(waitUntil([&] { return memoText().contains("Q"); }, 10000))
            << memoText().toStdString();
        EXPECT_TRUE(memoText().contains("<font color=\"#ff0000\">")) << memoText().toStdString();
        EXPECT_EQ(memoText().count("Q"), 1);
    });
}

TEST_F(WebEditor, KeysTypedWhileABodyIsOnItsWayGoToThatBody) {
    test::writeFile(page(2), "<p>one</p>");
    createWeb();
    openPage(2, [&] {
        ASSERT_TRUE(waitUntil([&] { return !web->isBusy(); }, 15000));
        clickIntoVisualEditor();
        form->Memo1->setText("<p>two</p>");
        form->push();
        ASSERT_TRUE(web->isBusy());
        QTest::keyClick(web->view()->focusProxy(), 'Q');
        ASSERT_TRUE(waitUntil([&] { return memoText().contains("Q"); }, 10000))
            << memoText().toStdString();
        EXPECT_TRUE(memoText().contains("two")) << memoText().toStdString();
    });
}

TEST_F(WebEditor, PagesShowTheSitesPicturesButCannotReadOtherFiles) {
    QImage picture(8, 6, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(state.sitePath + "/mf/img/pic.png"));
    // Outside the site: a secret, and a picture a link in the site leads to.
    test::writeFile(root.root() + "secret.txt", "password");
    ASSERT_TRUE(picture.save(root.root() + "outside.png"));
    ASSERT_TRUE(QFile::link(root.root() + "outside.png", state.sitePath + "/mf/img/link.png"));
    const QString secret = QUrl::fromLocalFile(root.root() + "secret.txt").toString();
    // The site's folder stands for the web root: a link from the root finds its picture too.
    test::writeFile(page(2), ("<img id=\"pic\" src=\"mf/img/pic.png\">"
                              "<img id=\"root\" src=\"/mf/img/pic.png\">"
                              "<img id=\"link\" src=\"mf/img/link.png\"><script>"
                              "function get(u) { try { var x = new XMLHttpRequest();"
                              " x.open('GET', u, false); x.send(); return x.responseText; }"
                              " catch (e) { return 'refused'; } }"
                              "document.title = get('" +
                              secret +
                              "') + ' ' + get('../secret.txt');"
                              "</script>")
                                 .toUtf8());
    createWeb();
    // Widths once both pictures are done: the site's own shows, the linked one does not.
    const QString widths =
        "var p = document.getElementById('pic'), r = document.getElementById('root'), l = "
        "document.getElementById('link'); p.complete && r.complete && l.complete ? "
        "p.naturalWidth + ' ' + r.naturalWidth + ' ' + l.naturalWidth : 'loading'";
    openPage(2, [&] {
        QWebEnginePage* shown = browser->view()->page();
        ASSERT_TRUE(waitUntil([&] { return shown->title().contains(' '); }));
        EXPECT_EQ(shown->title(), "refused refused");
        EXPECT_TRUE(waitUntil([&] { return eval(shown, widths) == "8 8 0"; }))
            << eval(shown, widths)->toStdString();
        ASSERT_TRUE(waitUntil([&] { return !web->isBusy(); }, 15000));
        QWebEnginePage* visual = web->view()->page();
        EXPECT_TRUE(waitUntil([&] {
            return eval(visual, widths, QWebEngineScript::ApplicationWorld) == "8 8 0";
        })) << eval(visual, widths, QWebEngineScript::ApplicationWorld)->toStdString();
    });
}
