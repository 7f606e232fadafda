#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QLocalServer;

// The window messages other processes send to the running program: a local socket
// beside the single-instance lock, on which each request is one line holding the
// message number in decimal. 1034 asks for the settings window.
class ShowRequestServer : public QObject {
public:
    static constexpr std::uint32_t showRequest = 1034; // WM_USER + 10

    using Handler = std::function<void(std::uint32_t message)>;

    ShowRequestServer(QString socketPath, Handler handler, QObject* owner = nullptr);
    ~ShowRequestServer() override;

    // Starts listening, removing a socket left behind by a crashed instance (only the
    // holder of the lock calls this, so no live instance listens there). False, with
    // errorText() set, when the socket cannot be made.
    bool listen();
    QString errorText() const { return error; }

    // The socket that belongs to the lock file at lockPath ("x.lock" gives "x.show").
    static QString socketPathFor(const QString& lockPath);
    // Sends one message to the instance listening at socketPath; false when none does.
    static bool send(const QString& socketPath, std::uint32_t message);

private:
    void accept();

    QString path;
    Handler handler;
    QLocalServer* server;
    QString error;
};
