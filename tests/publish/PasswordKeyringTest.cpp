#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QFile>
#include <functional>
#include <memory>

#include "platform/Keyring.h"
#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "publish/AccountSettings.h"
#include "support/SecretService.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::test;
using namespace std::chrono_literals;

namespace {

const QString FtpKey = "software\\ZOR-OD\\alpha\\ftp";
const QString Password = "пароль-42";
const FtpAccount Account{"ftp.example.org:2121", "anna", Password, "/www"};

// What secret-tool finds under the program's schema: how many entries, and the "name = value"
// lines of them all.
struct Found {
    int entries = 0;
    QMap<QString, QString> fields;
};

Found entries(const TestKeyring& keyring) {
    const QString out = QString::fromUtf8(
        keyring.secretTool({"search", "--all", "--unlock", "xdg:schema", KeyringSchema}));
    Found found;
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u'[')) {
            ++found.entries;
        } else if (line.contains(QStringLiteral(" = "))) {
            found.fields.insert(line.section(QStringLiteral(" = "), 0, 0),
                                line.section(QStringLiteral(" = "), 1));
        }
    }
    return found;
}

// The settings database's files as they lie on disk.
QByteArray settingsBytes(const QString& path) {
    QByteArray bytes;
    for (const QString& file : {path, path + QStringLiteral("-wal")}) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly)) {
            bytes += f.readAll();
        }
    }
    return bytes;
}

bool holdsPassword(const QByteArray& bytes, const QString& password) {
    return bytes.contains(password.toUtf8()) ||
           bytes.contains(publish::scramblePassword(password).toUtf8()) ||
           bytes.contains(textfile::toCp1251(password));
}

struct KeyringCase {
    const char* name;
    // What was there before, then what the user does.
    std::function<void(SettingsStore&, Keyring&)> before, act;
    bool kept;  // the keyring then holds the account's password
};

void storeInKeyring(SettingsStore& s, Keyring& k) {
    publish::storeFtpAccount(s, k, "alpha", Account);
}
void storeInSettings(SettingsStore& s, Keyring&) {
    publish::storeFtpAccount(s, "alpha", Account);
}
void open(SettingsStore& s, Keyring& k) {
    publish::rememberedAccount(s, k, "alpha");
}

const KeyringCase KeyringCases[] = {
    {"StoreWhenRemembered", nullptr, storeInKeyring, true},
    // Another server for the site: the old entry goes, the new one is the only one.
    {"StoreOverAnotherAccount",
     [](SettingsStore& s, Keyring& k) {
         publish::storeFtpAccount(s, k, "alpha", {"old.example.org", "boris", "старый", "/"});
     },
     storeInKeyring, true},
    {"MigrateWhenOpened", storeInSettings, open, true},
    {"ForgetWhenUnticked", storeInKeyring,
     [](SettingsStore& s, Keyring& k) { publish::forgetFtpAccount(s, k, "alpha"); }, false},
};

void PrintTo(const KeyringCase& c, std::ostream* os) {
    *os << c.name;
}

class PasswordInKeyring : public ::testing::TestWithParam<KeyringCase> {
protected:
    TempRoot root;
    TestKeyring keyring;
};

}  // namespace

TEST_P(PasswordInKeyring, GoesIntoTheKeyringAndNeverIntoTheSettingsFile) {
    const KeyringCase& c = GetParam();
    SettingsStore settings(root.settingsPath());
    SecretServiceKeyring service;
    if (c.before) {
        c.before(settings, service);
    }
    c.act(settings, service);

    // Found under the program's schema, which secret-tool does not print.
    const Found found = entries(keyring);
    if (c.kept) {
        ASSERT_EQ(found.entries, 1);
        const QMap<QString, QString> expected{{"label", "ZOR OD: anna@ftp.example.org"},
                                              {"secret", Password},
                                              {"attribute.site", "alpha"},
                                              {"attribute.protocol", "ftp"},
                                              {"attribute.host", "ftp.example.org"},
                                              {"attribute.port", "2121"},
                                              {"attribute.user", "anna"}};
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            EXPECT_EQ(found.fields.value(it.key()).toStdString(), it.value().toStdString())
                << it.key().toStdString();
        }
    } else {
        EXPECT_EQ(found.entries, 0);
    }
    EXPECT_EQ(settings.readValue(FtpKey, "pass"), std::nullopt);
    EXPECT_EQ(settings.readValue(FtpKey, "kydkach"), QString("/www"));
    EXPECT_FALSE(holdsPassword(settingsBytes(root.settingsPath()), Password));

    // Opened again, by another run of the program.
    SecretServiceKeyring again;
    const FtpAccount opened = publish::rememberedAccount(settings, again, "alpha");
    EXPECT_EQ(opened.password, c.kept ? Password : QString());
    EXPECT_EQ(opened.host, c.kept ? Account.host : QString());
}

