#pragma once
// The player window: a dark frame hosting the embedded browser and a 28-pixel bar along the
// bottom with the episode label, the jump threshold and countdown, three option boxes and the
// player command buttons. Layout and event wiring only; the handlers live in the playback layer.

#include "app/player_form.h"

#include <QWidget>

class PlayerWindow : public QWidget {
    Q_OBJECT
public:
    // Creates the components, then runs the creation handler (browser, options, saved size,
    // shortcut hook) and registers itself as the program's player window.
    explicit PlayerWindow(QWidget* parent = nullptr);
    ~PlayerWindow() override;

    PlayerForm& form() { return form_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createComponents();
    void wireEvents();

    PlayerForm form_;
    bool created_ = false;
    bool shown_ = false;
};
