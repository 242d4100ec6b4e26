#include "util/regex_matcher.h"

struct RegexMatcher::Run {};

RegexMatcher::RegexMatcher() = default;
RegexMatcher::~RegexMatcher() = default;
RegexMatcher::RegexMatcher(const RegexMatcher&) = default;
RegexMatcher& RegexMatcher::operator=(const RegexMatcher&) = default;
bool RegexMatcher::match(const std::string&, const std::string& subject, bool, bool, bool, bool)
{
    subject_ = subject;
    return false;
}
std::string RegexMatcher::getPattern() const { return {}; }
std::string RegexMatcher::replace(const std::string&) const { return {}; }
int32_t RegexMatcher::matchCount() const { return 0; }
std::string RegexMatcher::matchText(int, int* position) const { if (position) *position = 0; return {}; }
std::string RegexMatcher::submatchText(int, int, int* position) const { if (position) *position = 0; return {}; }
int32_t RegexMatcher::submatchCount() const { return 0; }
bool isChineseText(const std::string&, bool) { return false; }
