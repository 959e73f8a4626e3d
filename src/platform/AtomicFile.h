#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>

namespace zor {

// Durable files are synced to the disk before they replace the old one; scratch files (the
// editor's preview, rewritten at every key) are not.
enum class Durability { Durable, Scratch };

// Temporary files of a save start with this and end in six random letters or digits. The name
// has no dot, so one left behind by a crash is never taken for a site file by the upload (which
// sends only names with a dot) nor for a site (it is a file).
inline constexpr char TemporaryFilePrefix[] = "zorod-saving-";

// Makes writing past the process's file-size limit fail with an error instead of ending the
// program. Done by the first save; the program also does it at start, for every other write.
void ignoreFileSizeSignal();

// A file written beside its final place and renamed over it only when complete, so the old
// file stays intact until the new one is whole. Dropped without commit(), it leaves nothing.
class AtomicFile {
public:
    // Starts the temporary file in the target's folder; throws FileError when it cannot.
    explicit AtomicFile(const QString& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void write(const char* data, qsizetype size);
    void write(const QByteArray& bytes) { write(bytes.constData(), bytes.size()); }
    // Replaces the target by what was written.
    void commit(Durability durability = Durability::Durable);

private:
    [[noreturn]] void fail(int err);

    QString path_;
    QByteArray target_;
    QByteArray temp_;
    int fd_ = -1;
};

// Copies a regular file (a link to one is followed) onto target through an AtomicFile. progress
// gets the bytes copied and the total after every block; when it returns false the copy stops,
// nothing changes and false is returned. Throws FileError with the user's text on a failure;
// the target is then as it was.
bool copyFileAtomically(const QString& source, const QString& target,
                        const std::function<bool(qint64 done, qint64 total)>& progress = {});

}  // namespace zor
