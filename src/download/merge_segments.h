#pragma once
// Merging an episode's numbered segment files, in playlist order, into one MP4 file in the series
// folder: a stream-copy remux through libavformat, or, when that fails, the segments joined byte
// for byte.

#include "download/download_view.h"
#include "download/episode_folder.h"
#include "download/remux.h"

#include <functional>
#include <string>
#include <vector>

// Name of the folder, inside the episode folder, that holds the segments of a separate audio
// rendition (numbered and listed like the episode's own).
inline constexpr const char* kAudioFolderName = "audio";

// Joins the files byte for byte into outPath. False when it cannot be written.
bool joinFiles(const std::vector<std::string>& files, const std::string& outPath,
               const std::function<void(size_t)>& onFile = {});

// An incomplete merge beside a complete file of the episode goes to episode + this name.
inline constexpr const char* kIncompleteMergeSuffix = ".缺段.mp4";
// The mark in the episode folder that the episode's merged file lacks something (it was written
// by an incomplete merge because no complete one was there): a later incomplete merge may replace
// it, and only a complete one clears the mark.
inline constexpr const char* kIncompleteMarkName = "incomplete.txt";

struct MergeReport {
    int expected = 0;             // segments of the list
    int merged = 0;               // segment files that went in
    std::vector<int> missing;     // segment numbers without a file
    bool remuxed = false;         // a real MP4 was written
    bool written = false;         // the merged file exists and is whole
    std::vector<LeftOut> leftOut; // streams with media that the MP4 does not hold
    int audioSegments = 0;        // segments of a separate audio rendition that went in
    std::string file;             // where the merge went: the episode's file or the incomplete one
    bool keptComplete = false; // an earlier complete file stayed in place of this incomplete merge
};

// Merges the episode's segments (episode folder = seriesPath + separator + episode) into
// seriesPath + separator + episode + ".mp4"; logs on the merge log, writes the row's 状态 and
// 已下载 cells and 进度条1. The file is written aside and replaces the episode's file only when it
// is complete, or when the file there is not (or there is none); an incomplete merge beside a
// complete file goes to episode + kIncompleteMergeSuffix, and the row and the log say so. A
// complete merge removes an incomplete one left beside it. A separate audio rendition listed in the
// kAudioFolderName folder goes into the same file. Streams the MP4 cannot hold are named on the
// merge log, and the row says what kind of media the file lacks. Only a merge with nothing missing
// (no segment, no stream) says "完成", clears the row's check mark and, when 选择框_删除 is ticked,
// deletes the episode folder. Runs on the calling thread.
MergeReport mergeSegments(DownloadView& view, int row, const std::string& episode,
                          const std::string& seriesPath);
