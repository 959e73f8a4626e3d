#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

#include "publish/FtpError.h"
#include "site/FtpAccount.h"

namespace zor::publish {

// The protection is the site's choice, kept with its account.
using zor::FtpEncryption;

// What the user is shown of a server's certificate before trusting it.
struct ServerCertificate {
    QString host;  // the server as the user named it
    QString subject;
    QString issuer;
    QStringList names;                // the names it was issued for
    QDateTime validFrom, validUntil;  // UTC
    QString fingerprint;              // SHA-256 of the certificate: 32 bytes, "AB:CD:…"
    QStringList problems;             // why the system does not vouch for it; empty when it does
    // The fingerprint trusted before for this site, when the server now shows another one.
    QString previousFingerprint;
};

enum class CertificateTrust {
    Always,  // remember it for the site
    Once,    // this session only
    No,
};

// Asked, before anything else goes to the server, about a certificate the system cannot vouch
// for and the site does not remember.
using CertificateQuestion = std::function<CertificateTrust(const ServerCertificate&)>;

// The certificate as the user reads it: why it is in doubt, whom it was issued to and by whom,
// its validity and its fingerprint, one item a line.
QString certificateDetails(const ServerCertificate& certificate);

// A certificate nobody trusted: the connection ended before the password went out.
class UntrustedCertificate : public FtpError {
public:
    explicit UntrustedCertificate(ServerCertificate certificate);
    const ServerCertificate& certificate() const { return certificate_; }

private:
    ServerCertificate certificate_;
};

}  // namespace zor::publish
