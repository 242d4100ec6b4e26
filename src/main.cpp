// The composition root: the application object, the main window and the start-up sequence.

#include "app/startup.h"
#include "platform/os_version.h"
#include "ui/browser_startup.h"
#include "ui/download_window.h"
#include "ui/header_clock.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/player_wiring.h"
#include "ui/small_windows.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // The version is fixed before any window exists.
    setOsVersion(detectOsVersion());

    // The embedded browser shares OpenGL contexts with the windows; Qt wants this before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    MainWindow window;

    window.setClosingHandler([&window] {
        onMainWindowClosing([&window] {
            // Shutdown: the main window's loads and cover fetch end first (their threads are
            // told to stop and finish), then the other windows go.
            window.stop();
            destroyPlayerWindow();
            // The download window is owned by the main window.
            qDeleteAll(window.findChildren<DownloadWindow*>(Qt::FindDirectChildrenOnly));
        });
    });

    StartupSteps steps;
    // A later launch asks this instance to come forward: the main window once it is shown, and a
    // modal window open over it (the notice window during start-up) on top of it.
    steps.activateWindows = [&window] {
        if (window.isVisible())
            window.bringToFront();
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->show();
            modal->raise();
            modal->activateWindow();
        }
    };
    steps.showNoticeWindow = [] {
        NoticeWindow notice;
        notice.exec();
    };
    CatalogueBrowser& catalogue = window.catalogue();
    steps.fillRouteBox = [&catalogue] { catalogue.fillRouteBox(); };
    steps.selectRoute = [&catalogue](int value) { catalogue.selectRouteEntry(value); };
    steps.startCatalogueLoad = [&catalogue](int mode, int page) {
        catalogue.startLoad(mode, page);
    };
    steps.fillDateLabels = [&window](const QDate& today) { fillHeaderDates(window.form(), today); };
    steps.startBrowserBridge = [&window] { return startBrowserAtStartup(&window); };

    steps.placeMainWindow = [&window] { window.move(10, 10); };
    steps.showMessage = programMessageBox();

    onMainWindowCreated(steps);
    window.show();
    return app.exec();
}
