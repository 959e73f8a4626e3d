#include "tool/ToolOutput.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <cstdio>

#include "publish/ProgressText.h"

namespace zor::tool {
namespace {

// Often enough to look alive, rarely enough that drawing costs nothing beside the work.
constexpr std::chrono::milliseconds DrawInterval{100};
constexpr int BarWidth = 20;

bool outFailed = false;

// Writes as it is: only the progress line's own escapes come here unfiltered.
void writeRaw(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const bool written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()),
                                     stream) == static_cast<size_t>(bytes.size()) &&
                         std::fflush(stream) == 0;
    if (!written && stream == stdout) {
        outFailed = true;
    }
}

int terminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

}  // namespace

QString printable(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n' && u != u'\t') || (u >= 0x7F && u <= 0x9F)) {
            c = QChar(0xFFFD);
        }
    }
    return out;
}

void writeOut(const QString& text) {
    writeRaw(stdout, printable(text));
}

void writeErr(const QString& text) {
    writeRaw(stderr, printable(text));
}

bool outputFailed() {
    return outFailed;
}

QString binarySize(qint64 bytes) {
    if (bytes < 1024) {
        return QStringLiteral("%1 B").arg(bytes);
    }
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(QString::number(value, 'f', 1), QLatin1String(units[unit]));
}

QString secondsText(std::chrono::milliseconds elapsed) {
    return QString::number(static_cast<double>(elapsed.count()) / 1000.0, 'f', 1) +
           QStringLiteral(" s");
}

ProgressReporter::ProgressReporter(bool terminal) : terminal_(terminal) {}

ProgressReporter::~ProgressReporter() {
    finish();
}

publish::ProgressFn ProgressReporter::progressFn() {
    return [this](publish::Stage stage, int k, int n, const QString& name, qint64 size) {
        earlier_ += item_.done;
        item_.set(stage, k, n, name, size);
        if (stage == publish::Stage::Receiving) {
            receiving_ = n;
        }
        if (terminal_) {
            pump();
        } else if (stage != publish::Stage::Checking && stage != publish::Stage::Packing) {
            QString line = item_.stageText() + u' ' + name;
            if (size >= 0) {
                line += QStringLiteral(" (%1)").arg(publish::sizeText(size));
            }
            writeErr(line + u'\n');
        }
    };
}

void ProgressReporter::moved(qint64 bytes) {
    item_.done = bytes;
}

void ProgressReporter::pump() {
    const auto now = std::chrono::steady_clock::now();
    if (!terminal_ || !item_.reported || now - lastDraw_ < DrawInterval) {
        return;
    }
    lastDraw_ = now;
    draw();
}

void ProgressReporter::draw() {
    // Overall: the files done, and the part of the running one that has gone.
    const publish::ProgressItem& i = item_;
    // Digesting and asking for pages move no bytes worth showing.
    const bool checking =
        i.stage == publish::Stage::Checking || i.stage == publish::Stage::Verifying ||
        i.stage == publish::Stage::Deleting || i.stage == publish::Stage::Retrying ||
        i.stage == publish::Stage::Packing || i.stage == publish::Stage::Unpacking ||
        i.stage == publish::Stage::Confirming;
    double fraction = i.n > 0 ? static_cast<double>(checking ? i.k : i.k - 1) / i.n : 0.0;
    if (!checking && i.size > 0 && i.n > 0) {
        fraction += std::min(1.0, static_cast<double>(i.done) / static_cast<double>(i.size)) / i.n;
    }
    const int filled = static_cast<int>(fraction * BarWidth);
    QString line = i.stageText() + QStringLiteral(" [") + QString(filled, u'#') +
                   QString(BarWidth - filled, u'.') + QStringLiteral("]");
    if (!checking) {
        line += u' ' + i.bytesText();
    }
    // The name gives way from its start, so the line never wraps.
    const qsizetype room = terminalColumns() - 1 - line.size() - 2;
    const QString name = printable(i.name);
    if (room > 1) {
        line +=
            QStringLiteral("  ") + (name.size() <= room ? name : u'\u2026' + name.right(room - 1));
    }
    writeRaw(stderr, u'\r' + line + QStringLiteral("\x1b[K"));
    drawn_ = true;
}

void ProgressReporter::finish() {
    if (drawn_) {
        writeRaw(stderr, QStringLiteral("\r\x1b[K"));
        drawn_ = false;
    }
}

}  // namespace zor::tool
