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

const char* const AddressVariable = "DBUS_SESSION_BUS_ADDRESS";

[[noreturn]] void fail(const QString& what, QProcess& process) {
    throw std::runtime_error(
        (what + u'\n' + QString::fromUtf8(process.readAllStandardError())).toStdString());
}

// A session bus that lets everyone do everything, and has no services to start on demand.
const char* const BusConfig = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:path=%1</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
  </policy>
</busconfig>)";

// Ends with the test process, even one that crashed.
void startDaemon(QProcess& process, const QString& program, const QStringList& arguments) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start(program, arguments);
    if (!process.waitForStarted()) {
        fail(program + QStringLiteral(" did not start"), process);
    }
}

}  // namespace

TestKeyring::TestKeyring(Offer offer)
    : formerAddress_(qgetenv(AddressVariable)),
      hadAddress_(qEnvironmentVariableIsSet(AddressVariable)) {
    QDir().mkpath(dir_.filePath("home/.local/share"));
    QDir().mkdir(dir_.filePath("run"));
    QFile::setPermissions(dir_.filePath("run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (offer == Offer::NoBus) {
        qputenv(AddressVariable, "unix:path=" + QFile::encodeName(dir_.filePath("no-bus")));
        return;
    }
    QFile config(dir_.filePath("bus.conf"));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(QString::fromLatin1(BusConfig).arg(dir_.filePath("bus")).toUtf8()) <= 0) {
        throw std::runtime_error("cannot write the test bus's configuration");
    }
    config.close();
    startDaemon(bus_, QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                 QStringLiteral("--print-address")});
    if (!bus_.waitForReadyRead(15000)) {
        fail(QStringLiteral("the test session bus gave no address"), bus_);
    }
    qputenv(AddressVariable, bus_.readLine().trimmed());
    if (offer == Offer::BusOnly) {
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir_.filePath("home"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.filePath("run"));
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "DISPLAY", "WAYLAND_DISPLAY"}) {
        env.remove(QLatin1String(name));
    }
    keyring_.setProcessEnvironment(env);
    startDaemon(keyring_, QStringLiteral("gnome-keyring-daemon"),
                {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                 QStringLiteral("--components=secrets")});
    keyring_.write("test keyring password");  // --unlock reads it from standard input
    keyring_.closeWriteChannel();
    // Ready once it has taken the service's name on the bus.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
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
        qputenv(AddressVariable, formerAddress_);
    } else {
        qunsetenv(AddressVariable);
    }
}

QByteArray TestKeyring::run(const QString& program, const QStringList& arguments) const {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(15000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        stopProcess(p);
        fail(QStringLiteral("%1 %2 failed").arg(program, arguments.join(u' ')), p);
    }
    // secret-tool writes the attributes to standard error.
    return p.readAllStandardOutput() + p.readAllStandardError();
}

QString TestKeyring::entries(const QStringList& attributes) const {
    return QString::fromUtf8(
        run(QStringLiteral("secret-tool"),
            QStringList{"search", "--all", "--unlock", "xdg:schema", KeyringSchema} + attributes));
}

void TestKeyring::lock() const {
    run(QStringLiteral("dbus-send"),
        {QStringLiteral("--session"), QStringLiteral("--print-reply"),
         QStringLiteral("--dest=org.freedesktop.secrets"),
         QStringLiteral("/org/freedesktop/secrets"),
         QStringLiteral("org.freedesktop.Secret.Service.Lock"),
         QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")});
}

void TestKeyring::freeze() {
    const qint64 pid = keyring_.processId();
    frozen_ = pid > 0 && ::kill(static_cast<pid_t>(pid), SIGSTOP) == 0;
}

void TestKeyring::thaw() {
    if (frozen_) {
        ::kill(static_cast<pid_t>(keyring_.processId()), SIGCONT);
        frozen_ = false;
    }
}

}  // namespace zor::test
