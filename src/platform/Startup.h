#pragma once

#include <QString>

// What the window program and the command-line tool set up alike before anything else, so that
// both find the same settings database and speak the same language.
namespace zor::startup {

// The application and organisation names: they place the settings database.
void setProgramNames();
// The toolkit's own texts (file errors, buttons, command-line messages) in Russian. Needs the
// application object, which then owns the translator.
void installRussianToolkitTexts();

// The folder named by ZOROD_HOME, else ~/ZOR-OD: the program's data folder when its own folder
// is not the user's.
inline constexpr const char* HomeVariable = "ZOROD_HOME";
inline constexpr const char* HomeFolderName = "ZOR-OD";

// The program's data folder, absolute and without a trailing separator: the folder of the
// executable when the user may write there (a copy installed into the user's own folder), else
// ZOROD_HOME or ~/ZOR-OD, which is made when missing. A build for a system-wide install
// (`systemWide`) never keeps data beside its executable: even where root may write, that folder
// belongs to the package. Throws FileError when the folder cannot be made.
QString programDataFolder(const QString& executableFolder, bool systemWide);
// The same for the running program, as it was built.
QString programDataFolder();

}  // namespace zor::startup
