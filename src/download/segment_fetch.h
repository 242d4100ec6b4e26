#pragma once
// One segment of an episode: fetched with retries (and a second copy of a slow one at the tail of
// the episode) unless an earlier run left its file whole, then counted on the row and the logs.

#include "download/episode_run.h"

#include <memory>
#include <string>

// One segment (index from 1) of the episode: fetched with retries unless its file is already
// whole from an earlier run, then counted. Runs on its own thread.
void downloadSegment(const std::shared_ptr<EpisodeRun>& run, const std::string& episode,
                     const std::string& segmentUrl, const std::string& segmentIndex);
