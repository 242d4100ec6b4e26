#pragma once
// Shared by the catalogue window tests: a main-window record built from plain widgets, a fake
// catalogue server on loopback HTTPS, a temporary program folder for the settings file, and
// waiting for the loads and fetches that run on worker threads.

#include "app/paths.h"
#include "app/settings_store.h"
#include "app/status_log.h"
#include "catalogue/catalogue_browsing.h"
#include "catalogue/catalogue_pages.h"
#include "playback/episode_list.h"
#include "playback/play_list.h"
#include "support/test_server.h"
#include "ui/main_form.h"
#include "ui/main_window_views.h"
#include "ui/status_log_box.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrlQuery>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace catalogue_testing {

namespace cp = catalogue_pages;

// Waits (running GUI events) until no catalogue load, cover fetch or play-list build of the
// owner's controllers (a CatalogueForm or a MainWindow) is running. Then runs what the workers
// posted last (their results and log lines).
template <class Owner>
bool waitForWorkers(Owner& owner, int timeoutMs = 20000)
{
    const bool idle = QTest::qWaitFor(
        [&owner] {
            return owner.catalogue().runningLoads() == 0 &&
                   owner.series().runningCoverFetches() == 0 && runningPlayListBuilds() == 0;
        },
        timeoutMs);
    QCoreApplication::processEvents();
    return idle;
}

// The program folder of a test: the settings file lives in a temporary folder. Its 证书文件 names
// the test authority, which issued the loopback HTTPS servers' certificates.
class TempProgramFolder {
public:
    TempProgramFolder()
    {
        setProgramFolderForTesting(dir_.path().toStdString());
        ensureDataFolder();
        writeSetting("配置项", "证书文件", TestServer::certificateFile());
    }
    ~TempProgramFolder() { setProgramFolderForTesting(""); }
    TempProgramFolder(const TempProgramFolder&) = delete;
    TempProgramFolder& operator=(const TempProgramFolder&) = delete;

private:
    QTemporaryDir dir_;
};

// A catalogue server whose listings name their items after the request: tag:selector:pPAGE:N,
// the selector being "latest", "t<id>" or "wd=<keyword>". Every listing has 45 records on 3
// pages (20, 20, 5 items); the keyword "nothing" finds nothing. delay(page) slows the answers
// for one page number.
class FakeCatalogue {
public:
    explicit FakeCatalogue(std::string tag) : tag_(std::move(tag))
    {
        server.onHandler("/api.php/provide/vod/",
                         [this](const RecordedRequest& r, int) { return answer(r); });
    }

    std::string host() const { return server.hostPort(); }

    void delay(int page, int ms)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        delays_[page] = ms;
    }

    // The listing request targets in arrival order (the route's type list, "ac=list", which
    // this server does not keep, left out).
    std::vector<std::string> targets() const
    {
        std::vector<std::string> list;
        for (const RecordedRequest& r : server.requests())
            if (r.target.find("ac=list") == std::string::npos)
                list.push_back(r.target);
        return list;
    }

    TestServer server{TestServer::Scheme::Https};

private:
    CannedResponse answer(const RecordedRequest& r)
    {
        const auto question = r.target.find('?');
        const QUrlQuery query(QString::fromStdString(
            question == std::string::npos ? std::string() : r.target.substr(question + 1)));
        const std::string wd =
            query.queryItemValue(QStringLiteral("wd"), QUrl::FullyDecoded).toStdString();
        const std::string t = query.queryItemValue(QStringLiteral("t")).toStdString();
        const int pg = query.queryItemValue(QStringLiteral("pg")).toInt();
        std::string selector = query.hasQueryItem(QStringLiteral("wd"))  ? "wd=" + wd
                               : query.hasQueryItem(QStringLiteral("t")) ? "t" + t
                                                                         : "latest";
        std::string body;
        if (wd == "nothing") {
            body = cp::page(0, 0, {});
        } else {
            const int count = pg == 3 ? 5 : 20;
            std::vector<cp::Json> list;
            for (int i = 1; i <= count; ++i)
                list.push_back(cp::item(tag_ + ":" + selector + ":p" + std::to_string(pg) + ":" +
                                        std::to_string(i)));
            body = cp::page(45, 3, list);
        }
        CannedResponse response{200, {"Content-Type: application/json; charset=utf-8"}, body};
        std::lock_guard<std::mutex> lock(mutex_);
        const auto slow = delays_.find(pg);
        if (slow != delays_.end())
            response = response.after(std::chrono::milliseconds(slow->second));
        return response;
    }

    std::string tag_;
    std::mutex mutex_;
    std::map<int, int> delays_;
};

