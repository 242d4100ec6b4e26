#include "playback/player_endpoints.h"

#include "app/builtin_config.h"
#include "app/settings_store.h"
#include "playback/play_sources.h"

namespace {

std::string configured(const char* key, const char* builtin)
{
    std::string value = readSetting("配置项", key);
    return value.empty() ? std::string(builtin) : value;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::string playerPageEndpoint()
{
    return configured("播放器地址", kBuiltinPlayerPageEndpoint);
}

std::string altPlayerEndpoint()
{
    return configured("备用播放器地址", kBuiltinAltPlayerEndpoint);
}

std::string episodeAddress(const std::string& url)
{
    for (const std::string& prefix : {playerPageEndpoint(), altPlayerEndpoint()}) {
        if (startsWith(url, prefix))
            return url.substr(prefix.size());
    }
    return url;
}

bool playsOnPlayerPage(const std::string& url)
{
    return url.find("index.m3u8") != std::string::npos || isHlsAddress(url);
}
