// One running instance: the marker, the activation request and two launches of the real program.

#include "app/single_instance.h"
#include "support/wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Run as a child process by the tests below: holds the marker named by QY_MARKER_HOLDER with the
// program's own code, prints "ready", prints "activated" for each activation request, and ends
// when its input closes.
TEST(HolderProcess, Run)
{
    const QByteArray marker = qgetenv("QY_MARKER_HOLDER");
    if (marker.isEmpty())
        GTEST_SKIP() << "only run as the holder child";
    const auto activated = [] {
        std::printf("activated\n");
        std::fflush(stdout);
    };
    ASSERT_EQ(claimInstanceMarker(marker.toStdString(), activated), InstanceClaim::First);
    std::printf("ready\n");
    std::fflush(stdout);
    QFile input;
    ASSERT_TRUE(input.open(stdin, QIODevice::ReadOnly));
    // The event loop serves the marker until the parent closes our input.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (input.atEnd() && ::getppid() == 1)
            break;
        if (qgetenv("QY_MARKER_HOLDER_STOP_FILE").size() &&
            QFile::exists(QString::fromLocal8Bit(qgetenv("QY_MARKER_HOLDER_STOP_FILE"))))
            break;
    }
}

// Run as a child process by the ten-launch test: one launch of the program's single-instance
// step for the marker "tovarunmel" (placed by the program's own rule). A refused launch ends
// there with exit code 0; the one that holds the marker prints "holder" and stays until the stop
// file appears.
TEST(LaunchProcess, Run)
{
    const QByteArray stopFile = qgetenv("QY_LAUNCH_STOP_FILE");
    if (stopFile.isEmpty())
        GTEST_SKIP() << "only run as a launch child";
    enforceSingleInstance("tovarunmel", {}, "", 0, true, [] {
        std::printf("refused\n");
        std::fflush(stdout);
        std::_Exit(0);
    });
    std::printf("holder\n");
    std::fflush(stdout);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 120000 && !QFile::exists(QString::fromLocal8Bit(stopFile)))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A socket file nobody listens on, as an instance that was ended at once leaves it.
void leaveStaleSocket(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(QString::fromStdString(path)));
}

class MarkerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    void TearDown() override
    {
        if (holder.state() != QProcess::NotRunning) {
            QFile stop(stopFile());
            stop.open(QIODevice::WriteOnly);
            stop.close();
            holder.waitForFinished(5000);
        }
    }
    // A marker name given as a full path, so the test owns its socket file.
    std::string marker(const char* name) const
    {
        return QDir(folder.path()).filePath(QString::fromUtf8(name)).toStdString();
    }
    QString stopFile() const { return folder.path() + QStringLiteral("/stop"); }

    void startHolder(const std::string& name)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QY_MARKER_HOLDER"), QString::fromStdString(name));
        environment.insert(QStringLiteral("QY_MARKER_HOLDER_STOP_FILE"), stopFile());
        holder.setProcessEnvironment(environment);
        holder.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--gtest_filter=HolderProcess.Run")});
        ASSERT_TRUE(holder.waitForStarted());
        ASSERT_TRUE(waitUntil([this] { return holderOutput().contains("ready"); }, 10000));
    }
    QByteArray holderOutput()
    {
        output += holder.readAllStandardOutput();
        return output;
    }

    QTemporaryDir folder;
    QProcess holder;
    QByteArray output;
};

TEST_F(MarkerTest, FirstClaimHoldsTheMarkerAndClaimingAgainKeepsIt)
{
    const std::string name = marker("first");
    EXPECT_EQ(claimInstanceMarker(name), InstanceClaim::First);
    EXPECT_EQ(claimInstanceMarker(name), InstanceClaim::First);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(name)));
}

TEST_F(MarkerTest, AMarkerLeftBehindByAnEndedInstanceIsTakenOver)
{
    // A socket file nobody listens on, as an instance ended at once leaves it.
    const std::string name = marker("stale");
    leaveStaleSocket(name);

    EXPECT_EQ(claimInstanceMarker(name), InstanceClaim::First);
    QLocalSocket probe;
    probe.connectToServer(QString::fromStdString(name));
    EXPECT_TRUE(probe.waitForConnected(1000)) << "the marker is served again";
}

