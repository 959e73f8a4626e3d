#include "site/OpenSiteState.h"

#include "platform/Errors.h"

namespace zor {

QString& TextTable::operator[](int n) {
    if (n < 1 || n > capacity()) {
        throw ZorError(QStringLiteral("Номер %1 вне таблицы из %2 записей").arg(n).arg(capacity()));
    }
    return entries_[static_cast<size_t>(n - 1)];
}

const QString& TextTable::operator[](int n) const {
    return const_cast<TextTable&>(*this)[n];
}

void TextTable::clear() {
    for (QString& s : entries_) {
        s.clear();
    }
}

}  // namespace zor
