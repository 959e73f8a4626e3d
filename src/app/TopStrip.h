#pragma once

#include <QWidget>

class QComboBox;
class QLabel;

namespace zor::app {

// The strip along the top of the main window, on every screen: the clickable background, four
// shortcut icons, the site selector and the header naming the current screen. It only reports
// clicks; the main window decides what they do.
class TopStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr int Height = 34;

    explicit TopStrip(QWidget* parent = nullptr);

    QComboBox* sitesbox;  // the site selector
    QLabel* header;       // names the current screen

signals:
    void menuWanted();  // the background or the header
    void designWanted();
    void pagesWanted();
    void uploadWanted();
    // After the uploadWanted() of its first click, as a double click comes.
    void uploadDoubleClicked();
    void fileManagerWanted();
};

}  // namespace zor::app
