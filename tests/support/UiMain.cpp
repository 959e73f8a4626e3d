#include <gtest/gtest.h>
#include <QApplication>

#include "platform/WebEngineEnvironment.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    zor::prepareWebEngineEnvironment();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
