#include "ui/player_wiring.h"

#include "app/player_form.h"
#include "playback/page_commands.h"
#include "playback/player_controller.h"
#include "playback/watch_position.h"
#include "ui/main_form.h"
#include "ui/player_window.h"
#include "ui/small_windows.h"
#include "util/gui_thread.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QVariant>

void wirePlayback(MainForm& form)
{
    gui::assertGuiThread();
    // Wired once per main window: a second call would run every handler twice.
    static const char* const wired = "qyPlaybackWired";
    if (form.window->property(wired).toBool())
        return;
    form.window->setProperty(wired, true);
    PlayerServices& services = playerServices();
    QLabel* blurb = form.透明标签_简介;
    services.showMainNotice = [blurb = QPointer<QLabel>(blurb)](const std::string& text) {
        if (blurb)
            blurb->setText(QString::fromStdString(text));
    };
    services.createPlayerWindow = [] {
        auto* window = new PlayerWindow;
        window->show();
    };
    services.sponsorWindowOpen = [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<SponsorWindow*>(widget) != nullptr && widget->isVisible())
                return true;
        }
        return false;
    };
    services.openSponsorWindow = [](QWidget* owner) { openSponsorWindow(owner); };

    QObject* context = form.window;
    MainForm* f = &form;
    QObject::connect(form.时钟_实时, &QTimer::timeout, context, [f] { pollPlayer(*f); });
}

void destroyPlayerWindow()
{
    gui::assertGuiThread();
    PlayerForm* player = playerForm();
    if (player == nullptr)
        return;
    // The program ends right after: the position is written before the window goes.
    saveWatchPosition(true);
    removeShortcutHook();
    setPlayerForm(nullptr);
    delete player->window;
}
