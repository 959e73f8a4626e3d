#include "app/CertificateQuestion.h"

#include <QMessageBox>
#include <QPushButton>

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
    text += QStringLiteral(
                "Система не может подтвердить подлинность сервера %1:\n%2\n\n"
                "Пароль будет отправлен, только если вы доверяете сертификату.\n"
                "Доверять этому сертификату?")
                .arg(certificate.host, publish::certificateDetails(certificate));
    return askTrust(parent, text);
}

publish::CertificateTrust askTrust(QWidget* parent, const QString& text) {
    // The answers in the order they are offered, and none with a picture: the style gives
    // one to standard buttons only, which would set them apart.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("ZOR OD"), text, QMessageBox::NoButton,
                    parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* always =
        box.addButton(QStringLiteral("Да, всегда для этого сайта"), QMessageBox::YesRole);
    QPushButton* once = box.addButton(QStringLiteral("Только сейчас"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    if (box.clickedButton() == always) {
        return publish::CertificateTrust::Always;
    }
    if (box.clickedButton() == once) {
        return publish::CertificateTrust::Once;
    }
    return publish::CertificateTrust::No;
}

}  // namespace zor::app
