#include <gtest/gtest.h>
#include <QCoreApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // No test reaches the session bus of whoever runs it, and so never the user's own keyring:
    // a test that needs one starts a bus and a keyring of its own (support/SecretService.h).
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zorod-tests-have-no-bus");
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
