#define PCRE2_CODE_UNIT_WIDTH 8
#include "util/regex_matcher.h"

#include "util/marker_text.h"

#include <pcre2.h>

#include <algorithm>
#include <vector>

namespace {

struct CodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct CompileContextDeleter {
    void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
using CodePtr = std::unique_ptr<pcre2_code, CodeDeleter>;
using MatchDataPtr = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;
using CompileContextPtr = std::unique_ptr<pcre2_compile_context, CompileContextDeleter>;

// In multiline mode "^" and "$" match at every line break, a carriage return as well as a line
// feed, while "." still takes a carriage return. PCRE2 ties both to one newline setting, so the
// anchors outside character classes are written as look-arounds on CR and LF instead.
std::string multilineAnchors(const std::string& pattern)
{
    std::string out;
    out.reserve(pattern.size() + 32);
    bool inClass = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size()) {
            out.append(pattern, i, 2);
            ++i;
        } else if (inClass) {
            out.push_back(c);
            if (c == ']')
                inClass = false;
        } else if (c == '[') {
            // A "]" right after "[" or "[^" is a member, as PCRE2 reads it.
            out.push_back(c);
            inClass = true;
            if (i + 1 < pattern.size() && pattern[i + 1] == '^')
                out.push_back(pattern[++i]);
            if (i + 1 < pattern.size() && pattern[i + 1] == ']')
                out.push_back(pattern[++i]);
        } else if (c == '^') {
            out += "(?<![^\\r\\n])";
        } else if (c == '$') {
            out += "(?![^\\r\\n])";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The JavaScript-style dialect over UTF-8: \uXXXX and \xXX escapes, "." matching every character
// but the line feed (a carriage return included), "^" and "$" in multiline mode at every CR or LF
// line break, "$" without multiline only at the very end. Subjects that are not valid UTF-8 are
// still searched.
CodePtr compile(const std::string& pattern, bool caseSensitive, bool multiline)
{
    CompileContextPtr context(pcre2_compile_context_create(nullptr));
    if (!context)
        return nullptr;
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
    uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_MATCH_INVALID_UTF;
    if (!caseSensitive)
        options |= PCRE2_CASELESS;
    // In multiline mode "^" also matches after a final line break, as in the script engines.
    const std::string source = multiline ? multilineAnchors(pattern) : pattern;
    if (!multiline)
        options |= PCRE2_DOLLAR_ENDONLY;
    int error = 0;
    PCRE2_SIZE offset = 0;
    return CodePtr(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source.data()), source.size(),
                                 options, &error, &offset, context.get()));
}

// Length of the UTF-8 character starting at at (1 for a stray byte), so that the search after an
// empty match moves on by one whole character.
size_t characterLength(const std::string& s, size_t at)
{
    const auto lead = static_cast<unsigned char>(s[at]);
    size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    n = std::min(n, s.size() - at);
    for (size_t i = 1; i < n; ++i) {
        if ((static_cast<unsigned char>(s[at + i]) & 0xC0) != 0x80)
            return i;
    }
    return n;
}

} // namespace

// The result of one match: the pattern, its compiled form and, per match, the byte ranges of the
// whole match and of each group (begin = npos for a group that took no part).
struct RegexMatcher::Run {
    struct Span {
        size_t begin = std::string::npos;
        size_t end = std::string::npos;
    };
    std::string pattern;
    CodePtr code;
    uint32_t groups = 0;
    std::vector<std::vector<Span>> matches;
};

RegexMatcher::RegexMatcher() = default;
RegexMatcher::~RegexMatcher() = default;
RegexMatcher::RegexMatcher(const RegexMatcher& other) = default;
RegexMatcher& RegexMatcher::operator=(const RegexMatcher& other) = default;

bool RegexMatcher::match(const std::string& pattern, const std::string& subject, bool caseSensitive,
                         bool multiline, bool global, bool quoteSubstitution)
{
    run_.reset();
    auto run = std::make_shared<Run>();
    run->pattern = quoteSubstitution ? substituteQuotes(pattern) : pattern;
    subject_ = subject;
    run->code = compile(run->pattern, caseSensitive, multiline);
    if (!run->code) {
        // The pattern stays readable through getPattern; there are no matches.
        run_ = std::move(run);
        return false;
    }
    pcre2_pattern_info(run->code.get(), PCRE2_INFO_CAPTURECOUNT, &run->groups);
    MatchDataPtr data(pcre2_match_data_create_from_pattern(run->code.get(), nullptr));
    if (!data) {
        run->code.reset();
        run_ = std::move(run);
        return false;
    }
    const auto* text = reinterpret_cast<PCRE2_SPTR>(subject_.data());
    size_t start = 0;
    while (start <= subject_.size()) {
        const int rc =
            pcre2_match(run->code.get(), text, subject_.size(), start, 0, data.get(), nullptr);
        if (rc == PCRE2_ERROR_NOMATCH)
            break;
        if (rc < 0) {
            // The engine gave up (match, depth or heap limit): the collection is not complete,
            // and a partial one is not handed on as if it were.
            run->matches.clear();
            run_ = std::move(run);
            return false;
        }
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
        std::vector<Run::Span> spans(run->groups + 1);
        for (uint32_t g = 0; g <= run->groups && g < static_cast<uint32_t>(rc); ++g) {
            if (ovector[std::size_t{2} * g] != PCRE2_UNSET)
                spans[g] = {ovector[std::size_t{2} * g], ovector[std::size_t{2} * g + 1]};
        }
        const size_t begin = ovector[0];
        const size_t end = ovector[1];
        run->matches.push_back(std::move(spans));
        if (!global)
            break;
        // Like the script engines: after an empty match the search goes on one character later.
        if (end > begin)
            start = end;
        else if (begin < subject_.size())
            start = begin + characterLength(subject_, begin);
        else
            break;
    }
    run_ = std::move(run);
    return true;
}

