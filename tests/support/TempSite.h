#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
// The text in Windows-1251; every character must have its byte there.
QByteArray cp1251(QStringView text);
// Lines with CR LF after each, in Windows-1251.
QByteArray crlf(const QStringList& lines);

}  // namespace zor::test