TEST_F(MarkerTest, AnotherProcessHoldingTheMarkerIsFoundAndActivated)
{
    const std::string name = marker("held");
    startHolder(name);
    EXPECT_EQ(claimInstanceMarker(name), InstanceClaim::AnotherRunning);
    EXPECT_TRUE(activateRunningInstance(name));
    EXPECT_TRUE(waitUntil([this] { return holderOutput().contains("activated"); }));

    int ended = 0;
    enforceSingleInstance(name, {}, "", 0, true, [&] { ++ended; });
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(waitUntil([this] { return holderOutput().count("activated") == 2; }));

    // Without activateExisting the holder is left alone.
    enforceSingleInstance(name, {}, "", 0, false, [&] { ++ended; });
    EXPECT_EQ(ended, 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(holderOutput().count("activated"), 2);
}

TEST_F(MarkerTest, NoHolderMeansNothingToActivate)
{
    EXPECT_FALSE(activateRunningInstance(marker("nobody")));
}

// A marker that does not hold its lock (an instance ended at once left it, or another user's
// program made it elsewhere) does not keep a launch out.
TEST_F(MarkerTest, ASocketWithoutItsLockDoesNotKeepALaunchOut)
{
    const std::string name = marker("answering");
    QLocalServer other;
    ASSERT_TRUE(other.listen(QString::fromStdString(name)));
    EXPECT_EQ(claimInstanceMarker(name), InstanceClaim::First);
}

// Ten launches at the same moment over a marker left behind: exactly one stays, the nine others
// end with exit code 0, and the marker lies in the user's runtime folder.
TEST_F(MarkerTest, TenLaunchesAtOnceLeaveExactlyOne)
{
    leaveStaleSocket(folder.filePath(QStringLiteral("tovarunmel")).toStdString());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.path());
    environment.insert(QStringLiteral("QY_LAUNCH_STOP_FILE"), stopFile());
    std::vector<std::unique_ptr<QProcess>> launches;
    for (int i = 0; i < 10; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(environment);
        p->start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=LaunchProcess.Run")});
        launches.push_back(std::move(p));
    }
    for (auto& p : launches)
        ASSERT_TRUE(p->waitForStarted(30000));
    auto finished = [&] {
        return std::count_if(launches.begin(), launches.end(),
                             [](const auto& p) { return p->state() == QProcess::NotRunning; });
    };
    ASSERT_TRUE(waitUntil([&] { return finished() >= 9; }, 120000)) << finished() << " ended";
    // Give a second holder, if there were one, time to show itself.
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(finished(), 9);
    int holders = 0;
    for (auto& p : launches) {
        const QByteArray out = p->readAllStandardOutput();
        if (p->state() == QProcess::NotRunning) {
            EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(p->exitCode(), 0);
            EXPECT_TRUE(out.contains("refused")) << out.toStdString();
        } else {
            holders += 1;
            QByteArray all = out;
            EXPECT_TRUE(waitUntil([&] {
                all += p->readAllStandardOutput();
                return all.contains("holder");
            }));
        }
    }
    EXPECT_EQ(holders, 1);
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("tovarunmel"))));

    QFile stop(stopFile());
    ASSERT_TRUE(stop.open(QIODevice::WriteOnly));
    stop.close();
    for (auto& p : launches) {
        if (p->state() != QProcess::NotRunning) {
            EXPECT_TRUE(p->waitForFinished(30000));
        }
    }
}

TEST(MarkerName, PerUserPlace)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    EXPECT_EQ(markerPath("tovarunmel"),
              runtime.filePath(QStringLiteral("tovarunmel")).toStdString());
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(markerPath("tovarunmel"),
              QDir(QDir::tempPath())
                  .filePath(QStringLiteral("tovarunmel-%1").arg(::getuid()))
                  .toStdString());
    EXPECT_EQ(markerPath("/some/where/m"), "/some/where/m");
    if (!saved.isEmpty())
        qputenv("XDG_RUNTIME_DIR", saved);
}

TEST(MarkerName, EmptyNameStandsForTheDigestOfTheFixedText)
{
    EXPECT_EQ(defaultMarkerName(), "917b41c1b5ace220c8b4dcacd5857727");
}

