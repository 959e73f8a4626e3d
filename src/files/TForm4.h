#pragma once

#include <QDialog>

#include "site/OpenSiteState.h"

namespace zor::files {

// The file manager window, shown modally from the main window.
class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(OpenSiteState& state, QWidget* parent = nullptr);

private:
    OpenSiteState& state_;
};

}  // namespace zor::files
