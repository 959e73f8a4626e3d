#pragma once

#include <QWidget>

namespace zor::app {

class ClickLabel;

// A help screen: its lead-in and text, the "Назад" label, and for the upload help the inline
// upload icon (which does what the strip's upload icon does).
struct HelpScreen {
    QWidget* page = nullptr;
    ClickLabel* back = nullptr;
    ClickLabel* uploadIcon = nullptr;
};

enum class HelpTopic { Themes, Pages, Upload, Extensions, Develop, FileManager };

HelpScreen makeHelpScreen(HelpTopic topic);
QWidget* makeWelcomeScreen();
// The developers screen; its contact links are returned for the caller to connect.
QWidget* makeDevelopersScreen(QList<ClickLabel*>& links);

}  // namespace zor::app
