#pragma once
#include <optional>
#include <string>

// Re-encodes a byte string from one character set to another (iconv names: "UTF-8", "GBK",
// "GB18030", ...). Characters the target cannot represent, and bytes that are not valid in the
// source, become "?". skip drops that many leading bytes of the result (a byte-order mark).
// Empty input or an unknown character set gives the empty result.
std::string convertCharset(const std::string& bytes, const std::string& from = "UTF-8",
                           const std::string& to = "GBK", std::optional<int> skip = std::nullopt);

// The GBK-family files of the program ("数据.ini", the export lists) are stored as GB18030, a
// superset of GBK that loses no character; inside the program every text is UTF-8.
std::string utf8ToGb18030(const std::string& utf8);
std::string gb18030ToUtf8(const std::string& gb);
