#include "playback/play_list.h"

#include "app/status_log.h"
#include "playback/episode_list.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace {

// Guards the pointer only: the lists themselves are immutable once published.
std::mutex g_playListLock;
std::shared_ptr<const TextList> g_playList = std::make_shared<const TextList>();
std::atomic<int> g_runningBuilds{0};

} // namespace

std::shared_ptr<const TextList> playList()
{
    std::lock_guard<std::mutex> lock(g_playListLock);
    return g_playList;
}

void publishPlayList(TextList entries)
{
    auto list = std::make_shared<const TextList>(std::move(entries));
    std::lock_guard<std::mutex> lock(g_playListLock);
    g_playList = std::move(list);
}

void buildPlayList(const std::string& seriesTitle)
{
    const std::shared_ptr<const OpenSeries> series = openSeries();
    TextList entries;
    entries.reserve(series->episodes.size() * 3);
    for (const Episode& episode : series->episodes) {
        // An episode the play source does not have cannot be moved on to; the next one that it
        // has follows instead.
        if (episode.url.empty())
            continue;
        entries.push_back(episode.label);
        entries.push_back(episode.url);
        entries.push_back(episode.m3u8);
    }
    publishPlayList(std::move(entries));
    logStatus("获取 " + seriesTitle + " 播放列表成功");
}

void startPlayListBuild(const std::string& seriesTitle)
{
    ++g_runningBuilds;
    // Worker thread: builds and publishes the play list.
    std::thread([seriesTitle] {
        buildPlayList(seriesTitle);
        --g_runningBuilds;
    }).detach();
}

int runningPlayListBuilds()
{
    return g_runningBuilds.load();
}
