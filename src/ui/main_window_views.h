#pragma once
// The main window's views: the catalogue and the open series write values here, and the window's
// widgets show them. Nothing is read back from a widget to learn what a row or a cell is; the
// only reads are the user's own inputs (the search box, the page box, the route picked). GUI
// thread.

#include "catalogue/catalogue_browsing.h"
#include "catalogue/catalogue_view.h"
#include "playback/episode_list.h"
#include "ui/main_form.h"

class QTreeWidget;

class MainWindowViews : public CatalogueView, public SeriesView {
public:
    explicit MainWindowViews(MainForm& form) : form_(form) {}

    // SeriesListView.
    void showSeriesRows(const std::vector<CatalogueItem>& rows) override;

    // CatalogueView.
    void showLoadingHint(const std::string& text) override;
    void hideLoadingHint() override;
    void setBlurb(const std::string& text) override;
    void setRecordCounts(const std::string& total, const std::string& pageCount) override;
    std::string currentPageText() override;
    void setCurrentPageText(const std::string& text) override;
    void setPagingEnabled(bool first, bool previous, bool next, bool last) override;
    void setSearchEnabled(bool enabled) override;
    std::string searchText() override;
    void setSearchText(const std::string& text) override;
    void setRouteEntries(const std::vector<std::string>& hosts) override;
    int selectedRoute() override;
    void selectRoute(int index) override;
    void openSponsorWindow() override;

    // SeriesView.
    void setSeriesTitle(const std::string& text) override;
    void showCover(const std::string& bytes) override;
    void showDownloadButton() override;
    void showEpisodes(const std::vector<Episode>& episodes) override;
    void clearStatusLog() override;

private:
    MainForm& form_;
};

// The catalogue's events as playback takes them: a route switch holds the player back
// (PendingAction::Starting) until a load ends, and a load that ends lets it go.
CatalogueBrowser::Events playbackCatalogueEvents();

// Fills 超级列表框_分类 with CategoryTable: 14 columns, label in the even column, its id as text
// in the odd column beside it. GUI thread.
void fillCategoryList(QTreeWidget* list);
