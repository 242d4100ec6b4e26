#pragma once
// Merging an episode's numbered segment files, in playlist order, into one MP4 file in the series
// folder: a stream-copy remux through libavformat, or, when that fails, the segments joined byte
// for byte.

#include "download/download_view.h"

#include <functional>
#include <string>
#include <vector>

// The list the run leaves in each episode folder: the segments 1.ts … n.ts in playlist order with
// their initialisation sections and discontinuities, so a later merge knows the run's segments.
inline constexpr const char* kSegmentListName = "playlist.m3u8";

struct SegmentListEntry {
    int index = 0;            // segment number, from 1
    double duration = 0;
    std::string mapFile;      // initialisation section file in the same folder, or empty
    bool discontinuity = false;
};

// Writes kSegmentListName into the episode folder (atomically). False on a write failure.
bool writeSegmentList(const std::string& episodeFolder, const std::vector<SegmentListEntry>& entries);
// Reads it back; without one, the segments 1 … m where m is the highest number of a segment file.
std::vector<SegmentListEntry> readSegmentList(const std::string& episodeFolder);
// True when the folder holds at least one numbered segment file (n.ts).
bool holdsSegmentFiles(const std::string& episodeFolder);

// Remuxes the files, read in order as one stream, into an MP4 at outPath (stream copy, moov in
// front, timestamps kept rising across files). onFile(i) is called when file i is opened. False
// with a reason when the input cannot be read or the output cannot be written.
bool remuxToMp4(const std::vector<std::string>& files, const std::string& outPath, std::string& error,
                const std::function<void(size_t)>& onFile = {});
// Joins the files byte for byte into outPath. False when it cannot be written.
bool joinFiles(const std::vector<std::string>& files, const std::string& outPath,
               const std::function<void(size_t)>& onFile = {});

struct MergeReport {
    int expected = 0;         // segments of the list
    int merged = 0;           // segment files that went in
    std::vector<int> missing; // segment numbers without a file
    bool remuxed = false;     // a real MP4 was written
    bool written = false;     // the merged file exists and is whole
};

// Merges the episode's segments (episode folder = seriesPath + separator + episode) into
// seriesPath + separator + episode + ".mp4"; logs on the merge log, writes the row's 状态 and 已下载
// cells and 进度条1. Only a merge with nothing missing says "完成", clears the row's check mark and,
// when 选择框_删除 is ticked, deletes the episode folder. Runs on the calling thread.
MergeReport mergeSegments(DownloadView& view, int row, const std::string& episode, const std::string& seriesPath);
