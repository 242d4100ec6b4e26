#include "catalogue/catalogue_sources.h"

#include "app/builtin_config.h"
#include "app/main_form.h"
#include "app/settings_store.h"
#include "app/status_log.h"
#include "catalogue/catalogue_client.h"
#include "playback/playback_state.h"
#include "util/gui_thread.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> splitHosts(const std::string& text)
{
    std::vector<std::string> hosts;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t bar = text.find('|', from);
        if (bar == std::string::npos)
            bar = text.size();
        std::string host = trimmed(text.substr(from, bar - from));
        if (!host.empty())
            hosts.push_back(std::move(host));
        from = bar + 1;
    }
    return hosts;
}

} // namespace

std::vector<std::string> routeHosts()
{
    std::vector<std::string> hosts = splitHosts(readSetting("配置项", "线路列表"));
    if (hosts.empty())
        hosts = splitHosts(kBuiltinRouteList);
    return hosts;
}

void fillRouteBox(MainForm& form)
{
    gui::assertGuiThread();
    QComboBox* box = form.组合框_线路;
    box->clear();
    const std::vector<std::string> hosts = routeHosts();
    for (std::size_t i = 0; i < hosts.size(); ++i)
        box->addItem(QString::fromStdString(hosts[i]), static_cast<int>(i));
    box->setCurrentIndex(-1);
}

void selectRouteEntry(MainForm& form, int value)
{
    gui::assertGuiThread();
    QComboBox* box = form.组合框_线路;
    box->setCurrentIndex(box->findData(value));
}

void switchRoute(MainForm& form)
{
    gui::assertGuiThread();
    playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
    form.透明标签_简介->setText(QStringLiteral("请稍等 ! 线路正在切换中..."));
    logStatus("正在切换线路");
    QComboBox* box = form.组合框_线路;
    const int index = box->currentIndex();
    const int value = index >= 0 ? box->itemData(index).toInt() : -1;
    writeSetting("配置项", "线路", std::to_string(value));
    // The new route's listing starts at page 1, so the page box must say so as well.
    form.标签_当前->setText(QStringLiteral("1"));
    startCatalogueLoad(form, kLatestMode, 1);
}
