#pragma once
// File paths from the program's UTF-8 texts and back. A std::string given to std::filesystem or to
// fopen is read in the system's narrow code page, which on Windows is no UTF-8 and mangles Chinese
// folder names; going through char8_t keeps every character on every platform.

#include <cstdio>
#include <filesystem>
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
