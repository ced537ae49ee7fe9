#pragma once

#include "WebConfig.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>

#include <memory>

class QTcpServer;
class QTcpSocket;

namespace prometheus {
class Collectable;
}

namespace vexo::cli {

// The exporter's page under a web configuration: /metrics over HTTPS (or HTTP without
// tls_server_config), behind basic authentication when users are configured. One request per
// connection, answered on the event loop from the last poll's snapshot.
class MetricsServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxRequestBytes = 16 * 1024;
    static constexpr int kIdleMs = 10000;

    MetricsServer(WebConfig config, std::shared_ptr<prometheus::Collectable> metrics,
                  QObject* parent = nullptr);
    ~MetricsServer() override;

    bool listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const;

    // The whole answer to one request head (up to the blank line), status line to body.
    QByteArray respond(const QByteArray& head);

private:
    void serve(QTcpSocket* socket);
    bool authorised(const QByteArray& credentials);

    WebConfig m_config;
    std::shared_ptr<prometheus::Collectable> m_metrics;
    QTcpServer* m_server;
    // Passwords that matched, as a digest per user: bcrypt costs tens of milliseconds on purpose,
    // and Prometheus sends the same credentials with every scrape.
    QHash<QString, QByteArray> m_verified;
};

} // namespace vexo::cli