// Two launches of the real program on a virtual display: the second shows "禁止重复运行" under
// "友情提醒:", and once it is answered the first instance's window comes to the top and the second
// ends with exit code 0.
const char* const kTwoLaunchesScript = R"SH(#!/bin/bash
set -u
dir=$1
export TMPDIR=$dir XDG_RUNTIME_DIR=$dir QT_QPA_PLATFORM=xcb
"$dir/qingyou" > "$dir/first.log" 2>&1 &
first=$!
trap 'kill $first 2>/dev/null; kill $cover 2>/dev/null' EXIT
notice=$(timeout 20 xdotool search --sync --name '无视直接×掉' | head -1)
[ -n "$notice" ] || { echo "no notice window"; exit 2; }
# Another client's window covers the first instance.
xmessage -geometry +0+0 covering > /dev/null 2>&1 &
cover=$!
covering=$(timeout 10 xdotool search --sync --name xmessage | head -1)
# Position of a top-level window in the stack, counted from the top (xwininfo lists the top first).
stack() { xwininfo -root -children | grep -oE '^ +0x[0-9a-f]+' | tr -d ' ' | grep -n -x -e "$(printf '0x%x' "$1")" | cut -d: -f1; }
echo "notice below cover before: $([ "$(stack "$notice")" -gt "$(stack "$covering")" ] && echo yes || echo no)"
"$dir/qingyou" > "$dir/second.log" 2>&1 &
second=$!
box=$(timeout 20 xdotool search --sync --name '友情提醒:' | head -1)
[ -n "$box" ] || { echo "no message box"; exit 3; }
echo "box: $(xdotool getwindowname "$box")"
xdotool windowfocus --sync "$box"
xdotool key --clearmodifiers Return
wait $second
echo "second exit: $?"
sleep 1
echo "notice above cover after: $([ "$(stack "$notice")" -lt "$(stack "$covering")" ] && echo yes || echo no)"
echo "first running: $(kill -0 $first 2>/dev/null && echo yes || echo no)"
)SH";

TEST(TwoLaunches, SecondLaunchIsRefusedAndBringsTheFirstForward)
{
    const QString program = QStringLiteral(QY_BINARY_DIR "/bin/qingyou");
    for (const char* tool : {"xvfb-run", "xdotool", "xwininfo", "xmessage"})
        if (QStandardPaths::findExecutable(QString::fromUtf8(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed";
    if (!QFile::exists(program))
        GTEST_SKIP() << "the program is not built";

    // The program folder of this run is a temporary copy: its data folder and its marker stay here.
    QTemporaryDir folder(QStringLiteral("/tmp/qy-two-launches-XXXXXX"));
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QFile::copy(program, folder.filePath(QStringLiteral("qingyou"))));
    QFile::setPermissions(folder.filePath(QStringLiteral("qingyou")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile script(folder.filePath(QStringLiteral("two-launches.sh")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(kTwoLaunchesScript);
    script.close();

    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("xvfb-run"),
              {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1280x1024x24"),
               QStringLiteral("bash"), script.fileName(), folder.path()});
    ASSERT_TRUE(run.waitForFinished(120000));
    const QString report = QString::fromLocal8Bit(run.readAll());
    SCOPED_TRACE(report.toStdString());
    ASSERT_EQ(run.exitCode(), 0);

    auto value = [&](const QString& key) {
        for (const QString& line : report.split(QLatin1Char('\n')))
            if (line.startsWith(key + QStringLiteral(": ")))
                return line.mid(key.size() + 2).trimmed();
        return QString();
    };
    EXPECT_EQ(value(QStringLiteral("box")), QStringLiteral("友情提醒:"));
    EXPECT_EQ(value(QStringLiteral("second exit")), QStringLiteral("0"));
    EXPECT_EQ(value(QStringLiteral("first running")), QStringLiteral("yes"));
    EXPECT_EQ(value(QStringLiteral("notice below cover before")), QStringLiteral("yes"));
    EXPECT_EQ(value(QStringLiteral("notice above cover after")), QStringLiteral("yes"))
        << "the first instance's window came to the top";
}

} // namespace
