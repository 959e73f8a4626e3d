#include "app/CertificateQuestion.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace zor::app {

publish::CertificateTrust askCertificateTrust(QWidget* parent,
                                              const publish::ServerCertificate& certificate) {
    QString text;
    if (!certificate.previousFingerprint.isEmpty()) {
        text = QStringLiteral(
                   "Внимание: сервер %1 предъявил не тот сертификат, которому вы раньше доверяли "
                   "для этого сайта (его отпечаток был %2). Так бывает, когда хостинг сменил "
                   "сертификат, но так же выглядит и подмена сервера.\n\n")
                   .arg(certificate.host, certificate.previousFingerprint);
    }
    text += QStringLiteral("Система не может подтвердить подлинность сервера %1:\n%2\n\n"
                           "Пароль будет отправлен, только если вы доверяете сертификату.\n"
                           "Доверять этому сертификату?")
                .arg(certificate.host, publish::certificateDetails(certificate));
    QMessageBox box(QMessageBox::Warning, QStringLiteral("ZOR OD"), text,
                    QMessageBox::YesToAll | QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::YesToAll)->setText(QStringLiteral("Да, всегда для этого сайта"));
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Только сейчас"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    switch (box.exec()) {
        case QMessageBox::YesToAll:
            return publish::CertificateTrust::Always;
        case QMessageBox::Yes:
            return publish::CertificateTrust::Once;
        default:
            return publish::CertificateTrust::No;
    }
}

}  // namespace zor::app
