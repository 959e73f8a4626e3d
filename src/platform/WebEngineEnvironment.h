#pragma once

class QWebEngineProfile;

namespace zor {

// Everything the embedded browser needs before the application object exists: software
// rendering, no GPU, no background network, and Chromium's sandbox off when running as root
// (the sandbox refuses to start under root and the process would exit at once). The program and
// the tests both call this, so there is one place to look when the web views misbehave.
void prepareWebEngineEnvironment();

// The profile every web view of the program uses: off the record, so nothing (cache, cookies,
// history) is written under the user's home, and the same for the program and its tests.
// Created on first use, owned by the application object.
QWebEngineProfile* webProfile();

}  // namespace zor
