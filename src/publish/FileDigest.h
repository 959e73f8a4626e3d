#pragma once

#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

// Change detection digests files with MD5 (RFC 1321) through OpenSSL, fed by large read()
// calls: measured here, that beats both memory mapping and Qt's hash fed from a QIODevice.
namespace zor::publish {

// An MD5 fed piece by piece.
class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    void add(const char* data, qsizetype size);
    // 32 lower-case hexadecimal digits of everything added since the last call (or since
    // construction); starts afresh.
    QString hexDigest();
    void restart();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// Digests whole files, one after another, reusing one buffer and one digest context.
class FileDigester {
public:
    FileDigester();
    FileDigester(const FileDigester&) = delete;
    FileDigester& operator=(const FileDigester&) = delete;

    // The MD5 of the file's whole content as 32 lower-case hexadecimal digits. A file that
    // cannot be opened or read gets the digest of empty input, as an empty file does.
    // `betweenReads` runs after every read of ReadSize bytes (a large file takes a while); it
    // may throw to stop.
    QString digest(const QString& path, const std::function<void()>& betweenReads = {});

    // Few enough system calls that they cost nothing beside the hashing; small enough to stay
    // in the processor's cache.
    static constexpr size_t ReadSize = 1024 * 1024;

private:
    Md5 md5_;
    std::vector<char> buffer_;
};

// The digest of empty input, "d41d8cd98f00b204e9800998ecf8427e".
QString emptyDigest();

}  // namespace zor::publish