// The main-window components the catalogue and episode handlers use, as plain widgets, with the
// window's views over them and the two controllers behind the views.
class CatalogueForm {
public:
    CatalogueForm()
    {
        form.window = &window;
        auto make = [this](auto*& member, const char* name) {
            using W = std::remove_pointer_t<std::remove_reference_t<decltype(member)>>;
            member = new W(&window);
            member->setObjectName(QString::fromUtf8(name));
        };
        make(form.超级列表框_分类, "超级列表框_分类");
        make(form.透明标签_标题, "透明标签_标题");
        make(form.透明标签_简介, "透明标签_简介");
        make(form.高级表格_剧集, "高级表格_剧集");
        make(form.编辑框_搜索, "编辑框_搜索");
        make(form.超级按钮_搜索, "超级按钮_搜索");
        make(form.图片框_封面, "图片框_封面");
        make(form.超级按钮_下载, "超级按钮_下载");
        make(form.超级列表框_列表, "超级列表框_列表");
        make(form.标签提示, "标签提示");
        make(form.按钮_首页, "按钮_首页");
        make(form.按钮_上一页, "按钮_上一页");
        make(form.标签_当前, "标签_当前");
        make(form.标签_页数, "标签_页数");
        make(form.按钮_下一页, "按钮_下一页");
        make(form.按钮_尾页, "按钮_尾页");
        make(form.标签_共有记录数, "标签_共有记录数");
        make(form.组合框_线路, "组合框_线路");
        make(form.编辑框_状态, "编辑框_状态");
        form.超级列表框_列表->setColumnCount(7);
        form.编辑框_搜索->setText(QStringLiteral("请输入剧名搜索"));
        form.标签_当前->setText(QStringLiteral("1"));
        form.标签_页数->setText(QStringLiteral("2680"));
        form.标签_共有记录数->setText(QStringLiteral("98650"));
        form.图片框_封面->resize(160, 233);
        form.超级按钮_下载->hide();
        form.标签提示->hide();
        setStatusLogBox(form.编辑框_状态);
        window.resize(451, 800);
        window.show();
    }
    ~CatalogueForm()
    {
        waitForWorkers(*this);
        setStatusLogBox(nullptr);
    }
    CatalogueForm(const CatalogueForm&) = delete;
    CatalogueForm& operator=(const CatalogueForm&) = delete;

    // Routes for the given hosts (stored as 线路列表, as the user's settings would name them),
    // entry `selected` chosen.
    void setRoutes(const std::vector<std::string>& hosts, int selected = 0)
    {
        std::string list;
        for (const std::string& host : hosts)
            list += (list.empty() ? "" : "|") + host;
        writeSetting("配置项", "线路列表", list);
        catalogue_.fillRouteBox();
        catalogue_.selectRouteEntry(selected);
    }

    CatalogueBrowser& catalogue() { return catalogue_; }
    SeriesBrowser& series() { return *series_; }

    // The open series with events of a test's own.
    void setSeriesEvents(SeriesBrowser::Events events)
    {
        series_.reset();
        series_.emplace(views, catalogue_, std::move(events));
    }

    // Shows rows in the series list, as a load would.
    void showRows(std::vector<CatalogueItem> rows)
    {
        catalogue_.showListing(std::move(rows), "1", "1");
    }

    // The status log's messages, newest first, without their time stamps.
    std::vector<std::string> logLines() const
    {
        std::vector<std::string> lines;
        for (const QString& line : form.编辑框_状态->toPlainText().split(QStringLiteral("\n"))) {
            QString text = line;
            text.remove(QLatin1Char('\r'));
            if (text.size() > 11)
                lines.push_back(text.mid(11).toStdString());
        }
        return lines;
    }
    int logCount(const std::string& message) const
    {
        int n = 0;
        for (const std::string& line : logLines())
            n += line == message ? 1 : 0;
        return n;
    }

    std::vector<std::string> rowTitles() const
    {
        std::vector<std::string> titles;
        for (int i = 0; i < form.超级列表框_列表->topLevelItemCount(); ++i)
            titles.push_back(form.超级列表框_列表->topLevelItem(i)->text(0).toStdString());
        return titles;
    }

    // "1111": first, previous, next, last enabled.
    std::string pagingState() const
    {
        std::string s;
        for (QPushButton* b : {form.按钮_首页, form.按钮_上一页, form.按钮_下一页, form.按钮_尾页})
            s += b->isEnabled() ? '1' : '0';
        return s;
    }

    std::string text(QLabel* label) const { return label->text().toStdString(); }
    std::string text(QLineEdit* edit) const { return edit->text().toStdString(); }

    QWidget window;
    MainForm form;
    MainWindowViews views{form};

private:
    CatalogueBrowser catalogue_{views, playbackCatalogueEvents()};
    std::optional<SeriesBrowser> series_{std::in_place, views, catalogue_};
};

} // namespace catalogue_testing
