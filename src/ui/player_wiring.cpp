#include "ui/player_wiring.h"

#include "app/main_form.h"
#include "app/player_form.h"
#include "catalogue/catalogue_browsing.h"
#include "playback/episode_list.h"
#include "playback/history.h"
#include "playback/page_commands.h"
#include "playback/player_controller.h"
#include "playback/watch_position.h"
#include "ui/player_window.h"
#include "ui/small_windows.h"
#include "util/gui_thread.h"

#include <QApplication>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVariant>

void wirePlayback(MainForm& form)
{
    gui::assertGuiThread();
    // Wired once per main window: a second call would run every handler twice.
    static const char* const wired = "qyPlaybackWired";
    if (form.window->property(wired).toBool())
        return;
    form.window->setProperty(wired, true);
    setPlaybackMainForm(&form);
    PlayerServices& services = playerServices();
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
    QObject::connect(form.图形按钮_历史, &QPushButton::clicked, context, [f] { showHistory(*f); });
    form.超级列表框_列表->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(form.超级列表框_列表, &QTreeWidget::customContextMenuRequested, context,
                     [f] { explainFavourites(*f); });
    QObject::connect(form.高级表格_剧集, &QTableWidget::cellDoubleClicked, context,
                     [f] { playEpisodeCell(*f); });
    QObject::connect(form.时钟_实时, &QTimer::timeout, context, [f] { pollPlayer(*f); });

    SeriesRowHooks hooks;
    hooks.historyRowOpened = [](MainForm& main, const std::string& name, const std::string& url,
                                const std::string& m3u8) {
        requestResume(main, name, url, m3u8, [](MainForm& m) { startSearch(m); });
    };
    hooks.resumePending = [] { return resumePending(); };
    hooks.startResume = [](MainForm& main) { return startResume(main); };
    setSeriesRowHooks(std::move(hooks));
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
