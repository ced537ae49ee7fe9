#include "MetricsServer.h"

#include <prometheus/collectable.h>
#include <prometheus/text_serializer.h>

#include <QCryptographicHash>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <sstream>

namespace vexo::cli {

namespace {

QByteArray answer(const QByteArray& status, const QByteArray& body, const QByteArray& extraHeaders = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: " +
           (status.startsWith("200") ? QByteArray("text/plain; version=0.0.4; charset=utf-8")
                                     : QByteArray("text/plain; charset=utf-8")) +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n" +
           extraHeaders + "\r\n" + body;
}

} // namespace

MetricsServer::MetricsServer(WebConfig config, std::shared_ptr<prometheus::Collectable> metrics,
                             QObject* parent)
    : QObject(parent), m_config(std::move(config)), m_metrics(std::move(metrics))
{
    if (m_config.tls()) {
        auto* server = new QSslServer(this);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(m_config.certificates);
        tls.setPrivateKey(m_config.key);
        tls.setProtocol(QSsl::TlsV1_2OrLater);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone); // clients are known by their password
        server->setSslConfiguration(tls);
        m_server = server;
    } else {
        m_server = new QTcpServer(this);
    }
    // A TLS connection is queued only once its handshake succeeded: a client that speaks plain
    // HTTP to the TLS port is dropped without a page.
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection())
            serve(socket);
    });
}

MetricsServer::~MetricsServer() = default;

bool MetricsServer::listen(const QHostAddress& address, quint16 port, QString* error)
{
    if (m_server->listen(address, port))
        return true;
    if (error)
        *error = m_server->errorString();
    return false;
}

quint16 MetricsServer::port() const
{
    return m_server->serverPort();
}

void MetricsServer::serve(QTcpSocket* socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // A client that opens a connection and says nothing does not hold it for ever.
    QTimer::singleShot(kIdleMs, socket, [socket] { socket->abort(); });
    auto head = std::make_shared<QByteArray>();
    auto answered = std::make_shared<bool>(false);
    const auto read = [this, socket, head, answered] {
        if (*answered)
            return;
        head->append(socket->readAll());
        const qsizetype end = head->indexOf("\r\n\r\n");
        if (end < 0 && head->size() <= kMaxRequestBytes)
            return;
        socket->write(end < 0 ? answer("431 Request Header Fields Too Large", "Request too large\n")
                              : respond(head->left(end)));
        *answered = true;
        socket->disconnectFromHost();
    };
    connect(socket, &QTcpSocket::readyRead, socket, read);
    read(); // what arrived with the handshake
}

bool MetricsServer::authorised(const QByteArray& credentials)
{
    if (m_config.users.isEmpty())
        return true;
    const QByteArray decoded = QByteArray::fromBase64(credentials.trimmed());
    const qsizetype colon = decoded.indexOf(':');
    if (colon < 0)
        return false;
    const QString user = QString::fromUtf8(decoded.left(colon));
    const QByteArray password = decoded.mid(colon + 1);
    const auto hash = m_config.users.constFind(user);
    if (hash == m_config.users.constEnd())
        return false;
    const QByteArray digest = QCryptographicHash::hash(*hash + '\0' + password, QCryptographicHash::Sha256);
    if (m_verified.value(user) == digest)
        return true;
    if (!bcryptMatches(password, *hash))
        return false;
    m_verified.insert(user, digest);
    return true;
}

QByteArray MetricsServer::respond(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> request = lines.value(0).trimmed().split(' ');
    if (request.size() != 3 || !request[2].startsWith("HTTP/1."))
        return answer("400 Bad Request", "Bad request\n");
    QByteArray credentials;
    bool basic = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "authorization") {
            const QByteArray value = line.mid(colon + 1).trimmed();
            basic = value.left(6).toLower() == "basic ";
            credentials = value.mid(6);
        }
    }
    if (!m_config.users.isEmpty() && (!basic || !authorised(credentials)))
        return answer("401 Unauthorized", "Unauthorized\n",
                      "WWW-Authenticate: Basic realm=\"vexolink-exporter\", charset=\"UTF-8\"\r\n");
    const QByteArray path =
        request[1].left(request[1].indexOf('?') < 0 ? request[1].size() : request[1].indexOf('?'));
    if (path != "/metrics")
        return answer("404 Not Found", "Not found: the metrics are at /metrics\n");
    if (request[0] != "GET" && request[0] != "HEAD")
        return answer("405 Method Not Allowed", "Only GET\n", "Allow: GET, HEAD\r\n");
    std::ostringstream text;
    prometheus::TextSerializer().Serialize(text, m_metrics->Collect());
    QByteArray page = answer("200 OK", QByteArray::fromStdString(text.str()));
    if (request[0] == "HEAD")
        page.truncate(page.indexOf("\r\n\r\n") + 4);
    return page;
}

} // namespace vexo::cli
