// Loads a 100 KB page into the editor window (offscreen) and replays key strokes into the
// source view, timing each from the key's press to the moment the event queue is empty again:
// the handlers, the preview file writes, the pushes to the visual editor and the repaint.
// Prints the median and the 95th percentile.
//
//   editor_typing_bench [keys = 200] [ms between keys = 60] [--stand-ins]
//
// With --stand-ins the visual editor and the preview are empty stand-ins instead of web views,
// which leaves the cost of the source view and the files alone.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "editor/EditorDocument.h"
#include "editor/EditorHost.h"
#include "editor/TForm2.h"
#include "platform/HtmlEditingControl.h"
#include "platform/RichTextMemo.h"
#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "platform/WebEngineEnvironment.h"
#include "site/SiteCatalogue.h"
#include "site/SiteWorkspace.h"

namespace {

using namespace zor;

struct Host : editor::EditorHost {
    explicit Host(OpenSiteState& s) : state(s) {}
    int pageListSelection() const override { return 0; }
    void setPageListEntry(int index, const QString& text) override { state.pageList[index] = text; }
    int blockListSelection() const override { return -1; }
    void setBlockListEntry(int, const QString&) override {}
    OpenSiteState& state;
};

class NullEditor : public HtmlEditingControl {
public:
    QWidget* widget() override { return &widget_; }
    QString documentHtml() const override { return {}; }
    void setDocumentHtml(const QString&) override {}
    bool isBusy() const override { return false; }
    bool isEdited() const override { return false; }
    void setBaseUrl(const QUrl&) override {}

private:
    QWidget widget_;
};

class NullPreview : public PreviewControl {
public:
    QWidget* widget() override { return &widget_; }
    void navigate(const QString&) override {}

private:
    QWidget widget_;
};

// About 100 KB of the kind of HTML pages hold: tags, Cyrillic text, some PHP.
QString bigPage() {
    QStringList lines;
    for (int i = 0; lines.join("\r\n").size() < 100 * 1024; ++i) {
        lines.append(QStringLiteral("<p align=\"left\">Строка %1: <b>жирный</b> и <i>курсив</i>, "
                                    "<a href=\"index.php?in=%1\">ссылка</a></p><br />")
                         .arg(i));
        if (i % 50 == 0) {
            lines.append(QStringLiteral("<?php if ($n > %1) { echo 'x'; } ?>").arg(i));
        }
    }
    return lines.join("\r\n") + "\r\n";
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void drain() {
    while (QCoreApplication::eventDispatcher()->processEvents(QEventLoop::AllEvents)) {
    }
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[i];
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    prepareWebEngineEnvironment();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool standIns = args.contains("--stand-ins");
    QStringList numbers = args.mid(1);
    numbers.removeAll("--stand-ins");
    const int keys = numbers.value(0, "200").toInt();
    const int gap = numbers.value(1, "60").toInt();

    QTemporaryDir root;
    site::createSite(root.path() + '/', "bench");
    OpenSiteState state;
    state.sitePath = root.filePath("bench");
    state.siteName = "bench";
    state.pageList = {"1 - Главная", "..."};
    const QString page = bigPage();
    textfile::writeText(site::pageFilePath(state.sitePath, 1), page);
    SettingsStore settings(root.filePath("settings.db"));
    Host host(state);
    const editor::EditorControls controls =
        standIns ? editor::EditorControls{new NullEditor, new NullPreview}
                 : editor::webEngineControls();
    editor::TForm2 form(state, settings, host, controls);

    std::vector<double> times;
    QTimer::singleShot(0, &form, [&] {
        // Let the web views load and take the page before typing starts.
        QElapsedTimer ready;
        ready.start();
        while (form.DHTMLEdit1->isBusy() && ready.elapsed() < 20000) {
            runFor(20);
        }
        runFor(500);
        RichTextMemo* memo = form.Memo1;
        memo->setFocus();
        memo->setCaretPosition(memo->length() / 2);
        const QString typed = "<b>Привет</b>, мир. ";
        for (int i = 0; i < keys; ++i) {
            QElapsedTimer t;
            t.start();
            if (i % 40 == 39) {
                QTest::keyClick(memo, Qt::Key_Return);
            } else if (i % 25 == 24) {
                QTest::keyClick(memo, Qt::Key_Backspace);
            } else {
                const QChar c = typed[i % typed.size()];
                QTest::sendKeyEvent(QTest::Click, memo,
                                    c == u'.' ? Qt::Key_Period : Qt::Key_unknown, QString(c),
                                    Qt::NoModifier);
            }
            drain();
            times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
            runFor(gap);
        }
        const bool previewMatches = textfile::readBytes(site::previewFilePath(state.sitePath)) ==
                                    textfile::toCp1251(editor::fileText(memo->text()));
        std::printf("page %lld characters, %d keys, %d ms apart, %s\n",
                    static_cast<long long>(page.size()), keys, gap,
                    standIns ? "stand-ins for the web views" : "web views");
        std::printf("per key, event to idle: median %.2f ms, p95 %.2f ms, max %.2f ms\n",
                    percentile(times, 0.5), percentile(times, 0.95),
                    *std::max_element(times.begin(), times.end()));
        std::printf("preview file holds the final text: %s\n", previewMatches ? "yes" : "NO");
        form.hide();
    });
    form.setWindowTitle(editor::EditorCaption + editor::pageCaptionSuffix(1));
    form.Memo1->setText(page);
    form.exec();
    return 0;
}