INSTANTIATE_TEST_SUITE_P(Keyring, PasswordInKeyring, ::testing::ValuesIn(KeyringCases),
                         [](const auto& info) { return std::string(info.param.name); });

// No session bus at all, and a bus on which no Secret Service runs: the settings keep the
// password, as they always did.
TEST(PasswordWithoutKeyring, StaysInTheSettingsWhereNoSecretServiceIs) {
    for (const auto offer : {TestKeyring::Offer::NoBus, TestKeyring::Offer::BusOnly}) {
        SCOPED_TRACE(static_cast<int>(offer));
        TestKeyring session(offer);
        TempRoot root;
        SettingsStore settings(root.settingsPath());
        SecretServiceKeyring none;
        EXPECT_FALSE(none.present());
        EXPECT_FALSE(publish::storeFtpAccount(settings, none, "alpha", Account));
        const auto pass = settings.readValue(FtpKey, "pass");
        ASSERT_TRUE(pass.has_value());
        EXPECT_EQ(publish::unscramblePassword(*pass), Password);
        EXPECT_EQ(publish::rememberedAccount(settings, none, "alpha").password, Password);
        EXPECT_EQ(settings.readValue(FtpKey, "pass"), pass);
    }
}

// No prompt can show on the tests' bus, so unlocking is refused as a user refuses it.
TEST(PasswordInLockedKeyring, ARefusedUnlockGivesNoPasswordAndWritesNothing) {
    TempRoot root;
    TestKeyring keyring;
    SettingsStore settings(root.settingsPath());
    {
        SecretServiceKeyring service;
        publish::storeFtpAccount(settings, service, "alpha", Account);
    }
    keyring.lock();
    SecretServiceKeyring locked;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(publish::rememberedAccount(settings, locked, "alpha").password, QString());
    EXPECT_LT(clock.elapsed(), SecretServiceKeyring::DefaultCallTimeout.count());

    // A new password is not taken either, and does not go into the settings instead.
    const FtpAccount changed{Account.host, Account.userName, "новый", Account.remoteFolder};
    try {
        publish::storeFtpAccount(settings, locked, "alpha", changed);
        ADD_FAILURE() << "stored into a locked keyring";
    } catch (const ZorError& e) {
        EXPECT_TRUE(e.text().contains("заблокированной")) << e.text().toStdString();
    }
    EXPECT_EQ(settings.readValue(FtpKey, "pass"), std::nullopt);
    EXPECT_FALSE(holdsPassword(settingsBytes(root.settingsPath()), "новый"));
}

// A keyring daemon that has stopped answering: every call gives up in time, and the waiting
// thread keeps running its pump meanwhile.
TEST(PasswordInSilentKeyring, IsGivenUpWithinTheTimeOutWhileThePumpRuns) {
    TempRoot root;
    TestKeyring keyring;
    SettingsStore settings(root.settingsPath());
    publish::storeFtpAccount(settings, "alpha", Account);
    keyring.freeze();
    SecretServiceKeyring silent;
    silent.callTimeout = 1s;
    int pumped = 0;
    silent.pump = [&pumped] { ++pumped; };
    QElapsedTimer clock;
    clock.start();
    // The password stays where it was: the keyring never confirmed taking it.
    EXPECT_EQ(publish::rememberedAccount(settings, silent, "alpha").password, Password);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_GT(pumped, 5);
    EXPECT_TRUE(settings.readValue(FtpKey, "pass").has_value());
    keyring.thaw();
}
