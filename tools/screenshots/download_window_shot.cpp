// Shows the download window in the middle of a run and saves a screenshot of the display with
// ImageMagick's "import -window root" as download_window.png in the folder given as argument.
// The episodes are ffmpeg-made HLS streams on a loopback server that answers a little late, so the
// run is still going when the picture is taken.

#include "app/paths.h"
#include "download/download_run.h"
#include "support/test_server.h"
#include "ui/download_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

void settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);
    QTemporaryDir temp;
    setProgramFolderForTesting(temp.path().toStdString());

    const fs::path media = fs::path(temp.path().toStdString()) / "media";
    fs::create_directories(media);
    const std::string make =
        "ffmpeg -y -nostdin -loglevel error -f lavfi -i testsrc2=size=320x180:rate=25 -f lavfi "
        "-i sine=frequency=440:sample_rate=44100 -t 40 -c:v libx264 -preset ultrafast -g 25 "
        "-c:a aac -f hls -hls_time 1 -hls_list_size 0 -hls_playlist_type vod "
        "-hls_segment_filename " +
        (media / "seg%d.ts").string() + " " + (media / "index.m3u8").string();
    if (std::system(make.c_str()) != 0) {
        std::printf("ffmpeg could not make the stream\n");
        return 1;
    }
    TestServer server;
    for (const auto& f : fs::directory_iterator(media))
        server.on(
            "/ep/" + f.path().filename().string(),
            CannedResponse{200, {}, readFile(f.path())}.after(std::chrono::milliseconds(400)));

    DownloadWindow window;
    window.setSettingsSource([root = temp.path().toStdString() + "/下载目录"] {
        DownloadSettings s;
        s.downloadRoot = root;
        s.pace = DownloadPace{150, 4};
        return s;
    });
    std::vector<std::string> addresses;
    for (int e = 1; e <= 12; ++e)
        addresses.push_back(server.url("/ep/index.m3u8") +
                            (e == 1 ? "" : "?e=" + std::to_string(e)));
    window.move(0, 0);
    window.show();
    window.openFor("山海 第1季", addresses);
    settle(800);
    for (int r = 0; r < 3; ++r)
        window.超级列表框_剧列表->topLevelItem(r)->setCheckState(0, Qt::Checked);
    window.选择框_删除->setChecked(false);
    window.超级按钮_解析下载->click();
    settle(3500);
    const QString file = folder + QStringLiteral("/download_window.png");
    const int rc = QProcess::execute(QStringLiteral("import"),
                                     {QStringLiteral("-window"), QStringLiteral("root"), file});
    std::printf("%s: %s\n", qPrintable(file), rc == 0 ? "saved" : "failed");
    requestAbort();
    waitForDownloadRun(20000);
    setProgramFolderForTesting("");
    return rc == 0 ? 0 : 1;
}
