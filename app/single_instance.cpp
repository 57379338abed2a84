#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QLocalSocket>
#include <unistd.h>

namespace brimlow {
namespace {
constexpr int kConnectTimeoutMs = 1000;
constexpr char kRaiseRequest[] = "raise\n";
} // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString& settingsFile, QObject* parent) : QObject(parent) {
    QByteArray hash = QCryptographicHash::hash(settingsFile.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    m_name = QString("brimlow-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

bool SingleInstanceGuard::Acquire() {
    QLocalSocket probe;
    probe.connectToServer(m_name);
    if (probe.waitForConnected(kConnectTimeoutMs)) {
        probe.write(kRaiseRequest);
        probe.waitForBytesWritten(kConnectTimeoutMs);
        probe.disconnectFromServer();
        return false;
    }
    // Nobody answers: a socket file left by a console that crashed is stale.
    QLocalServer::removeServer(m_name);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_name))
        return true; // cannot guard, but a console must still start
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server.nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, client, [this, client] {
                if (client->readAll().contains("raise") && m_raise)
                    m_raise();
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return true;
}

} // namespace brimlow
