#pragma once

#include <QWidget>

#include "site/OpenSiteState.h"

class QPlainTextEdit;
class QPushButton;
class QListWidget;

namespace zor::app {

class ScreenHost;

// The design screen: the template box, "Сохранить" (save and compile) and the block list.
class DesignScreen : public QWidget {
    Q_OBJECT
public:
    DesignScreen(ScreenHost& host, OpenSiteState& state, QWidget* parent = nullptr);

    // Opening a site: the block list from "etc/blocs", then (later) the template box.
    void loadBlockList();
    void loadTemplate();
    void clearTemplate();

    // "Сохранить": saves the template as it stands and compiles it into "index.php"; refused
    // while the site's template did not load.
    void Button1Click();
    // A pick in the block list: opens the block (or a new one) in the editor.
    void ListBox2Click();

    QPlainTextEdit* Memo1;  // the template box
    QPushButton* Button1;   // "Сохранить"
    QListWidget* ListBox2;  // BlockList

private:
    ScreenHost& host_;
    OpenSiteState& state_;
    bool templateLoaded_ = false;  // the box holds the site's template as read from its file
};

// Converts between the file's CR LF and the text box's line feeds, both ways without loss.
QString toBoxText(const QString& fileText);
QString toFileText(const QString& boxText);

}  // namespace zor::app
