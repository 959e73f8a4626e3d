#include "publish/FileChangeCache.h"

#include "platform/SettingsStore.h"

namespace zor::publish {
namespace {

QString filesKey(const QString& siteName) {
    return siteKeyPath(siteName, QStringLiteral("files"));
}

}  // namespace

FileChangeCache::FileChangeCache(SettingsStore& store, const QString& siteName)
    : store_(store), key_(filesKey(siteName)) {
    store_.createKey(key_);
    recorded_ = store_.values(key_);
}

std::optional<QString> FileChangeCache::recorded(const QString& name) {
    const auto it = recorded_.constFind(name);
    if (it == recorded_.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

void FileChangeCache::record(const QString& name, const QString& digest) {
    store_.writeString(key_, name, digest);
    recorded_.insert(name, digest);
}

void FileChangeCache::drop(const QString& name) {
    store_.deleteValue(key_, name);
    recorded_.remove(name);
}

void FileChangeCache::forget(SettingsStore& store, const QString& siteName) {
    store.deleteKey(filesKey(siteName));
}

}  // namespace zor::publish
