#include "app/settings_store.h"

#include "app/paths.h"
#include "net/charset.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <mutex>
#include <string_view>
#include <vector>

namespace {

// One lock for every access to the file, so that read-modify-write cycles of different threads
// never interleave and no write is lost.
std::mutex storeMutex;

const std::string kTrue = "真";

// Length of the GB18030 character starting at at: one byte below 0x80, four when the second byte
// is a digit (the four-byte form), two otherwise. Names and values are walked character by
// character so that trail bytes that look like ASCII ("]", letters) are never taken for ASCII.
size_t gbCharLength(std::string_view s, size_t at)
{
    const auto lead = static_cast<unsigned char>(s[at]);
    if (lead < 0x81 || lead == 0xFF || at + 1 >= s.size())
        return 1;
    const auto second = static_cast<unsigned char>(s[at + 1]);
    if (second >= 0x30 && second <= 0x39)
        return at + 3 < s.size() ? 4 : 1;
    return 2;
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Section and key names compare without regard to the case of ASCII letters.
bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size();) {
        const size_t n = gbCharLength(a, i);
        if (n == 1) {
            if (asciiLower(a[i]) != asciiLower(b[i]))
                return false;
        } else if (a.substr(i, n) != b.substr(i, n)) {
            return false;
        }
        i += n;
    }
    return true;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// One line of the file: its bytes without the line end, and where the next line starts.
struct Line {
    size_t begin;
    size_t contentEnd;
    size_t end;
};

std::vector<Line> splitLines(const std::string& bytes)
{
    std::vector<Line> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t lf = bytes.find('\n', at);
        const size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
        size_t contentEnd = lf == std::string::npos ? bytes.size() : lf;
        if (contentEnd > at && bytes[contentEnd - 1] == '\r')
            --contentEnd;
        lines.push_back({at, contentEnd, end});
        at = end;
    }
    return lines;
}

std::string_view content(const std::string& bytes, const Line& line)
{
    return std::string_view(bytes).substr(line.begin, line.contentEnd - line.begin);
}

// The name of a section line "[name]", or nothing for other lines.
std::optional<std::string_view> sectionName(std::string_view line)
{
    line = trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    for (size_t i = 1; i < line.size(); i += gbCharLength(line, i)) {
        if (line[i] == ']')
            return trim(line.substr(1, i - 1));
    }
    return std::nullopt;
}

// Splits a key line "name=value" (both trimmed); false for lines without "=".
bool splitKey(std::string_view line, std::string_view& name, std::string_view& value)
{
    // "=" lies below every trail byte of GB18030, so a byte search is safe here.
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    name = trim(line.substr(0, eq));
    value = trim(line.substr(eq + 1));
    return true;
}

// Where a section and one of its keys sit in the file.
struct Location {
    std::optional<size_t> section; // line index of the section header
    std::optional<size_t> key;     // line index of the key
    size_t lastContent = 0;        // last non-blank line of the section
    std::string_view value;
};

Location locate(const std::string& bytes, const std::vector<Line>& lines, std::string_view section,
                std::string_view key)
{
    Location where;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = content(bytes, lines[i]);
        if (const auto name = sectionName(line)) {
            if (where.section)
                break;
            if (sameName(*name, section)) {
                where.section = i;
                where.lastContent = i;
            }
            continue;
        }
        if (!where.section)
            continue;
        if (!trim(line).empty())
            where.lastContent = i;
        std::string_view name;
        std::string_view value;
        if (!where.key && splitKey(line, name, value) && sameName(name, key)) {
            where.key = i;
            where.value = value;
        }
    }
    return where;
}

QString filePath()
{
    return QString::fromStdString(settingsPath());
}

// The whole file; nothing when it does not exist. unreadable is set when it exists but cannot be
// read, so that a writer never replaces a file it could not read with one holding a single key.
std::optional<std::string> readFile(const QString& path, bool* unreadable = nullptr,
                                    std::string* reason = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (unreadable)
            *unreadable = file.exists();
        if (reason)
            *reason = file.errorString().toStdString();
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (unreadable)
        *unreadable = file.error() != QFileDevice::NoError;
    if (reason)
        *reason = file.errorString().toStdString();
    return bytes.toStdString();
}

// Replaces the file as a whole: the new content goes to a temporary file in the same folder,
// which is flushed to disk and then renamed over the old file, so readers and a crash at any
// moment see either the old or the new file.
// Empty when the file was written, otherwise the system's reason.
std::optional<std::string> writeFileWithReason(const QString& path, const std::string& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString().toStdString();
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        std::string reason = file.errorString().toStdString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString().toStdString();
    return std::nullopt;
}

