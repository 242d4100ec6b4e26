#pragma once
// The remux of an episode's segment files into one MP4 through libavformat (stream copy).

#include <functional>
#include <string>
#include <vector>

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
