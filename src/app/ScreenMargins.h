#pragma once

#include <QMargins>

namespace zor::app {

// The margins of every screen under the top strip, so that going from one screen to the next
// the text and the fields start where they started before.
inline constexpr QMargins ScreenMargins(16, 12, 16, 10);

}  // namespace zor::app
