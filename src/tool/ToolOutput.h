#pragma once

#include <QString>
#include <chrono>

#include "publish/ProgressText.h"
#include "publish/PublishSession.h"

// What zorod-publish prints: progress on standard error, the summary on standard output.
namespace zor::tool {

// Both replace control characters in `text` (but line breaks and tabs) first: server replies,
// file names and page titles must not move the cursor, clear the screen or retitle the window.
void writeOut(const QString& text);
void writeErr(const QString& text);
// Whether any write to standard output failed (a full disk, a closed pipe): the summary may be
// lost, so the command cannot count as done.
bool outputFailed();
// `text` with every control character but line breaks and tabs replaced by U+FFFD.
QString printable(const QString& text);

// "512 B", "18.2 KiB", "3.0 MiB": the summary's sizes.
QString binarySize(qint64 bytes);
// "0.4 s".
QString secondsText(std::chrono::milliseconds elapsed);

// The progress of a running command on standard error: on a terminal one line redrawn in place
// (file k of n, a bar, the bytes of the file and its name), otherwise one line a file sent or
// fetched, for a log. Digesting shows on a terminal only: a log wants no line per file read.
class ProgressReporter {
public:
    explicit ProgressReporter(bool terminal);
    ~ProgressReporter();
    ProgressReporter(const ProgressReporter&) = delete;
    ProgressReporter& operator=(const ProgressReporter&) = delete;

    publish::ProgressFn progressFn();
    // The client's count of the bytes the running transfer has moved.
    void moved(qint64 bytes);
    // Called by the client's pump: redraws the terminal line when it is due.
    void pump();
    // Takes the terminal line away, so that what follows starts on a clean line.
    void finish();

    // Bytes moved by every transfer so far.
    qint64 bytesMoved() const { return earlier_ + item_.done; }
    // The n of the last item fetched ("Скачивание файлов: k из n"), 0 before any.
    int receivingCount() const { return receiving_; }

private:
    void draw();

    bool terminal_;
    bool drawn_ = false;
    publish::ProgressItem item_;
    int receiving_ = 0;
    qint64 earlier_ = 0;  // bytes of the transfers before this item
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace zor::tool
