// The tests' HTTPS servers present tests/support/certs/loopback.crt, which no system trusts. A
// test that wants the client to accept them adds that certificate to the process's default TLS
// configuration; every other test sees the system's certificates only, so a client that took
// any certificate would fail them.
#pragma once

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>

namespace albumora::test {

inline QString LoopbackCertificatePath() {
    return QStringLiteral(ALBUMORA_TEST_CERTS "/loopback.crt");
}
inline QString LoopbackKeyPath() {
    return QStringLiteral(ALBUMORA_TEST_CERTS "/loopback.key");
}

// Trusts the loopback certificate for the rest of the process, or, with trust false, puts the
// default configuration back as it was before the first call.
inline void TrustLoopbackCertificate(bool trust = true) {
    static const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
    QSslConfiguration c = original;
    if (trust) c.addCaCertificates(QSslCertificate::fromPath(LoopbackCertificatePath()));
    QSslConfiguration::setDefaultConfiguration(c);
}

}  // namespace albumora::test
