#pragma once
#include <cstdint>
#include <memory>
#include <string>

// Runs a regular expression over a text and gives access to the matches and their capture groups
// by number (both from 1). PCRE2 in UTF mode with JavaScript-style syntax: \uXXXX escapes, "."
// matches every character except the line feed (a carriage return included), "^" and "$" in
// multiline mode match at CR as well as LF line breaks, "$" without multiline matches only at
// the very end. Texts are UTF-8.
//
// Copying shares the compiled pattern and the matches and copies the subject. An instance belongs
// to the thread that uses it.
class RegexMatcher {
public:
    RegexMatcher();
    ~RegexMatcher();
    RegexMatcher(const RegexMatcher& other);
    RegexMatcher& operator=(const RegexMatcher& other);

    // Compiles pattern and collects its matches in subject: all non-overlapping ones when global,
    // otherwise the first. With quoteSubstitution every "#引号" in the pattern stands for a
    // double quote. False (and no matches) when the pattern is rejected or the engine gives up
    // on the subject (its match limits); zero matches still give true.
    bool match(const std::string& pattern, const std::string& subject, bool caseSensitive = false,
               bool multiline = true, bool global = true, bool quoteSubstitution = false);

    // The pattern of the last match; empty before the first.
    std::string getPattern() const;
    // The stored subject with the matches of the last run replaced by replacement, in which
    // $1..$99 stand for groups, $& for the match, $` and $' for the text before and after it and
    // $$ for "$". Empty when there is no usable pattern.
    std::string replace(const std::string& replacement) const;
    int32_t matchCount() const;
    // Match n (from 1); the empty text outside the collection. position, when given, receives the
    // match's position in the subject (bytes from 1), 0 when there is none.
    std::string matchText(int n, int* position = nullptr) const;
    // Capture group k (from 1) of match n (from 1); the empty text outside the collection or for a
    // group that took no part in the match.
    std::string submatchText(int n, int k, int* position = nullptr) const;
    // The number of capture groups of the first match (0 when nothing matched).
    int32_t submatchCount() const;

    struct Run;

private:
    std::shared_ptr<const Run> run_;
    std::string subject_;
};

// Whether a text consists of CJK unified ideographs U+4E00..U+9FA5 only (at least one). Texts
// that are at most one byte long once spaces (ASCII and full-width) are removed are refused at
// once. Without the engine the test is "every byte has its high bit set".
bool isChineseText(const std::string& text, bool useEngine = true);
