#pragma once
// From an episode's playlist to the jobs of its segments.

#include "download/episode_run.h"

#include <memory>
#include <string>
#include <vector>

// Reads the playlist of the run's row (following a master playlist to its best variant and its
// separate audio rendition), fetches the keys once per URI and saves the initialisation sections
// beside the segments. Then the episode folder's records: the segment list of each folder is
// written and only the segment files of the same sources are kept. out: one job per segment, the
// media playlist's first, then the audio rendition's. False when the episode cannot be read,
// with the row's status cell set and the reason on the status log.
bool episodeJobs(const std::shared_ptr<DownloadRun>& owner, int row, const std::string& episode,
                 const std::string& folder, std::vector<SegmentJob>& out);
