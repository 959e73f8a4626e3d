#include "support/SecretService.h"

#include <signal.h>
#include <sys/prctl.h>
#include <QDir>
#include <QFile>
#include <chrono>
#include <stdexcept>

#include "platform/Keyring.h"
#include "support/Loopback.h"

namespace zor::test {
namespace {

constexpr auto StartLimit = std::chrono::seconds(15);

[[noreturn]] void fail(const QString& what, QProcess& process) {
    throw std::runtime_error(
        (what + u'\n' + QString::fromUtf8(process.readAllStandardError())).toStdString());
}

// What the session's bus allows: everything, as a session bus does; and no folder of services
// to start on demand.
const char* const BusConfig = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// A daemon of the tests ends with the test process, even one that crashed.
void endWithTheTests(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

}  // namespace

TestKeyring::TestKeyring(Offer offer)
    : formerAddress_(qgetenv("DBUS_SESSION_BUS_ADDRESS")),
      hadAddress_(qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")) {
    if (!dir_.isValid()) {
        throw std::runtime_error("no temporary folder for the test keyring");
    }
    for (const char* sub : {"home/.local/share", "home/.config", "run"}) {
        QDir().mkpath(dir_.filePath(QLatin1String(sub)));
    }
    QFile::setPermissions(dir_.filePath("run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(dir_.filePath("bus.conf"));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(QString::fromLatin1(BusConfig).arg(dir_.filePath("bus")).toUtf8()) <= 0) {
        throw std::runtime_error("cannot write the test bus's configuration");
    }
    config.close();
    if (offer == Offer::NoBus) {
        address_ = QStringLiteral("unix:path=") + dir_.filePath("no-bus");
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
        return;
    }

    endWithTheTests(bus_);
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                QStringLiteral("--print-address")});
    if (!bus_.waitForStarted() || !bus_.waitForReadyRead(15000)) {
        fail(QStringLiteral("the test session bus did not start"), bus_);
    }
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    if (offer == Offer::BusOnly) {
        return;
    }

    keyring_.setProcessEnvironment(environment());
    endWithTheTests(keyring_);
    keyring_.start(QStringLiteral("gnome-keyring-daemon"),
                   {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                    QStringLiteral("--components=secrets")});
    if (!keyring_.waitForStarted()) {
        fail(QStringLiteral("gnome-keyring-daemon did not start"), keyring_);
    }
    keyring_.write(Password);
    keyring_.closeWriteChannel();
    // Ready once it has taken the service's name on the bus.
    const auto deadline = std::chrono::steady_clock::now() + StartLimit;
    while (!SecretServiceKeyring().present()) {
        if (std::chrono::steady_clock::now() > deadline || keyring_.waitForFinished(20)) {
            fail(QStringLiteral("gnome-keyring-daemon did not take the service's name"), keyring_);
        }
    }
}

TestKeyring::~TestKeyring() {
    thaw();
    stopProcess(keyring_);
    stopProcess(bus_);
    if (hadAddress_) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", formerAddress_);
    } else {
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

QProcessEnvironment TestKeyring::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    env.insert(QStringLiteral("HOME"), dir_.filePath("home"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir_.filePath("home/.local/share"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath("home/.config"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.filePath("run"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "GNOME_KEYRING_CONTROL"}) {
        env.remove(QLatin1String(name));
    }
    return env;
}

QByteArray TestKeyring::secretTool(const QStringList& arguments) const {
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral("secret-tool"), arguments);
    if (!p.waitForFinished(15000) || p.exitStatus() != QProcess::NormalExit) {
        stopProcess(p);
        fail(QStringLiteral("secret-tool %1 did not finish").arg(arguments.join(u' ')), p);
    }
    if (p.exitCode() != 0) {
        fail(QStringLiteral("secret-tool %1 failed").arg(arguments.join(u' ')), p);
    }
    return p.readAllStandardOutput() + p.readAllStandardError();
}

void TestKeyring::lock() const {
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral("dbus-send"),
            {QStringLiteral("--session"), QStringLiteral("--print-reply"),
             QStringLiteral("--dest=org.freedesktop.secrets"),
             QStringLiteral("/org/freedesktop/secrets"),
             QStringLiteral("org.freedesktop.Secret.Service.Lock"),
             QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")});
    if (!p.waitForFinished(15000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        stopProcess(p);
        fail(QStringLiteral("the login keyring could not be locked"), p);
    }
}

void TestKeyring::freeze() {
    if (!frozen_ && keyring_.processId() > 0) {
        ::kill(static_cast<pid_t>(keyring_.processId()), SIGSTOP);
        frozen_ = true;
    }
}

void TestKeyring::thaw() {
    if (frozen_) {
        ::kill(static_cast<pid_t>(keyring_.processId()), SIGCONT);
        frozen_ = false;
    }
}

}  // namespace zor::test
