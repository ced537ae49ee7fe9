#include "WebConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <yaml-cpp/yaml.h>

#include <crypt.h>

#include <cstring>
#include <memory>

namespace vexo::cli {

namespace {

struct Refused
{
    QString why;
};

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

// A mapping whose keys are all among `known`.
void requireKeys(const YAML::Node& node, const QString& where, const QStringList& known)
{
    if (!node.IsMap())
        throw Refused{QStringLiteral("%1 must be a mapping of keys to values").arg(where)};
    for (const auto& entry : node) {
        const QString key = text(entry.first.as<std::string>());
        if (!known.contains(key))
            throw Refused{
                QStringLiteral("unknown key '%1' in %2 (known: %3)").arg(key, where, known.join(", "))};
    }
}

QString scalar(const YAML::Node& node, const QString& name)
{
    if (!node || !node.IsScalar() || node.as<std::string>().empty())
        throw Refused{QStringLiteral("%1 must name a file").arg(name)};
    return text(node.as<std::string>());
}

QByteArray readPem(const QString& path, const QString& what)
{
    QFile file(path);
    if (!file.exists())
        throw Refused{QStringLiteral("%1 %2 does not exist").arg(what, path)};
    if (!file.open(QIODevice::ReadOnly))
        throw Refused{QStringLiteral("%1 %2 cannot be read: %3").arg(what, path, file.errorString())};
    return file.readAll();
}

void loadTls(const YAML::Node& tls, const QDir& base, WebConfig& config)
{
    requireKeys(tls, QStringLiteral("tls_server_config"), {"cert_file", "key_file"});
    config.certFile =
        base.absoluteFilePath(scalar(tls["cert_file"], QStringLiteral("tls_server_config.cert_file")));
    config.keyFile =
        base.absoluteFilePath(scalar(tls["key_file"], QStringLiteral("tls_server_config.key_file")));
    config.certificates = QSslCertificate::fromData(readPem(config.certFile, QStringLiteral("certificate")));
    if (config.certificates.isEmpty() || config.certificates.first().isNull())
        throw Refused{QStringLiteral("certificate %1 holds no PEM certificate").arg(config.certFile)};
    const QByteArray key = readPem(config.keyFile, QStringLiteral("key"));
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        config.key = QSslKey(key, algorithm);
        if (!config.key.isNull())
            break;
    }
    if (config.key.isNull())
        throw Refused{QStringLiteral("key %1 holds no unencrypted PEM private key").arg(config.keyFile)};
    if (config.key.algorithm() != config.certificates.first().publicKey().algorithm())
        throw Refused{
            QStringLiteral("key %1 does not belong to certificate %2").arg(config.keyFile, config.certFile)};
}

void loadUsers(const YAML::Node& users, WebConfig& config)
{
    static const QRegularExpression bcrypt(QStringLiteral("^\\$2[aby]\\$[0-9]{2}\\$[./A-Za-z0-9]{53}$"));
    if (!users.IsMap())
        throw Refused{QStringLiteral("basic_auth_users must map user names to bcrypt hashes")};
    for (const auto& entry : users) {
        const QString user = text(entry.first.as<std::string>());
        if (!entry.second.IsScalar() || !bcrypt.match(text(entry.second.as<std::string>())).hasMatch())
            throw Refused{QStringLiteral("the password of user '%1' is no bcrypt hash ($2y$...)").arg(user)};
        config.users.insert(user, QByteArray::fromStdString(entry.second.as<std::string>()));
    }
}

} // namespace

bool loadWebConfig(const QString& path, WebConfig& config, QString* problem)
{
    config = WebConfig{};
    try {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Refused{QStringLiteral("cannot be read: %1").arg(file.errorString())};
        const YAML::Node root = YAML::Load(file.readAll().toStdString());
        if (root.IsNull())
            return true; // an empty file: plain HTTP, no authentication, as the exporters do
        requireKeys(root, QStringLiteral("the file"), {"tls_server_config", "basic_auth_users"});
        const QDir base = QFileInfo(path).absoluteDir();
        if (root["tls_server_config"])
            loadTls(root["tls_server_config"], base, config);
        if (root["basic_auth_users"])
            loadUsers(root["basic_auth_users"], config);
        return true;
    } catch (const Refused& r) {
        if (problem)
            *problem = QStringLiteral("web config %1: %2").arg(path, r.why);
    } catch (const YAML::Exception& e) {
        if (problem)
            *problem = QStringLiteral("web config %1: not valid YAML (line %2: %3)")
                           .arg(path)
                           .arg(e.mark.line + 1)
                           .arg(text(e.msg));
    }
    config = WebConfig{};
    return false;
}

bool bcryptMatches(const QByteArray& password, const QByteArray& hash)
{
    // crypt_r is reentrant; its work area is too big for the stack of the server's callers.
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof(crypt_data));
    const char* result = crypt_r(password.constData(), hash.constData(), data.get());
    if (!result || result[0] == '*' || std::strlen(result) != size_t(hash.size()))
        return false;
    // Compared in constant time: how much of a guess matched must not show in the answer time.
    unsigned char difference = 0;
    for (qsizetype i = 0; i < hash.size(); ++i)
        difference |= static_cast<unsigned char>(result[i] ^ hash[i]);
    return difference == 0;
}

} // namespace vexo::cli
