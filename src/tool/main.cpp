#include <QCoreApplication>

#include "platform/Startup.h"
#include "tool/Interrupt.h"
#include "tool/ToolCommands.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The window program's names: the same settings database, the same sites' accounts.
    zor::startup::setProgramNames();
    zor::startup::installRussianToolkitTexts();
    zor::tool::installInterruptHandlers();
    return zor::tool::run(QCoreApplication::arguments());
}
