#pragma once
#include <string>
#include <vector>

// Cutting pieces out of a text by the marker texts around them. Positions count bytes from 1 and
// every search is a byte search. In both markers of textBetween the text "#引号" stands for one
// double-quote character, so a caller can write a quote inside a marker.

// The bytes between the first occurrence of left at or after position start and the first
// occurrence of right after it; the empty text when either is missing. caseInsensitive ignores
// the case of ASCII letters in both searches.
std::string textBetween(const std::string& text, const std::string& left, const std::string& right,
                        int start = 1, bool caseInsensitive = false);

// Everything after the last occurrence of marker; the empty text when it does not occur.
std::string textAfterLast(const std::string& text, const std::string& marker);

// The text with every "#引号" replaced by one double quote (markers here, regular-expression
// patterns in RegexMatcher).
std::string substituteQuotes(const std::string& text);

// Every occurrence of from replaced by to, left to right; replaced text is not searched again.
void replaceAll(std::string& text, const std::string& from, const std::string& to);

// The pieces of text between the occurrences of separator, empty pieces kept.
std::vector<std::string> splitText(const std::string& text, const std::string& separator);
