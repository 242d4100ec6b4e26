#include "app/settings_store.h"

#include "app/paths.h"

std::string settingsPath()
{
    return dataFolder() + "数据.ini";
}

std::string readSetting(const std::string&, const std::string&, const std::optional<std::string>& defaultValue)
{
    return defaultValue.value_or(std::string());
}

bool readFlag(const std::string& section, const std::string& key, const std::optional<std::string>& defaultValue)
{
    return readSetting(section, key, defaultValue) == "真";
}

bool writeSetting(const std::string&, const std::string&, const std::string&)
{
    return false;
}

const std::string& defaultSettingsText()
{
    static const std::string text;
    return text;
}

bool ensureSettingsFile()
{
    return false;
}
