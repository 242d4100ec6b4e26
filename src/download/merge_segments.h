#pragma once
// Merging an episode's numbered segment files, in playlist order, into one MP4 file in the series
// folder: a stream-copy remux through libavformat, or, when that fails, the segments joined byte
// for byte.

#include "download/download_view.h"
#include "download/episode_folder.h"

#include <functional>
#include <string>
#include <vector>

// Name of the folder, inside the episode folder, that holds the segments of a separate audio
// rendition (numbered and listed like the episode's own).
inline constexpr const char* kAudioFolderName = "audio";

// One input of a remux: files read in order as one stream (an initialisation section first when
// the segments need one). segment is the file's segment number for progress, 0 for a section.
struct RemuxFile {
    std::string path;
    int segment = 0;
};
struct RemuxInput {
    std::vector<RemuxFile> files;
};
// A run of the episode between discontinuities: its segments, and the segments of a separate audio
// rendition over the same time when there is one. Each run starts on one clock shared by all of its
// streams, right where the run before it ended.
struct RemuxRun {
    std::vector<RemuxInput> inputs;
};
// What a stream that could not go into the MP4 carried: the row names the kind of media the
// file lacks from it.
enum class LostMedia {
    Audio,
    Video,
    Content, // a stretch of the segments that could not be read at all
};
struct LeftOut {
    LostMedia kind = LostMedia::Content;
    std::string text; // as the merge log names it: "音频流 s302m (第 4 段起)"
};
struct RemuxOutcome {
    std::string error;            // why nothing could be written
    std::vector<LeftOut> leftOut; // streams that carried media but could not go into the MP4
};

// Remuxes the runs, in order, into an MP4 at outPath (stream copy, moov in front). Every audio and
// video stream of any run gets a track: a stream continues the track of the same kind and codec
// that the run before it had, or opens a track of its own. Within a run, a jump of the timestamps
// (back, or forward by more than half a second) is a discontinuity too: the run's streams move
// together onto the end of what came before, so audio and video stay aligned and no hole is left.
// onFile(input, segment) is called as each file of an input is opened. False with outcome.error
// when the input cannot be read or the output cannot be written.
bool remuxToMp4(const std::vector<RemuxRun>& runs, const std::string& outPath,
                RemuxOutcome& outcome,
                const std::function<void(size_t input, int segment)>& onFile = {});
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
