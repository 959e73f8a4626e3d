#pragma once

#include <QIcon>
#include <QPixmap>

namespace zor::app {

// The program's small pictures, drawn here rather than shipped as files.
enum class Icon { Welcome, Design, Pages, Upload, FileManager, Updates, Developers, Help };

QPixmap drawIcon(Icon icon, int size = 16);

// A picture of the icon theme the editor's toolbar uses, built into the program ("edit-rename").
QIcon themeIcon(const QString& name);

// The program's own icon, for its windows (the SVG also installed beside the program).
QIcon programIcon();

}  // namespace zor::app
