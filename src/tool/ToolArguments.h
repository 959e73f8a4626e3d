#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "publish/FtpEncryption.h"
#include "publish/Retry.h"

// The command line of zorod-publish: one command, the site folder, and the command's options.
namespace zor::tool {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
// The upload went through, but the published site did not pass its check.
inline constexpr int ExitCheckFailed = 3;

struct ToolRequest {
    QString command;                      // compile, sitemap, status, upload, sync, ls, account
    QString site;                         // the site folder as given
    std::optional<QString> remoteFolder;  // ls: the folder to list instead of the account's
    std::optional<QString> address;       // sitemap; upload: the address to check
    std::optional<QString> host, user, folder;
    std::optional<int> port;
    std::optional<QString> protocol;  // "ftp" or "sftp"
    std::optional<publish::FtpEncryption> encryption;
    std::optional<QString> trustFingerprint;
    bool all = false;
    bool dryRun = false;
    bool replaceChanged = false;  // sync: replace pages changed since the last upload too
    bool noCheck = false;         // upload: the published site is not asked for its pages
    bool noArchive = false;       // upload: every file by itself, never one archive
    bool deleteRemoved = false;   // upload: files the site no longer has go from the server
    int retries = publish::DefaultRetries;  // upload, sync: of a file whose transfer failed
    bool json = false;
};

// A request to run, or what to print instead (help, version, a usage error) and the exit status.
struct ParsedArguments {
    std::optional<ToolRequest> request;
    int exitCode = ExitOk;
    QString out;  // for standard output
    QString err;  // for standard error
};

// `arguments` as the program got them, its own name first.
ParsedArguments parseArguments(const QStringList& arguments);

}  // namespace zor::tool
