#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The fuzz targets check what each parser promises, not only that it survives: a broken
// promise aborts, so libFuzzer keeps the input that shows it.
#define FUZZ_CHECK(cond)                                                            \
    do {                                                                            \
        if (!(cond)) {                                                              \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                           \
        }                                                                           \
    } while (0)

namespace zor::fuzz {

inline QByteArrayView bytesOf(const uint8_t* data, size_t size) {
    return QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// Any bytes as UTF-16 code units, lone surrogates included: what a QString can hold.
inline QString utf16Of(const uint8_t* data, size_t size) {
    return QString(reinterpret_cast<const QChar*>(data), static_cast<qsizetype>(size / 2));
}

}  // namespace zor::fuzz
