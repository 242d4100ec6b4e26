#pragma once
// From a series row to the episode grid: the play text, its episodes, title, blurb and cover.
// The episodes are values of the open series; the grid only shows them.

#include "catalogue/catalogue_browsing.h"
#include "playback/play_list.h"
#include "playback/play_sources.h"
#include "util/latest_request.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// What the open series shows in the main window: title, blurb, cover, download button, the
// episode grid and the status log. The main window implements it (ui/main_window_views.h). GUI
// thread.
class SeriesView {
public:
    virtual ~SeriesView() = default;
    // 透明标签_标题 and 透明标签_简介.
    virtual void setSeriesTitle(const std::string& text) = 0;
    virtual void setBlurb(const std::string& text) = 0;
    // 图片框_封面: the picture in bytes, scaled to the box; bytes that are empty or no picture
    // leave the box empty.
    virtual void showCover(const std::string& bytes) = 0;
    // 超级按钮_下载 shown.
    virtual void showDownloadButton() = 0;
    // 高级表格_剧集: the episodes laid out ten per grid row, three cells each (label, url, m3u8),
    // label column 42 px wide, label cell coloured RGB(255,168,255).
    virtual void showEpisodes(const std::vector<Episode>& episodes) = 0;
    // 编辑框_状态 emptied (an episode or a resume starts).
    virtual void clearStatusLog() = 0;
};

// The grid cell (row, column) of 高级表格_剧集 as an index into the episodes shown, or -1 when it
// is no episode's label cell.
int episodeIndexOfCell(int row, int column, std::size_t episodeCount);

// The open series of the main window: the series row opened (its episodes, shown in the grid),
// the cover fetch, and playing an episode of the grid.
class SeriesBrowser {
public:
    // Filled in by the layers around it (each may be empty). GUI thread.
    struct Events {
        // A history row was opened (no play text, a history address): the resume request.
        std::function<void(const CatalogueItem& row)> historyRowOpened;
        // After a catalogue series is laid out: returns true when it ended the row's handling
        // early (a resume that fell back to the default browser; no "详细完成" line then).
        std::function<bool(const std::string& title)> seriesShown;
    };

    SeriesBrowser(SeriesView& view, const CatalogueBrowser& listing, Events events = {});
    // Stops: see stop().
    ~SeriesBrowser();
    SeriesBrowser(const SeriesBrowser&) = delete;
    SeriesBrowser& operator=(const SeriesBrowser&) = delete;

    // Ends the cover fetch in flight (it shows nothing) and returns once its thread is done.
    void stop();

    // A click on row index of 超级列表框_列表 (the listing's row index).
    void openRow(int index);
    // Makes series the open series (published for the play list and the download window) under
    // title: its episodes in the grid and its title shown. Part of openRow.
    void showSeries(const std::string& title, OpenSeries series);
    // A double-click on cell (row, column) of 高级表格_剧集: plays that episode.
    void playCell(int row, int column);

    // The series shown (透明标签_标题 as the last opened row set it) and its episodes.
    const std::string& title() const { return title_; }
    const std::vector<Episode>& episodes() const { return episodes_; }

    // Fetches the cover at url on a new detached thread and shows it; an empty or failed
    // download clears the picture. Only the latest fetch shows.
    void startCoverFetch(const std::string& url);
    // Cover fetches started and not yet finished.
    int runningCoverFetches() const { return runningCovers_->load(); }

private:
    SeriesView& view_;
    const CatalogueBrowser& listing_;
    Events events_;
    std::string title_;
    std::vector<Episode> episodes_;
    LatestRequest coverRequests_;
    std::shared_ptr<std::atomic<int>> runningCovers_ = std::make_shared<std::atomic<int>>(0);
};
