#include "shell/ShowRequestServer.h"

#include <QLocalServer>
#include <QLocalSocket>

ShowRequestServer::ShowRequestServer(QString socketPath, Handler handler, QObject* owner)
    : QObject(owner), path(std::move(socketPath)), handler(std::move(handler)),
      server(new QLocalServer(this)) {
    server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server, &QLocalServer::newConnection, this, [this] { accept(); });
}

ShowRequestServer::~ShowRequestServer() {
    server->close();
}

bool ShowRequestServer::listen() {
    QLocalServer::removeServer(path);
    if (server->listen(path))
        return true;
    error = server->errorString();
    return false;
}

QString ShowRequestServer::socketPathFor(const QString& lockPath) {
    QString base = lockPath;
    if (base.endsWith(".lock"))
        base.chop(5);
    return base + ".show";
}

bool ShowRequestServer::send(const QString& socketPath, std::uint32_t message) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(2000))
        return false;
    socket.write(QByteArray::number(message) + '\n');
    bool written = socket.waitForBytesWritten(2000);
    socket.disconnectFromServer();
    return written;
}

void ShowRequestServer::accept() {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        auto drain = [this, socket] {
            while (socket->canReadLine()) {
                bool ok = false;
                uint message = socket->readLine().trimmed().toUInt(&ok);
                // A request is a number; anything else from the socket is ignored.
                if (ok && handler)
                    handler(message);
            }
            // A client that sends no line end within a sane length is cut off.
            if (socket->bytesAvailable() > 64)
                socket->abort();
        };
        connect(socket, &QLocalSocket::readyRead, this, drain);
        connect(socket, &QLocalSocket::disconnected, this, [socket, drain] {
            drain();
            socket->deleteLater();
        });
    }
}
