#include "platform/ui/CActivationChannel.h"

#include <QByteArray>
#include <QLocalSocket>
#include <QPointer>

namespace {

const QByteArray kRequest = QByteArrayLiteral("activate\n");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
// A request is one short line; a peer that sends more is not a copy of this program.
constexpr qint64 kMaxRequest = 64;

QString SocketName(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

} // namespace

bool CActivationChannel::ActivateRunning(const std::filesystem::path& socketPath, int nWaitMs) {
    QLocalSocket socket;
    socket.connectToServer(SocketName(socketPath));
    if (!socket.waitForConnected(nWaitMs)) {
        return false;
    }
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(nWaitMs)) {
        return false;
    }
    QByteArray answer;
    while (answer.size() < kAnswer.size() && socket.waitForReadyRead(nWaitMs)) {
        answer += socket.read(kAnswer.size() - answer.size());
    }
    return answer == kAnswer;
}

bool CActivationChannel::Listen(const std::filesystem::path& socketPath,
                                std::function<void()> onActivate) {
    m_onActivate = std::move(onActivate);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(SocketName(socketPath));
    if (!m_server.listen(SocketName(socketPath))) {
        return false;
    }
    QObject::connect(&m_server, &QLocalServer::newConnection, &m_server,
                     [this] { OnConnection(); });
    return true;
}

void CActivationChannel::OnConnection() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QPointer<QLocalSocket> peer(socket);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, peer] {
            if (!peer) {
                return;
            }
            QByteArray& buffered = m_pending[peer.data()];
            buffered += peer->read(kMaxRequest - buffered.size() + 1);
            if (buffered.startsWith(kRequest) && buffered.size() == kRequest.size()) {
                m_pending.remove(peer.data());
                if (m_onActivate) {
                    m_onActivate();
                }
                peer->write(kAnswer);
                peer->disconnectFromServer();
            } else if (buffered.size() >= kRequest.size() || !kRequest.startsWith(buffered)) {
                // Not the request, or more than it: drop the peer.
                m_pending.remove(peer.data());
                peer->abort();
            }
        });
        QObject::connect(socket, &QObject::destroyed, &m_server,
                         [this, socket] { m_pending.remove(socket); });
    }
}
