#pragma once
// The start window: header strip, seconds bar, categories, title and blurb, episode grid, search,
// cover, series list, paging row with the route box, status log. Layout, its views and event
// wiring; the window owns the controllers behind it (the catalogue's listing and the open
// series), which see it only through its views.

#include "catalogue/catalogue_browsing.h"
#include "playback/episode_list.h"
#include "ui/main_form.h"
#include "ui/main_window_views.h"

#include <QWidget>

#include <functional>

class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The components, as the handlers see them.
    MainForm& form() { return form_; }
    MainWindowViews& views() { return views_; }
    // The catalogue listing shown in the series list, and the open series.
    CatalogueBrowser& catalogue() { return catalogue_; }
    SeriesBrowser& series() { return series_; }

    // Ends the controllers' work (loads, cover fetch) before the program exits. GUI thread.
    void stop();

    // Runs when the window is about to close (before it is destroyed). Without one the window
    // simply closes.
    void setClosingHandler(std::function<void()> handler) { closingHandler_ = std::move(handler); }

    // Brings the window forward: shown, restored when minimised, raised and activated.
    void bringToFront();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void createComponents();
    void wireEvents();
    // The handlers of the catalogue and episode layers (main_window_wiring.cpp).
    void wireCatalogueEvents();
    // The handlers of the playback layer: history, player poll, episode double-click.
    void wirePlaybackEvents();
    void onTimerTick();
    SeriesBrowser::Events seriesEvents();

    MainForm form_;
    MainWindowViews views_{form_};
    CatalogueBrowser catalogue_;
    SeriesBrowser series_;
    std::function<void()> closingHandler_;
};
