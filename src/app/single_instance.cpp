#include "app/single_instance.h"

#include "app/message_box.h"
#include "net/charset.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <cstdlib>

namespace {

const QByteArray kActivateRequest = "activate\n";

// The marker server and the activation handler live on the GUI thread.
QPointer<QLocalServer> g_marker;
std::function<void()> g_activationHandler;

QString markerFor(const std::string& markerName)
{
    return QString::fromStdString(markerName.empty() ? defaultMarkerName() : markerName);
}

bool markerAnswers(const QString& name)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool connected = probe.waitForConnected(1000);
    probe.abort();
    return connected;
}

void serveActivationRequests(QLocalServer* server)
{
    QObject::connect(server, &QLocalServer::newConnection, server, [server] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
                if (!socket->readAll().contains(kActivateRequest.trimmed()))
                    return;
                if (g_activationHandler)
                    g_activationHandler();
                socket->write("ok\n");
                socket->flush();
            });
        }
    });
}

} // namespace

std::string defaultMarkerName()
{
    const std::string gbk = utf8ToGb18030("你懒得输入，我就写死，略略");
    return QCryptographicHash::hash(QByteArray::fromStdString(gbk), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
}

InstanceClaim claimInstanceMarker(const std::string& markerName)
{
    const QString name = markerFor(markerName);
    if (g_marker && g_marker->serverName() == name && g_marker->isListening())
        return InstanceClaim::First;

    // Owned by the application object, so the marker lasts as long as the process and a normal
    // exit removes it.
    auto* server = new QLocalServer(QCoreApplication::instance());
    // No socket options: with them Qt creates the socket elsewhere and renames it over an
    // existing one, which would take the marker from a running instance.
    if (!server->listen(name)) {
        if (server->serverError() != QAbstractSocket::AddressInUseError) {
            delete server;
            return InstanceClaim::Failed;
        }
        if (markerAnswers(name)) {
            delete server;
            return InstanceClaim::AnotherRunning;
        }
        // Nobody answers: an instance that was ended at once left its marker behind.
        QLocalServer::removeServer(name);
        if (!server->listen(name)) {
            const bool taken = server->serverError() == QAbstractSocket::AddressInUseError;
            delete server;
            return taken ? InstanceClaim::AnotherRunning : InstanceClaim::Failed;
        }
    }
    serveActivationRequests(server);
    g_marker = server;
    return InstanceClaim::First;
}

void setActivationHandler(std::function<void()> handler)
{
    g_activationHandler = std::move(handler);
}

bool activateRunningInstance(const std::string& markerName)
{
    QLocalSocket socket;
    socket.connectToServer(markerFor(markerName));
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(kActivateRequest);
    if (!socket.waitForBytesWritten(1000))
        return false;
    // The holder answers once its window has been brought forward.
    const bool answered = socket.waitForReadyRead(2000) && socket.readAll().startsWith("ok");
    socket.disconnectFromServer();
    return answered;
}

void enforceSingleInstance(const std::string& markerName, bool showMessage,
                           const std::string& messageText, int messageStyle,
                           bool activateExisting, const std::function<void()>& endProcess)
{
    if (claimInstanceMarker(markerName) != InstanceClaim::AnotherRunning)
        return;
    if (showMessage)
        showMessageBox(messageText.empty() ? "对不起,该进程已打开!" : messageText, "友情提醒:",
                       messageStyle, nullptr);
    if (activateExisting)
        activateRunningInstance(markerName);
    if (endProcess)
        endProcess();
    else
        std::exit(0);
}
