#pragma once
// The records a run keeps in an episode folder: where each segment file came from (so a later run
// keeps only files of the same source) and the list of the segments in playlist order (so a later
// merge knows the run's segments).

#include "download/hls_playlist.h"

#include <map>
#include <string>
#include <vector>

// The record of where each segment file of an episode folder came from: the playlist, then one
// line per file, "n<TAB>source", where source names the segment URI with its byte range and key.
// A later run keeps a file only when its source is the same; the last line of a number counts.
inline constexpr const char* kSegmentSourcesName = "sources.txt";

// The list the run leaves in each episode folder: the segments 1.ts … n.ts in playlist order with
// their initialisation sections and discontinuities, so a later merge knows the run's segments.
inline constexpr const char* kSegmentListName = "playlist.m3u8";

// Text without the line end and trailing spaces a playlist line may carry.
std::string trimLineEnd(std::string s);

// Whether name is a segment file's name ("n.ts", n from 1 without leading zeros); its number.
bool isSegmentName(const std::string& name, int& number);

// Where a segment file is made from: its URI, byte range and key, so a file is only taken again
// for the very same bytes.
std::string segmentSource(const HlsSegment& seg, const HlsPlaylist& playlist);

// Reads the sources record of an episode folder: segment number -> source (the last line of a
// number counts).
std::map<int, std::string> readSegmentSources(const std::string& folder);

// Keeps only the segment files of the folder that an earlier run made from the same source as
// this playlist's segment of that number (sources[n - 1] for n.ts); every other n.ts (another
// route, another series with the same folder name, a file from before the record existed) and
// every partial file goes. Then starts the record afresh with the playlist and the files kept.
// Returns how many were kept.
int keepOnlyMatchingSegments(const std::string& folder, const std::string& playlistUrl,
                             const std::vector<std::string>& sources);

// Adds "number<TAB>source" to the folder's sources record (once that segment's file is whole).
void recordSegmentSource(const std::string& folder, int number, const std::string& source);

struct SegmentListEntry {
    int index = 0; // segment number, from 1
    double duration = 0;
    std::string mapFile; // initialisation section file in the same folder, or empty
    bool discontinuity = false;
};

// Writes kSegmentListName into the episode folder (atomically). False on a write failure.
bool writeSegmentList(const std::string& episodeFolder,
                      const std::vector<SegmentListEntry>& entries);
// Reads it back; without one, the segments 1 … m where m is the highest number of a segment file.
std::vector<SegmentListEntry> readSegmentList(const std::string& episodeFolder);
// True when the folder holds at least one numbered segment file (n.ts).
bool holdsSegmentFiles(const std::string& episodeFolder);
