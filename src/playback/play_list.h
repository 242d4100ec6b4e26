#pragma once
// The open series' episodes, as the player controller and the download window read them.
// Writers publish a whole new list at once; a reader holds its snapshot for as long as it needs
// it, so it never sees a list half-built or released.

#include <memory>
#include <string>
#include <vector>

using TextList = std::vector<std::string>;

// The play list: consecutive triples of label, url and m3u8 in episode order (length a multiple
// of 3). Never null; empty before the first build.
std::shared_ptr<const TextList> playList();
void publishPlayList(TextList entries);

// Rebuilds the play list from the open series' episodes that have a play address, then logs
// "获取 " + seriesTitle + " 播放列表成功" (the series shown). Runs on the calling (worker) thread.
void buildPlayList(const std::string& seriesTitle);

// Starts buildPlayList on a new detached worker thread.
void startPlayListBuild(const std::string& seriesTitle);

// Play-list builds started and not yet finished.
int runningPlayListBuilds();
