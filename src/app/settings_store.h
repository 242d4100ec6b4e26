#pragma once
#include <optional>
#include <string>

// The settings and history file "数据.ini" in the data folder: an INI file stored as GB18030 with
// CRLF line ends. There is no settings object in memory: every call reads or writes the file.
// Section and key names match without regard to ASCII case; a new key is appended at the end of
// its section, a new section at the end of the file, and everything else stays as it was.
// Every access is serialised by one process-wide lock, and every write replaces the file
// atomically (temporary file in the same folder, flushed, then renamed), so a crash or kill
// leaves either the old or the new file. Texts are UTF-8 on this side.

// dataFolder() + "数据.ini", rebuilt on every call.
std::string settingsPath();

// The stored value (whole, however long); when the key or the file is missing, defaultValue, or
// the empty text when none is given.
std::string readSetting(const std::string& section, const std::string& key,
                        const std::optional<std::string>& defaultValue = std::nullopt);

// readSetting compared with "真": true exactly when the stored text is "真" (or, for a missing
// key, when defaultValue is "真").
bool readFlag(const std::string& section, const std::string& key,
              const std::optional<std::string>& defaultValue = std::nullopt);

// Writes or replaces the key, creating the section and the file as needed (the folder must
// exist). False when the file cannot be written, or when the section or key is empty or a name
// or the value holds a line break (which would break the file's lines); nothing is written then.
bool writeSetting(const std::string& section, const std::string& key, const std::string& value);

// Why a write of a settings file did not happen.
enum class SettingsWriteError {
    None,
    InvalidText, // an empty section or key, or a name or value that would break the file's lines
    Unreadable,  // the file exists but cannot be read, so it is not replaced
    CannotWrite, // the new file could not be written or put in place
};
struct SettingsWriteResult {
    SettingsWriteError error = SettingsWriteError::None;
    std::string path;   // the file
    std::string detail; // the system's reason, when it gave one
    bool ok() const { return error == SettingsWriteError::None; }
};

// writeSetting, telling why a write failed.
SettingsWriteResult storeSetting(const std::string& section, const std::string& key,
                                 const std::string& value);

// The same writer for any other INI file of the program (the export list): path is the file.
bool writeIniValue(const std::string& iniPath, const std::string& section, const std::string& key,
                   const std::string& value);
SettingsWriteResult storeIniValue(const std::string& iniPath, const std::string& section,
                                  const std::string& key, const std::string& value);

// Replaces the file at path with bytes atomically, under the store's lock. False on failure.
bool replaceFileAtomically(const std::string& path, const std::string& bytes);

// The content written when the file does not exist at start-up: the 57 bytes (GB18030, equal to
// GBK here) of "[配置项]\r\n线路=0\r\n副屏=真\r\n连播=真\r\n\r\n[观看历史]\r\n数据=\r\n".
const std::string& defaultSettingsText();

// Start-up: when the settings file does not exist, writes defaultSettingsText() to it (atomically,
// under the store's lock). True when the file exists afterwards.
bool ensureSettingsFile();
