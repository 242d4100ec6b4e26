#pragma once
// The start window: header strip, seconds bar, categories, title and blurb, episode grid, search,
// cover, series list, paging row with the route box, status log. Layout and event wiring only;
// the handlers live in the layers below.

#include "app/main_form.h"

#include <QWidget>

#include <functional>

class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The components, as the handlers see them.
    MainForm& form() { return form_; }

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

    MainForm form_;
    std::function<void()> closingHandler_;
};
