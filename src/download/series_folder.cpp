#include "download/series_folder.h"

#include "app/paths.h"
#include "util/regex_matcher.h"
#include "util/utf8_path.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Length in bytes of the UTF-8 character starting at s[at] (1 for a stray byte).
size_t utf8Length(const std::string& s, size_t at)
{
    const auto b = static_cast<unsigned char>(s[at]);
    size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return at + n <= s.size() ? n : 1;
}

bool isAsciiAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The longest run of whole characters of text from its start that fits in bytes.
std::string cutToFit(const std::string& text, size_t bytes)
{
    size_t end = 0;
    while (end < text.size()) {
        const size_t n = utf8Length(text, end);
        if (end + n > bytes)
            break;
        end += n;
    }
    return text.substr(0, end);
}

// Room left in a fallback name for the "-k" that a second title of the same name adds.
constexpr size_t kSuffixRoom = 8;
constexpr size_t kHashDigits = 8;

std::string titleHash(const std::string& title)
{
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(title.data(), static_cast<qsizetype>(title.size())), QCryptographicHash::Sha1);
    return digest.toHex().left(kHashDigits).toStdString();
}

// A name Windows and POSIX both take for a folder of its own.
bool usableName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxFolderNameBytes || name == "." || name == ".." ||
        isReservedDeviceName(name) || name.back() == '.' || name.back() == ' ')
        return false;
    for (unsigned char c : name)
        if (c < 0x20 ||
            std::string_view("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string_view::npos)
            return false;
    return true;
}

// The k-th candidate name (k from 1): the base name, then base-2, base-3, …, cut to fit.
std::string candidateName(const std::string& base, size_t k)
{
    if (k == 1)
        return base;
    const std::string suffix = "-" + std::to_string(k);
    return cutToFit(base, kMaxFolderNameBytes - suffix.size()) + suffix;
}

FolderError errorOf(const std::error_code& ec)
{
    if (ec == std::errc::permission_denied || ec == std::errc::read_only_file_system ||
        ec == std::errc::operation_not_permitted)
        return FolderError::NoPermission;
    if (ec == std::errc::file_exists || ec == std::errc::not_a_directory)
        return FolderError::FileInTheWay;
    return FolderError::Other;
}

// The title a folder's record names; nothing when the folder has no record. A record is a small
// file: anything longer than a title can be is not one.
std::optional<std::string> readRecord(const std::string& folder)
{
    UniqueFile f = openUtf8File(folder + pathSeparator() + kSeriesTitleName, "rb");
    if (f == nullptr)
        return std::nullopt;
    std::string text(std::size_t{64} * 1024, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), f.get()));
    const bool more = std::fgetc(f.get()) != EOF;
    f.reset();
    if (more)
        return std::string();
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    return text;
}

bool recordNames(const std::string& record, const std::string& title)
{
    // One line end after the title is what an editor adds when the file is opened and saved.
    return record == title || record == title + "\n" || record == title + "\r\n";
}

FolderOutcome writeRecord(const std::string& folder, const std::string& title)
{
    FolderOutcome out;
    out.exists = true;
    const std::string path = folder + pathSeparator() + kSeriesTitleName;
    const std::string temp = path + ".part";
    UniqueFile f = openUtf8File(temp, "wb");
    std::error_code ec;
    if (f == nullptr) {
        ec = std::error_code(errno, std::generic_category());
    } else {
        const bool written = std::fwrite(title.data(), 1, title.size(), f.get()) == title.size();
        const int writeErrno = errno;
        if (!closeFile(f) || !written)
            ec = std::error_code(written ? errno : writeErrno, std::generic_category());
        if (!ec)
            fs::rename(utf8Path(temp), utf8Path(path), ec);
        if (ec) {
            std::error_code ignored;
            fs::remove(utf8Path(temp), ignored);
        }
    }
    if (ec) {
        out.error = errorOf(ec);
        out.detail = ec.message();
    }
    return out;
}

} // namespace

std::string sanitizeFolderName(const std::string& title)
{
    std::string kept;
    for (size_t at = 0; at < title.size();) {
        const size_t n = utf8Length(title, at);
        const auto first = static_cast<unsigned char>(title[at]);
        if (n == 1) {
            if (isAsciiAlnum(first))
                kept += title[at];
        } else {
            const std::string character = title.substr(at, n);
            if (isChineseText(character))
                kept += character;
        }
        at += n;
    }
    return kept;
}

bool isReservedDeviceName(const std::string& name)
{
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

std::string seriesFolderBaseName(const std::string& title)
{
    std::string kept = sanitizeFolderName(title);
    if (usableName(kept))
        return kept;
    const std::string hash = titleHash(title);
    const std::string cut = cutToFit(kept, kMaxFolderNameBytes - kSuffixRoom - kHashDigits - 1);
    return cut.empty() ? hash : cut + "-" + hash;
}

FolderOutcome ensureDirectory(const std::string& path, bool parents)
{
    FolderOutcome out;
    const fs::path p = utf8Path(path);
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
        out.exists = true;
        return out;
    }
    if (fs::exists(p, ec)) {
        out.error = FolderError::FileInTheWay;
        out.detail = std::make_error_code(std::errc::file_exists).message();
        return out;
    }
    const bool made = parents ? fs::create_directories(p, ec) : fs::create_directory(p, ec);
    std::error_code check;
    out.exists = fs::is_directory(p, check);
    out.created = out.exists && made;
    if (!out.exists) {
        if (!ec)
            ec = std::make_error_code(std::errc::io_error);
        out.error = errorOf(ec);
        out.detail = ec.message();
    }
    return out;
}

SeriesFolder findSeriesFolder(const std::string& root, const std::string& title)
{
    const std::string base = seriesFolderBaseName(title);
    // At most as many candidates are taken as the root holds entries, so one more than that is
    // always free; existence is asked of the file system itself, which on Windows folds case.
    size_t entries = 0;
    std::error_code ec;
    for (fs::directory_iterator it(utf8Path(root), ec), end; !ec && it != end; it.increment(ec))
        ++entries;
    std::optional<SeriesFolder> vacant;
    for (size_t k = 1; k <= entries + 1; ++k) {
        SeriesFolder candidate;
        candidate.name = candidateName(base, k);
        const std::string path = root + pathSeparator() + candidate.name;
        const fs::path p = utf8Path(path);
        if (!fs::exists(p, ec)) {
            if (!vacant)
                vacant = candidate;
            continue;
        }
        if (!fs::is_directory(p, ec))
            continue; // a file holds the name
        candidate.folder.exists = true;
        const std::optional<std::string> record = readRecord(path);
        if (record && recordNames(*record, title)) {
            candidate.recorded = true;
            return candidate;
        }
        if (!record && !vacant)
            vacant = candidate;
    }
    return vacant ? *vacant : SeriesFolder{candidateName(base, entries + 2), {}, false};
}

SeriesFolder claimSeriesFolder(const std::string& root, const std::string& title)
{
    SeriesFolder found = findSeriesFolder(root, title);
    if (found.recorded)
        return found;
    const std::string path = root + pathSeparator() + found.name;
    if (!found.folder.exists) {
        found.folder = ensureDirectory(path, false);
        if (!found.folder.exists)
            return found;
    }
    const bool created = found.folder.created;
    found.folder = writeRecord(path, title);
    found.folder.created = created;
    found.recorded = found.folder.error == FolderError::None;
    return found;
}