std::string RegexMatcher::getPattern() const
{
    return run_ ? run_->pattern : std::string();
}

std::string RegexMatcher::replace(const std::string& replacement) const
{
    if (!run_ || !run_->code)
        return {};
    std::string out;
    size_t copied = 0;
    for (const auto& spans : run_->matches) {
        const auto& whole = spans[0];
        out.append(subject_, copied, whole.begin - copied);
        for (size_t i = 0; i < replacement.size(); ++i) {
            const char c = replacement[i];
            if (c != '$' || i + 1 == replacement.size()) {
                out.push_back(c);
                continue;
            }
            const char d = replacement[i + 1];
            if (d == '$') {
                out.push_back('$');
                ++i;
            } else if (d == '&') {
                out.append(subject_, whole.begin, whole.end - whole.begin);
                ++i;
            } else if (d == '`') {
                out.append(subject_, 0, whole.begin);
                ++i;
            } else if (d == '\'') {
                out.append(subject_, whole.end, std::string::npos);
                ++i;
            } else if (d >= '0' && d <= '9') {
                // $nn when that group exists, otherwise $n; a group number that does not exist
                // is kept literally.
                size_t group = static_cast<size_t>(d - '0');
                size_t used = 1;
                if (i + 2 < replacement.size() && replacement[i + 2] >= '0' &&
                    replacement[i + 2] <= '9') {
                    const size_t two = group * 10 + static_cast<size_t>(replacement[i + 2] - '0');
                    if (two >= 1 && two <= run_->groups) {
                        group = two;
                        used = 2;
                    }
                }
                if (group < 1 || group > run_->groups) {
                    out.push_back(c);
                    continue;
                }
                const auto& span = spans[group];
                if (span.begin != std::string::npos)
                    out.append(subject_, span.begin, span.end - span.begin);
                i += used;
            } else {
                out.push_back(c);
            }
        }
        copied = whole.end;
    }
    out.append(subject_, copied, std::string::npos);
    return out;
}

int32_t RegexMatcher::matchCount() const
{
    return run_ ? static_cast<int32_t>(run_->matches.size()) : 0;
}

namespace {

// Group k (0 = the whole match) of match n (from 1), with its position from 1.
std::string spanText(const RegexMatcher::Run* run, const std::string& subject, int n, int k,
                     int* position);

} // namespace

std::string RegexMatcher::matchText(int n, int* position) const
{
    return spanText(run_.get(), subject_, n, 0, position);
}

std::string RegexMatcher::submatchText(int n, int k, int* position) const
{
    if (k < 1) {
        if (position)
            *position = 0;
        return {};
    }
    return spanText(run_.get(), subject_, n, k, position);
}

namespace {

std::string spanText(const RegexMatcher::Run* run, const std::string& subject, int n, int k,
                     int* position)
{
    if (position)
        *position = 0;
    if (!run || n < 1 || static_cast<size_t>(n) > run->matches.size() ||
        static_cast<uint32_t>(k) > run->groups)
        return {};
    const auto& span = run->matches[static_cast<size_t>(n) - 1][static_cast<size_t>(k)];
    if (span.begin == std::string::npos)
        return {};
    if (position)
        *position = static_cast<int>(span.begin) + 1;
    return subject.substr(span.begin, span.end - span.begin);
}

} // namespace

int32_t RegexMatcher::submatchCount() const
{
    if (!run_ || run_->matches.empty())
        return 0;
    return static_cast<int32_t>(run_->groups);
}

namespace {

// The ideograph test's compiled pattern, made once and shared: matching with one compiled
// pattern from several threads is safe, each call bringing its own match data.
const pcre2_code* chinesePattern()
{
    static const CodePtr code = compile("^[\\u4e00-\\u9fa5]{1,}$", true, false);
    return code.get();
}

} // namespace

bool isChineseText(const std::string& text, bool useEngine)
{
    std::string stripped;
    stripped.reserve(text.size());
    static const std::string fullWidthSpace = "\u3000";
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
        } else if (text.compare(i, fullWidthSpace.size(), fullWidthSpace) == 0) {
            i += fullWidthSpace.size();
        } else {
            stripped.push_back(text[i]);
            ++i;
        }
    }
    if (stripped.size() <= 1)
        return false;
    if (!useEngine) {
        for (const char c : text) {
            if ((static_cast<unsigned char>(c) & 0x80) == 0)
                return false;
        }
        return true;
    }
    const pcre2_code* code = chinesePattern();
    if (!code)
        return false;
    MatchDataPtr data(pcre2_match_data_create_from_pattern(code, nullptr));
    if (!data)
        return false;
    return pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0,
                       data.get(), nullptr) >= 0;
}
