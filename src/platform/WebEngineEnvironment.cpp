#include "platform/WebEngineEnvironment.h"

#include <unistd.h>
#include <QCoreApplication>
#include <QWebEngineProfile>
#include <QtGlobal>

#include "platform/SharedFolders.h"

namespace zor {

void prepareWebEngineEnvironment() {
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS")) {
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                "--disable-gpu --disable-background-networking --disable-component-update "
                "--disable-sync --disable-quic --no-first-run");
    }
    // Web views share one OpenGL context with the widgets; must be set before the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    registerSharedFolderScheme();
}

QWebEngineProfile* webProfile() {
    static QWebEngineProfile* profile = [] {
        auto* p = new QWebEngineProfile(QCoreApplication::instance());
        serveSharedFolders(p);
        return p;
    }();
    return profile;
}

}  // namespace zor
