#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <optional>

#include "EditorWindowFixture.h"
#include "editor/EditorDocument.h"
#include "platform/HtmlEditingControl.h"
#include "platform/TextFile.h"
#include "platform/WebControls.h"

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
        type(form->Memo1, "<i>new</i>" + trap);
        // The preview follows the rewritten file (its scripts run, as a browser's would).
        ASSERT_TRUE(waitUntil([&] { return browser->view()->page()->title() == "ran"; }));
        EXPECT_EQ(eval(browser->view()->page(), "document.body.innerHTML"), "<i>new</i>" + trap);
        // The visual editor ends up with the last text, and its scripts stay off.
        ASSERT_TRUE(
            waitUntil([&] { return visualBody().value_or("").startsWith("<i>new</i><img"); }));
        EXPECT_NE(web->view()->page()->title(), "ran");
    });
}

TEST_F(WebEditor, WindowGoesAwayQuietlyWithWorkInFlight) {
    createWeb();
    showPage(1, "start");
    ASSERT_TRUE(waitUntil([&] { return !web->isBusy(); }));
    type(form->Memo1, "abc");  // the first key's push is on its way, the rest wait
    ASSERT_TRUE(web->isBusy());
    // The page answers its pending script while it is destroyed: the window, half gone by
    // then, must hear nothing of it.
    int reports = 0;
    QObject::connect(web, &HtmlEditingControl::applied, [&] { ++reports; });
    form.reset();
    EXPECT_EQ(reports, 0);
}
