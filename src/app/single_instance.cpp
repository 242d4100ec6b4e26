#include "app/single_instance.h"

#include "app/message_box.h"
#include "net/charset.h"
#include "util/gui_thread.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QByteArray kActivateRequest = "activate\n";

// The marker server lives on the GUI thread.
QPointer<QLocalServer> g_marker;

QString markerFor(const std::string& markerName)
{
    return QString::fromStdString(markerPath(markerName));
}

// Takes the lock that makes its holder the one instance: an exclusive lock on a file beside the
// marker. The lock is kept for the rest of the process (the descriptor is never closed) and the
// system lets go of it when the process ends, however it ends; so of any number of launches at
// once exactly one gets it, and a marker left behind by an ended instance holds nobody back.
InstanceClaim takeInstanceLock(const QString& path)
{
    const QByteArray lockFile = QFile::encodeName(path + QStringLiteral(".lock"));
    const int fd = ::open(lockFile.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return InstanceClaim::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? InstanceClaim::AnotherRunning : InstanceClaim::Failed;
    }
    return InstanceClaim::First;
}

void serveActivationRequests(QLocalServer* server, std::function<void()> onActivationRequest)
{
    auto onConnection = [server, onActivationRequest = std::move(onActivationRequest)] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket,
                             [socket, onActivationRequest] {
                                 if (!socket->readAll().contains(kActivateRequest.trimmed()))
                                     return;
                                 if (onActivationRequest)
                                     onActivationRequest();
                                 socket->write("ok\n");
                                 socket->flush();
                             });
        }
    };
    QObject::connect(server, &QLocalServer::newConnection, server, std::move(onConnection));
}

} // namespace

std::string defaultMarkerName()
{
    const std::string gbk = utf8ToGb18030("你懒得输入，我就写死，略略");
    return QCryptographicHash::hash(QByteArray::fromStdString(gbk), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
}

std::string markerPath(const std::string& markerName)
{
    const QString name =
        QString::fromStdString(markerName.empty() ? defaultMarkerName() : markerName);
    if (name.contains(QLatin1Char('/')))
        return name.toStdString();
    // The user's own runtime folder when the session has one; otherwise the shared temporary
    // folder, with the user id in the name so that users of one machine do not meet.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable())
        return QDir(runtime).filePath(name).toStdString();
    return QDir(QDir::tempPath())
        .filePath(name + QStringLiteral("-") + QString::number(::getuid()))
        .toStdString();
}

InstanceClaim claimInstanceMarker(const std::string& markerName,
                                  std::function<void()> onActivationRequest)
{
    gui::assertGuiThread();
    const QString path = markerFor(markerName);
    if (g_marker && g_marker->fullServerName() == path && g_marker->isListening())
        return InstanceClaim::First;

    const InstanceClaim claim = takeInstanceLock(path);
    if (claim != InstanceClaim::First)
        return claim;

    // Only the holder of the lock touches the socket: a socket file left by an instance that
    // was ended at once is replaced. The server is owned by the application object, so it lasts
    // as long as the process.
    QLocalServer::removeServer(path);
    auto* server = new QLocalServer(QCoreApplication::instance());
    if (!server->listen(path)) {
        // Still the one instance; it only cannot be asked to come forward.
        delete server;
        return InstanceClaim::First;
    }
    serveActivationRequests(server, std::move(onActivationRequest));
    g_marker = server;
    return InstanceClaim::First;
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

void enforceSingleInstance(const std::string& markerName, const MessageBox& showMessage,
                           const std::string& messageText, int messageStyle, bool activateExisting,
                           const std::function<void()>& endProcess,
                           std::function<void()> onActivationRequest)
{
    if (claimInstanceMarker(markerName, std::move(onActivationRequest)) !=
        InstanceClaim::AnotherRunning)
        return;
    if (showMessage)
        showMessage(messageText.empty() ? "对不起,该进程已打开!" : messageText,
                    "友情提醒:", messageStyle);
    if (activateExisting)
        activateRunningInstance(markerName);
    if (endProcess)
        endProcess();
    else
        std::exit(0); // NOLINT(concurrency-mt-unsafe): start-up, before any worker thread runs
}
