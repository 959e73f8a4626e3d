#pragma once

// What the window program and the command-line tool set up alike before anything else, so that
// both find the same settings database and speak the same language.
namespace zor::startup {

// The application and organisation names: they place the settings database.
void setProgramNames();
// The toolkit's own texts (file errors, buttons, command-line messages) in Russian. Needs the
// application object, which then owns the translator.
void installRussianToolkitTexts();

}  // namespace zor::startup
