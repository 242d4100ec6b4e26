#include "catalogue/catalogue_sources.h"

#include "app/builtin_config.h"
#include "app/settings_store.h"

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
