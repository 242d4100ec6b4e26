// Set-Cookie extraction from response header lines, and the merge with the sent cookies.
// Input: response header block \0 sent cookie text \0 request header block.
#include "fuzz_input.h"
#include "net/http_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto pieces = fuzzPieces(data, size, 3);
    const std::string received = extractSetCookies(splitCrLf(pieces[0]));
    const std::string merged = mergeCookies(pieces[1], received);
    // Merging again with the same received cookies changes nothing more.
    FUZZ_CHECK(dedupeJoined(merged, "; ") == merged);
    mergeCookies(merged, received);
    mergeCookies(received, pieces[1]);
    const std::string capitalised = capitalizeHeaderNames(pieces[2]);
    for (const std::string& line : splitCrLf(capitalised)) {
        headerName(line);
        headerValue(line);
        cookieName(line);
    }
    base64Encode(pieces[1]);
    return 0;
}
