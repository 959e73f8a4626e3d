#pragma once

#include <QString>

#include "publish/FtpEncryption.h"

class QWidget;

namespace zor::app {

// Shows a certificate the system cannot vouch for and asks "Доверять этому сертификату?":
// "Да, всегда для этого сайта", "Только сейчас" or "Нет" (also Esc). A certificate that differs
// from the one trusted before is warned of first, in the same box.
publish::CertificateTrust askCertificateTrust(QWidget* parent,
                                              const publish::ServerCertificate& certificate);

// Asks `text` (plain text) with those three answers, "Нет" the default: the question for a
// certificate and for an SSH host key alike.
publish::CertificateTrust askTrust(QWidget* parent, const QString& text);

}  // namespace zor::app