bool writeFileAtomically(const QString& path, const std::string& bytes)
{
    return !writeFileWithReason(path, bytes);
}

bool hasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

} // namespace

std::string settingsPath()
{
    return dataFolder() + "数据.ini";
}

std::string readSetting(const std::string& section, const std::string& key,
                        const std::optional<std::string>& defaultValue)
{
    std::string fallback = defaultValue.value_or(std::string());
    if (trim(section).empty() || trim(key).empty())
        return fallback;
    const std::string gbSection = utf8ToGb18030(section);
    const std::string gbKey = utf8ToGb18030(key);
    const QString path = filePath();
    std::optional<std::string> bytes;
    {
        std::lock_guard lock(storeMutex);
        bytes = readFile(path);
    }
    if (!bytes)
        return fallback;
    const Location where = locate(*bytes, splitLines(*bytes), gbSection, gbKey);
    if (!where.key)
        return fallback;
    return gb18030ToUtf8(std::string(where.value));
}

bool readFlag(const std::string& section, const std::string& key,
              const std::optional<std::string>& defaultValue)
{
    return readSetting(section, key, defaultValue) == kTrue;
}

bool writeSetting(const std::string& section, const std::string& key, const std::string& value)
{
    return writeIniValue(settingsPath(), section, key, value);
}

SettingsWriteResult storeSetting(const std::string& section, const std::string& key,
                                 const std::string& value)
{
    return storeIniValue(settingsPath(), section, key, value);
}

bool replaceFileAtomically(const std::string& path, const std::string& bytes)
{
    std::lock_guard lock(storeMutex);
    return writeFileAtomically(QString::fromStdString(path), bytes);
}

bool writeIniValue(const std::string& iniPath, const std::string& section, const std::string& key,
                   const std::string& value)
{
    return storeIniValue(iniPath, section, key, value).ok();
}

SettingsWriteResult storeIniValue(const std::string& iniPath, const std::string& section,
                                  const std::string& key, const std::string& value)
{
    SettingsWriteResult result;
    result.path = iniPath;
    if (trim(section).empty() || trim(key).empty() || hasLineBreak(section) || hasLineBreak(key) ||
        hasLineBreak(value) || key.find('=') != std::string::npos ||
        section.find(']') != std::string::npos) {
        result.error = SettingsWriteError::InvalidText;
        return result;
    }
    const std::string gbSection = utf8ToGb18030(section);
    const std::string gbKey = utf8ToGb18030(key);
    const std::string keyLine = gbKey + "=" + utf8ToGb18030(value);
    const QString path = QString::fromStdString(iniPath);

    std::lock_guard lock(storeMutex);
    bool unreadable = false;
    std::string reason;
    std::string bytes = readFile(path, &unreadable, &reason).value_or(std::string());
    if (unreadable) {
        result.error = SettingsWriteError::Unreadable;
        result.detail = reason;
        return result;
    }
    const std::vector<Line> lines = splitLines(bytes);
    const Location where = locate(bytes, lines, gbSection, gbKey);
    if (where.key) {
        const Line& line = lines[*where.key];
        bytes.replace(line.begin, line.contentEnd - line.begin, keyLine);
    } else if (where.section) {
        const Line& last = lines[where.lastContent];
        std::string insert = keyLine + "\r\n";
        if (last.contentEnd == last.end)
            insert.insert(0, "\r\n");
        bytes.insert(last.end, insert);
    } else {
        if (!bytes.empty() && bytes.back() != '\n')
            bytes += "\r\n";
        if (!lines.empty() && !trim(content(bytes, lines.back())).empty())
            bytes += "\r\n";
        bytes += "[" + gbSection + "]\r\n" + keyLine + "\r\n";
    }
    if (auto failure = writeFileWithReason(path, bytes)) {
        result.error = SettingsWriteError::CannotWrite;
        result.detail = *failure;
    }
    return result;
}

const std::string& defaultSettingsText()
{
    static const std::string text =
        utf8ToGb18030("[配置项]\r\n线路=0\r\n副屏=真\r\n连播=真\r\n\r\n[观看历史]\r\n数据=\r\n");
    return text;
}

bool ensureSettingsFile()
{
    const QString path = filePath();
    std::lock_guard lock(storeMutex);
    if (QFile::exists(path))
        return true;
    return writeFileAtomically(path, defaultSettingsText());
}
