#pragma once

#include <QString>

namespace zor::shell {

// Opens a web or e-mail address in the user's default program. Failure is not reported: the
// user sees that nothing opened.
void openAddress(const QString& address);

}  // namespace zor::shell
