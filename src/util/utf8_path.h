#pragma once
// File paths from the program's UTF-8 texts and back. A std::string given to std::filesystem or to
// fopen is read in the system's narrow code page, which on Windows is no UTF-8 and mangles Chinese
// folder names; going through char8_t keeps every character on every platform.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

inline std::filesystem::path utf8Path(std::string_view text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string pathUtf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// fopen for a UTF-8 path (mode: "rb", "wb", ...).
inline std::FILE* openUtf8(const std::string& path, const char* mode)
{
#ifdef _WIN32
    std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(utf8Path(path).c_str(), wideMode.c_str());
#else
    return std::fopen(utf8Path(path).c_str(), mode);
#endif
}

// An open file that closes itself when it goes out of scope. A file that was written to is closed
// with closeFile instead, so that an error the close reports (data the system could not write) is
// seen.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// openUtf8 with an owner; empty when the file could not be opened (errno says why).
inline UniqueFile openUtf8File(const std::string& path, const char* mode)
{
    return UniqueFile(openUtf8(path, mode));
}

// Closes file now and leaves it empty. False when the close fails; true for an empty one.
inline bool closeFile(UniqueFile& file)
{
    std::FILE* f = file.release();
    return f == nullptr || std::fclose(f) == 0;
}
