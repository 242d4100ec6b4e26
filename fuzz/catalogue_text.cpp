// A catalogue answer's texts made fit to show: blurb and content cleaned, a cover address
// resolved against a page address, a stored category mapping read and written back.
#include "catalogue/catalogue_text.h"
#include "catalogue/catalogue_categories.h"
#include "fuzz_input.h"

namespace {

bool validUtf8(const std::string& text)
{
    int need = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (need > 0) {
            if ((c & 0xC0) != 0x80)
                return false;
            --need;
        } else if ((c & 0xE0) == 0xC0) {
            need = 1;
        } else if ((c & 0xF0) == 0xE0) {
            need = 2;
        } else if ((c & 0xF8) == 0xF0) {
            need = 3;
        } else if (c >= 0x80) {
            return false;
        }
    }
    return need == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<std::string> pieces = fuzzPieces(data, size, 4);
    const std::string blurb = blurbText(pieces[0], pieces[1]);
    FUZZ_CHECK(!blurb.empty());
    FUZZ_CHECK(validUtf8(blurb));
    FUZZ_CHECK(blurb.front() != ' ' && blurb.back() != ' ');
    FUZZ_CHECK(blurb.find("  ") == std::string::npos);
    decodeHtmlEntities(pieces[0]);
    stripHtmlTags(pieces[1]);
    resolveCoverUrl(pieces[2], pieces[3]);

    // A stored mapping that reads writes back to a text that reads the same.
    if (const std::optional<CategoryMapping> mapping = parseMappingText(pieces[0])) {
        const std::optional<CategoryMapping> again = parseMappingText(mappingText(*mapping));
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(again->readAt == mapping->readAt && again->builtin == mapping->builtin);
        for (int k = 0; k < kCategoryCount; ++k)
            FUZZ_CHECK(typeIdsFor(*again, k) == typeIdsFor(*mapping, k));
    }
    readTypeList(pieces[1]);
    return 0;
}
