#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "platform/AtomicFile.h"

// Site text files are Windows-1251 bytes with CR LF after every line. Everything that writes
// a whole file goes through here, so every rewrite is atomic: the old file stays intact until
// the new one is complete.
namespace zor::textfile {

// Encodes to Windows-1251. A character the code page cannot hold is written as an HTML numeric
// character reference ("&#8364;" style), so nothing typed is lost and browsers still show it.
QByteArray toCp1251(QStringView text);
// Decodes Windows-1251 bytes; every byte maps to one character (0x98, unassigned, to U+0098).
QString fromCp1251(QByteArrayView bytes);
// The first character of the text that Windows-1251 has no byte for (a surrogate pair as one
// character), or nothing when the whole text fits. For values that must reach a server or the
// settings exactly as typed, where a numeric reference would silently change them.
std::optional<QString> firstOutsideCp1251(QStringView text);

// Splits text at CR LF, LF or CR. A last line without a line end still counts; a final line end
// does not make an extra empty line; empty text gives no lines.
QStringList splitLines(QStringView text);
// Joins lines with CR LF after every line, the last one included.
QString joinLines(const QStringList& lines);

// readBytes, readText and readLines take regular files only (never a folder, a pipe or a
// device, which could block or never end) and refuse one larger than maxBytes before reading it.
inline constexpr qint64 MaxReadBytes = 16 * 1024 * 1024;
QByteArray readBytes(const QString& path, qint64 maxBytes = MaxReadBytes);
QString readText(const QString& path, qint64 maxBytes = MaxReadBytes);
QStringList readLines(const QString& path, qint64 maxBytes = MaxReadBytes);

using zor::Durability;

// Replaces the file atomically (a temporary file in the same folder, renamed over the old one).
void writeBytes(const QString& path, const QByteArray& bytes,
                Durability durability = Durability::Durable);
// Writes the text exactly as given (its own line ends, nothing added), encoded.
void writeText(const QString& path, const QString& text,
               Durability durability = Durability::Durable);
// Writes each line followed by CR LF.
void writeLines(const QString& path, const QStringList& lines);

// Makes writing past the process's file-size limit fail with an error instead of ending the
// program. Done by the first write; the program also does it at start, for every other write.
using zor::ignoreFileSizeSignal;
// Removes the temporary files that saves into folder left behind when the program was killed
// in the middle of one. Nothing else is touched.
void removeStaleTemporaries(const QString& folder);

}  // namespace zor::textfile
