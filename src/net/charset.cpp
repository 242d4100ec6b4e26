#include "net/charset.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace {

// Owns one iconv conversion descriptor.
class IconvHandle {
public:
    IconvHandle(const std::string& to, const std::string& from)
            : cd_(iconv_open(to.c_str(), from.c_str()))
    {}
    ~IconvHandle()
    {
        if (valid())
            iconv_close(cd_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    // (iconv_t)-1 is iconv_open's documented failure value.
    bool valid() const
    {
        return cd_ != reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)
    }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Appends the target's encoding of "?" for one character that could not be converted.
void appendSubstitute(iconv_t cd, std::string& out)
{
    char q = '?';
    char* in = &q;
    size_t inLeft = 1;
    char buf[16];
    char* o = buf;
    size_t oLeft = sizeof buf;
    if (iconv(cd, &in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1))
        out.append(buf, o - buf);
}

// Length in bytes of the UTF-8 sequence that starts with lead (1 for a stray byte).
size_t utf8Length(unsigned char lead)
{
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// Whether a character-set name means UTF-8 however it is spelt: "UTF-8", "utf8", "Utf_8".
bool isUtf8Name(const std::string& name)
{
    std::string plain;
    for (char c : name)
        if (c != '-' && c != '_')
            plain.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    return plain == "utf8";
}

} // namespace

std::string convertCharset(const std::string& bytes, const std::string& from, const std::string& to,
                           std::optional<int> skip)
{
    if (bytes.empty())
        return {};
    // Every spelling of UTF-8 goes to iconv as its one name, and is handled alike below.
    const bool fromUtf8 = isUtf8Name(from);
    IconvHandle conv(isUtf8Name(to) ? "UTF-8" : to, fromUtf8 ? "UTF-8" : from);
    IconvHandle subst(to, "ASCII");
    if (!conv.valid() || !subst.valid())
        return {};

    std::string out;
    out.reserve(bytes.size() * 2);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char buf[4096];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        size_t r = iconv(conv.get(), &in, &inLeft, &o, &oLeft);
        out.append(buf, o - buf);
        if (r != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // An invalid or unrepresentable character, or a cut sequence at the end: substitute it.
        size_t step = fromUtf8 ? utf8Length(static_cast<unsigned char>(*in)) : 1;
        if (step > inLeft)
            step = inLeft;
        in += step;
        inLeft -= step;
        appendSubstitute(subst.get(), out);
        iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state of stateful encodings.
    char* o = buf;
    size_t oLeft = sizeof buf;
    iconv(conv.get(), nullptr, nullptr, &o, &oLeft);
    out.append(buf, o - buf);

    if (skip && *skip > 0)
        out.erase(0, std::min<size_t>(static_cast<size_t>(*skip), out.size()));
    return out;
}

std::string utf8ToGb18030(const std::string& utf8)
{
    return convertCharset(utf8, "UTF-8", "GB18030");
}

std::string gb18030ToUtf8(const std::string& gb)
{
    return convertCharset(gb, "GB18030", "UTF-8");
}
