#include <QApplication>

#include "platform/WebEngineEnvironment.h"

int main(int argc, char** argv) {
    zor::prepareWebEngineEnvironment();
    QApplication app(argc, argv);
    return 0;
}
