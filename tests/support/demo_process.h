#pragma once
// The bundled demo server (build/bin/qy_demo_server) as a child process of a test, on ports of its
// own choosing. For test programs only: it needs QY_BINARY_DIR and QY_SOURCE_DIR.

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <string>

inline const QString kDemoServer = QStringLiteral(QY_BINARY_DIR "/bin/qy_demo_server");
inline const QString kDemoRoot = QStringLiteral(QY_SOURCE_DIR "/tools/demo");
// The demo's self-signed certificate (tools/demo/prepare.sh makes it, for 127.0.0.1 and
// localhost): clients trust it as their authority, the program through 证书文件.
inline const std::string kDemoCertificate = QY_SOURCE_DIR "/tools/demo/media/tls/server.crt";

// One running demo server; its stdout goes to a file so the request log can never block it.
class DemoProcess {
public:
    explicit DemoProcess(QStringList args = {})
    {
        logPath_ = dir_.filePath(QStringLiteral("server.log"));
        process_.setStandardOutputFile(logPath_);
        process_.setStandardErrorFile(dir_.filePath(QStringLiteral("server.err")));
        if (args.isEmpty())
            args = {QStringLiteral("--root"),       kDemoRoot,
                    QStringLiteral("--https-port"), QStringLiteral("0"),
                    QStringLiteral("--http-port"),  QStringLiteral("0")};
        process_.start(kDemoServer, args);
    }
    ~DemoProcess()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // Waits for the "listening" line and reads the two ports from it.
    bool waitListening()
    {
        static const QRegularExpression re(QStringLiteral(
            "listening on https://127\\.0\\.0\\.1:(\\d+) and http://127\\.0\\.0\\.1:(\\d+)"));
        for (int i = 0; i < 200; ++i) {
            const auto m = re.match(log());
            if (m.hasMatch()) {
                httpsPort = m.captured(1).toInt();
                httpPort = m.captured(2).toInt();
                return true;
            }
            if (process_.state() == QProcess::NotRunning)
                return false;
            QThread::msleep(50);
        }
        return false;
    }
    QString log() const
    {
        QFile f(logPath_);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString errors() const
    {
        QFile f(dir_.filePath(QStringLiteral("server.err")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QProcess& process() { return process_; }

    int httpsPort = 0;
    int httpPort = 0;

private:
    QTemporaryDir dir_;
    QString logPath_;
    QProcess process_;
};
