#pragma once

#include <QStringList>

// zorod-publish: the site commands of the main window, run from a terminal through the same
// core library, one command per call.
namespace zor::tool {

// Runs the command line (the program's own name first) and returns the exit status: 0 done,
// 1 failed (the window's text on standard error), 2 a usage error, 128 + the signal when
// interrupted.
int run(const QStringList& arguments);

}  // namespace zor::tool
