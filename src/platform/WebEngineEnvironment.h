#pragma once

namespace zor {

// Everything the embedded browser needs before the application object exists: software
// rendering, no GPU, no background network, and Chromium's sandbox off when running as root
// (the sandbox refuses to start under root and the process would exit at once). The program and
// the tests both call this, so there is one place to look when the web views misbehave.
void prepareWebEngineEnvironment();

}  // namespace zor
