#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

namespace vexo::cli {

// The web configuration file that Prometheus exporters take, in the same format:
//
//   tls_server_config:
//     cert_file: /etc/vexolink/exporter.crt   # relative paths are taken from the file's folder
//     key_file: /etc/vexolink/exporter.key
//   basic_auth_users:
//     prometheus: $2y$10$...                  # bcrypt hash of the password
//
// Both sections are optional: without tls_server_config the page is served over plain HTTP, and
// without basic_auth_users anyone who reaches it may read it.
struct WebConfig
{
    QString certFile;
    QString keyFile;
    QList<QSslCertificate> certificates; // the server's own first, then its chain
    QSslKey key;
    QMap<QString, QByteArray> users; // user name -> bcrypt hash

    bool tls() const { return !certificates.isEmpty(); }
};

// Reads and checks the file: YAML, only the keys above, the certificate and key readable PEM
// files, every hash a bcrypt hash. False with the problem as one line in `problem`.
bool loadWebConfig(const QString& path, WebConfig& config, QString* problem);

// Whether `password` is the one `hash` (bcrypt: $2a$, $2b$ or $2y$) was made from.
bool bcryptMatches(const QByteArray& password, const QByteArray& hash);

} // namespace vexo::cli
