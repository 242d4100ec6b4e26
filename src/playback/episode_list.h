#pragma once
// From a series row to the episode grid: the play text, its episodes, title, blurb and cover.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "playback/play_list.h"
#include "playback/play_sources.h"

struct MainForm;

// The play text rewritten and split into its non-empty fields: "$" -> "#", "###" -> "#",
// "\/" -> "/", "第" and "集" removed, split at "#".
TextList splitPlayText(const std::string& playText);

// The open series: episodeFields (the flat field list the download window reads) and the episodes
// the grid and the play list are made of. Replaced as a whole when a series row is opened.
struct OpenSeries {
    TextList episodeFields;
    std::vector<Episode> episodes;
};
std::shared_ptr<const OpenSeries> openSeries();
void publishOpenSeries(OpenSeries series);
// The flat field list of the open series (a copy).
TextList episodeFields();

// Handler of a click on a row of 超级列表框_列表 (works on the list's current row). GUI thread.
void openSeriesRow(MainForm& form);

// Lays episodes out in 高级表格_剧集: ten per grid row, three cells each (label, url, m3u8), label
// column 42 px wide, label cell coloured RGB(255,168,255). Lets pending events run while it fills;
// a fill started meanwhile takes over and the older one stops (false then). GUI thread.
bool fillEpisodeGrid(MainForm& form, const std::vector<Episode>& episodes);

// Fetches the cover at url on a new detached thread and shows it in 图片框_封面; an empty or failed
// download clears the picture. Only the latest fetch writes.
void startCoverFetch(MainForm& form, const std::string& url);

// The hooks the watch history fills in (all run on the GUI thread):
// historyRowOpened — a history row was clicked (column 4 empty, column 5 not): the resume request.
// resumePending / startResume — after a catalogue series is laid out; startResume returns true
// when it ended the handler early (no "详细完成" line then).
struct SeriesRowHooks {
    std::function<void(MainForm&, const std::string& name, const std::string& url,
                       const std::string& m3u8)>
        historyRowOpened;
    std::function<bool()> resumePending;
    std::function<bool(MainForm&)> startResume;
};
void setSeriesRowHooks(SeriesRowHooks hooks);

// Cover fetches started and not yet finished.
int runningCoverFetches();
