#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <ostream>

#include "site/OpenSiteState.h"

// Readable failure messages for texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace zor::test {

// A temporary SitesRoot, with a settings database of its own beside it.
class TempRoot {
public:
    TempRoot();
    // The folder, with a trailing separator, as SitesRoot is kept.
    QString root() const { return dir_.path() + u'/'; }
    QString sitePath(const QString& name) const { return dir_.path() + u'/' + name; }
    QString settingsPath() const { return settingsDir_.path() + QStringLiteral("/settings.db"); }
    // A site made by the program's own new-site operation.
    QString makeSite(const QString& name) const;
    // A new site, opened as the main window opens one: its title index read.
    OpenSiteState openNewSite(const QString& name) const;

private:
    QTemporaryDir dir_;
    QTemporaryDir settingsDir_;
};

// While it lives, no file of this process may grow past limit bytes: the write that would fails
// as on a full disk (EFBIG), even for root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(long long limit);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    long long savedCurrent_;
    void (*savedHandler_)(int);
};

// A tmpfs of a few hundred kilobytes mounted on a temporary folder, for saves onto a full or a
// read-only disk. Mounting needs root; where it cannot be had, mounted() is false and why()
// says why.
class SmallFileSystem {
public:
    explicit SmallFileSystem(long long bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    const QString& why() const { return why_; }
    QString path() const { return dir_.path(); }
    // Takes every free byte into a file of its own; empty() gives them back.
    void fill();
    void empty();
    // Remounts the file system read-only: nobody, root included, can write there then.
    bool makeReadOnly();

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString why_;
};

// For the child of a death test: runs `action`, with an alarm that ends it should it block, and
// exits with FileErrorThrown when it throws a FileError whose text `judge` accepts (any, without
// one), with WrongFileError when the text is wrong and with NothingThrown when all goes well.
enum ChildExit { FileErrorThrown = 0, WrongFileError = 3, NothingThrown = 4 };
[[noreturn]] void exitAfter(const std::function<void()>& action,
                            const std::function<bool(const QString&)>& judge = {});

QByteArray readFile(const QString& path);
// Every byte value in order, `repeats` times: nothing may be translated on its way.
QByteArray everyByte(int repeats = 1);
void writeFile(const QString& path, const QByteArray& bytes);
// The text in Windows-1251; every character must have its byte there.
QByteArray cp1251(QStringView text);
// Lines with CR LF after each, in Windows-1251.
QByteArray crlf(const QStringList& lines);

}  // namespace zor::test
