#pragma once

#include <QString>
#include <exception>
#include <string>

namespace zor {

// Every failure a user can meet is thrown as one of these, carrying the text the user reads.
// The command guard of the windows catches them once and shows text() in a message box.
class ZorError : public std::exception {
public:
    explicit ZorError(QString text) : text_(std::move(text)), utf8_(text_.toStdString()) {}
    const QString& text() const noexcept { return text_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString text_;
    std::string utf8_;
};

// The user stopped a long command (Cancel, Esc, Ctrl+C): thrown by its pump, it ends the
// command where it stands; a window says nothing more of it.
class Cancelled : public ZorError {
public:
    Cancelled() : ZorError(QStringLiteral("Передача прервана пользователем.")) {}
};

// A command that refuses to start (something it needs is missing): the window shows it as a
// message, not as an error.
class CommandRefused : public ZorError {
public:
    using ZorError::ZorError;
};

// A file or folder of the site could not be read, written, created or removed.
class FileError : public ZorError {
public:
    using ZorError::ZorError;
};

// The settings database could not be opened, read or written.
class SettingsError : public ZorError {
public:
    using ZorError::ZorError;
};

// The reason for a failed system call as the user reads it: the common ones in Russian, the
// rest in the system's own words.
QString systemErrorText(int errorNumber);
// "<what> «<path>»: <reason>", the shape of every file error the user reads.
QString fileErrorText(const QString& what, const QString& path, const QString& reason);
// A count of bytes with the word in its case: "1 байт", "44 байта", "5 байт", "21 байт".
QString byteCountText(qint64 bytes);

}  // namespace zor
