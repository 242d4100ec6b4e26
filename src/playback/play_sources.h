#pragma once
// A series' play sources taken by kind: of the sources a catalogue server lists for a series
// (vod_play_from names, vod_play_url episodes, both joined by "$$$" in the same order), the first
// HLS source is the one played and downloaded; the others only tell which episodes exist.

#include <string>
#include <vector>

// One playable entry: the label without "第" and "集", the address the player is handed, the
// address its fallbacks and the history use, and the HLS playlist the download window fetches.
// An address the series does not offer for the episode is empty.
struct Episode {
    std::string label;
    std::string url;
    std::string m3u8;
    std::string download{};
};

// An address of an HLS playlist: its path (before any "?") ends in ".m3u8".
bool isHlsAddress(const std::string& address);

// The episodes of a series from its source names (vod_play_from) and play text (vod_play_url).
//
// Sources are read side by side. An HLS source is one whose name ends in "m3u8" (any letter case)
// or whose addresses all are HLS addresses. The first HLS source is the play source: every
// episode's url, m3u8 and download address come from it. Without an HLS source the first
// non-empty source is played as it is (url only; no m3u8, nothing to download).
//
// Episodes pair across sources by label, not by position: "第01集", "01" and "1" are one
// episode; a label given twice in a source pairs its n-th occurrence with the n-th occurrence in
// another. The list follows the play source's order; episodes only the first source has (an
// HLS source that lags behind, or misses one) are put where the first source has them, with
// no addresses, so the user sees they exist and that they cannot be played or downloaded. When
// the two sources share no label at all (a film labelled "正片" in one and "HD" in the other) they
// are taken as one set of episodes under the play source's labels.
//
// Without source names (older servers) the episodes are paired by position as pairEpisodes does,
// and an episode is downloadable through its m3u8 address or, failing that, its url when that
// is an HLS address.
std::vector<Episode> selectEpisodes(const std::string& playFrom, const std::string& playText);

// The download window's list: each episode's download address, in episode order (empty for an
// episode that has none).
std::vector<std::string> downloadAddresses(const std::vector<Episode>& episodes);

// The episodes of a play text paired by position: sources separated by "$$$", episodes by
// "#", label and address by "$". Episode k takes label and url from the first source and m3u8
// from position k of the second source, or its own url when that source has no position k. A
// piece without "$" is an address whose label is its episode number. No download addresses.
std::vector<Episode> pairEpisodes(const std::string& playText);
