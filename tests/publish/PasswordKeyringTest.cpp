#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QFile>
#include <functional>

#include "platform/Keyring.h"
#include "platform/SettingsStore.h"
#include "publish/AccountSettings.h"
#include "support/SecretService.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::test;

namespace {

const QString FtpKey = "software\\ZOR-OD\\alpha\\ftp";
const QString Password = "пароль-42";
const FtpAccount Account{"ftp.example.org:2121", "anna", Password, "/www"};

// Whether the settings database's files, as they lie on disk, hold the password in any form.
bool fileHolds(const QString& path, const QString& password) {
    QByteArray bytes;
    for (const QString& file : {path, path + QStringLiteral("-wal")}) {
        QFile f(file);
        bytes += f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    return bytes.contains(password.toUtf8()) ||
           bytes.contains(publish::scramblePassword(password).toUtf8());
}

void storeInKeyring(SettingsStore& s, Keyring& k) {
    publish::storeFtpAccount(s, k, "alpha", Account);
}

struct KeyringCase {
    const char* name;
    // What was there before, then what the user does.
    std::function<void(SettingsStore&, Keyring&)> before, act;
    bool kept;  // the keyring then holds the account's password
};

void PrintTo(const KeyringCase& c, std::ostream* os) {
    *os << c.name;
}

const KeyringCase KeyringCases[] = {
    {"StoreWhenRemembered", nullptr, storeInKeyring, true},
    // Another server for the site: the old entry goes, the new one is the only one.
    {"StoreOverAnotherAccount",
     [](SettingsStore& s, Keyring& k) {
         publish::storeFtpAccount(s, k, "alpha", {"old.example.org", "boris", "старый", "/"});
     },
     storeInKeyring, true},
    // Remembered where no keyring was, then opened where one is.
    {"MigrateWhenOpened",
     [](SettingsStore& s, Keyring&) { publish::storeFtpAccount(s, "alpha", Account); },
     [](SettingsStore& s, Keyring& k) { publish::rememberedAccount(s, k, "alpha"); }, true},
    {"ForgetWhenUnticked", storeInKeyring,
     [](SettingsStore& s, Keyring& k) { publish::forgetFtpAccount(s, k, "alpha"); }, false},
};

class PasswordInKeyring : public ::testing::TestWithParam<KeyringCase> {};

}  // namespace

TEST_P(PasswordInKeyring, GoesIntoTheKeyringAndNeverIntoTheSettingsFile) {
    const KeyringCase& c = GetParam();
    TestKeyring keyring;
    TempRoot root;
    SettingsStore settings(root.settingsPath());
    SecretServiceKeyring service;
    if (c.before) {
        c.before(settings, service);
    }
    c.act(settings, service);

    // One entry with these lines, found under the program's schema.
    const QString found = keyring.entries();
    EXPECT_EQ(found.count(QStringLiteral("\n[")) + found.startsWith(u'['), c.kept ? 1 : 0);
    for (const char* line :
         {"label = ZOR OD: anna@ftp.example.org", "secret = пароль-42", "attribute.site = alpha",
          "attribute.protocol = ftp", "attribute.host = ftp.example.org", "attribute.port = 2121",
          "attribute.user = anna"}) {
        EXPECT_EQ(found.contains(QString::fromUtf8(line)), c.kept) << line << found.toStdString();
    }
    EXPECT_EQ(settings.readValue(FtpKey, "pass"), std::nullopt);
    EXPECT_EQ(settings.readValue(FtpKey, "kydkach"), QString("/www"));
    EXPECT_FALSE(fileHolds(root.settingsPath(), Password));

    // Opened again, by another run of the program.
    SecretServiceKeyring again;
    const FtpAccount opened = publish::rememberedAccount(settings, again, "alpha");
    EXPECT_EQ(opened.password, c.kept ? Password : QString());
}

INSTANTIATE_TEST_SUITE_P(Keyring, PasswordInKeyring, ::testing::ValuesIn(KeyringCases),
                         [](const auto& info) { return std::string(info.param.name); });

// No prompt can show on the tests' bus, so unlocking is refused as a user refuses it.
TEST(PasswordInLockedKeyring, ARefusedUnlockGivesNoPasswordAndWritesNothing) {
    TestKeyring keyring;
    TempRoot root;
    SettingsStore settings(root.settingsPath());
    SecretServiceKeyring service;
    publish::storeFtpAccount(settings, service, "alpha", Account);
    keyring.lock();
    SecretServiceKeyring locked;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(publish::rememberedAccount(settings, locked, "alpha").password, QString());
    EXPECT_LT(clock.elapsed(), SecretServiceKeyring::DefaultCallTimeout.count());
    // A new password is refused too, and not put into the settings instead.
    const FtpAccount changed{Account.host, Account.userName, "новый", "/www"};
    EXPECT_THROW(publish::storeFtpAccount(settings, locked, "alpha", changed), ZorError);
    EXPECT_FALSE(fileHolds(root.settingsPath(), "новый"));
}

// A keyring daemon that has stopped answering: the call gives up in time, the waiting thread
// runs its pump meanwhile, and the password stays in the settings it was to leave.
TEST(PasswordInSilentKeyring, IsGivenUpWithinTheTimeOutWhileThePumpRuns) {
    TestKeyring keyring;
    TempRoot root;
    SettingsStore settings(root.settingsPath());
    publish::storeFtpAccount(settings, "alpha", Account);
    keyring.freeze();
    SecretServiceKeyring silent;
    silent.callTimeout = std::chrono::seconds(1);
    int pumped = 0;
    silent.pump = [&pumped] { ++pumped; };
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(publish::rememberedAccount(settings, silent, "alpha").password, Password);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_GT(pumped, 5);
    EXPECT_TRUE(settings.readValue(FtpKey, "pass").has_value());
}
