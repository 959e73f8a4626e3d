#pragma once

class QWidget;

namespace zor {

// Moves a window so it is centred on its screen's free area (the primary screen before it is
// shown). The window keeps the place from then on, also when it is hidden and shown again.
void centreOnScreen(QWidget* window);

}  // namespace zor
