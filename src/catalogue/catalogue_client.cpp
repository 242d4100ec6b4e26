#include "catalogue/catalogue_client.h"

#include "app/transfer_settings.h"
#include "catalogue/catalogue_categories.h"
#include "net/http_request.h"
#include "net/json_document.h"
#include "util/text_number.h"

#include <algorithm>
#include <cstdint>

namespace {

// A few words on why an exchange gave no usable page.
std::string exchangeFailure(const HttpRequest& request)
{
    const int status = request.statusCode();
    if (request.bodyLimitHit())
        return "服务器的回答超过 " + std::to_string(kPageBodyLimit / (int64_t{1024} * 1024)) +
               " MiB 上限,已放弃";
    if (request.failure().kind == TransferFailure::Certificate)
        return certificateFailureText(request.failure());
    if (status == 0) {
        const TransferError& failure = request.failure();
        if (failure.kind == TransferFailure::Timeout ||
            failure.kind == TransferFailure::ConnectTimeout)
            return "服务器响应超时";
        return failure.detail.empty() ? "无法连接服务器"
                                      : "无法连接服务器 (" + failure.detail + ")";
    }
    return "服务器返回 HTTP " + std::to_string(status);
}

} // namespace

std::string encodeQueryValue(const std::string& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::string catalogueUrl(const std::string& host, int mode, const std::string& keyword, int page)
{
    const std::string base = "https://" + host + "/api.php/provide/vod/?ac=detail";
    const std::string pg =
        "&pg=" + std::to_string(page) + "&pagesize=" + std::to_string(kCatalogueRowsPerPage);
    if (mode == kSearchMode)
        return base + "&wd=" + encodeQueryValue(keyword) + pg;
    if (mode == kLatestMode)
        return base + pg;
    if (mode > 0)
        return typePageUrl(host, mode, page);
    return {};
}

std::string typePageUrl(const std::string& host, int typeId, int page)
{
    return "https://" + host + "/api.php/provide/vod/?ac=detail&t=" + std::to_string(typeId) +
           "&pg=" + std::to_string(page) + "&pagesize=" + std::to_string(kCatalogueRowsPerPage);
}

CataloguePage readCataloguePage(const std::string& body, const std::string& pageUrl)
{
    CataloguePage page;
    const std::size_t first = body.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && body.compare(first, 6, "closed") == 0 &&
        body.find_first_not_of(" \t\r\n", first + 6) == std::string::npos) {
        page.problem = CataloguePage::Problem::ApiClosed;
        page.failure = "该线路的接口未开放 (closed)";
        return page;
    }
    JsonDocument doc;
    if (!doc.parse(body)) {
        page.problem =
            body.empty() ? CataloguePage::Problem::EmptyBody : CataloguePage::Problem::NotJson;
        page.failure = body.empty() ? "服务器没有返回内容" : "返回内容不是有效的数据";
        return page;
    }
    const std::string total = doc.subDocument("total").text();
    if (total == "0") {
        page.outcome = CataloguePage::Outcome::NothingFound;
        return page;
    }
    page.outcome = CataloguePage::Outcome::Listed;
    page.totalCount = std::max(0, textToInt(doc.getText("total")));
    page.limit = std::max(0, textToInt(doc.getText("limit")));
    // Every item the server sent for the page: its own page size may differ from the one asked.
    const int n = std::min(doc.count("list"), kMaxRowsPerAnswer);
    for (int k = 0; k < n; ++k) {
        const std::string item = "list[" + std::to_string(k) + "]";
        CatalogueItem row;
        row.title = doc.getText(item + "['vod_name']");
        if (row.title.empty())
            continue;
        row.typeName = doc.getText(item + "['type_name']");
        row.blurb =
            blurbText(doc.getText(item + "['vod_blurb']"), doc.getText(item + "['vod_content']"));
        row.playText = doc.getText(item + "['vod_play_url']");
        row.playFrom = doc.getText(item + "['vod_play_from']");
        if (row.playText.empty())
            row.typeName = "已下架";
        row.cover = resolveCoverUrl(doc.getText(item + "['vod_pic']"), pageUrl);
        page.items.push_back(std::move(row));
        page.typeIds.push_back(textToInt(doc.getText(item + "['type_id']")));
    }
    page.total = total;
    page.pageCount = doc.subDocument("pagecount").text();
    // Without a page count the pages follow from the record count and the server's page size.
    const bool noPageCount = page.pageCount.empty() || page.pageCount == "null";
    if (noPageCount && page.totalCount > 0 && page.limit > 0)
        page.pageCount = std::to_string((page.totalCount + page.limit - 1) / page.limit);
    return page;
}

CataloguePage combinedTypePage(const std::vector<int>& typeIds, int page,
                               const TypePageFetch& fetch)
{
    if (typeIds.empty())
        return CataloguePage{};
    if (page < 1)
        page = 1;

    struct Part {
        int id = 0;
        long long total = 0;
        int limit = 0;
        CataloguePage first;
    };
    std::vector<Part> parts;
    for (const int id : typeIds) {
        CataloguePage first = fetch(id, 1);
        if (first.outcome == CataloguePage::Outcome::Failed)
            return first;
        if (parts.empty() && first.outcome == CataloguePage::Outcome::Listed) {
            // A server that lists a type's children under it already: the type alone.
            for (const int itemType : first.typeIds)
                if (itemType != id &&
                    std::find(typeIds.begin() + 1, typeIds.end(), itemType) != typeIds.end())
                    return page == 1 ? first : fetch(id, page);
        }
        Part part;
        part.id = id;
        part.total = first.outcome == CataloguePage::Outcome::Listed ? first.totalCount : 0;
        part.limit = first.limit > 0 ? first.limit : static_cast<int>(first.items.size());
        if (part.limit <= 0)
            part.limit = kCatalogueRowsPerPage;
        part.first = std::move(first);
        parts.push_back(std::move(part));
    }

    long long sum = 0;
    for (const Part& part : parts)
        sum += part.total;
    CataloguePage out;
    if (sum == 0) {
        out.outcome = CataloguePage::Outcome::NothingFound;
        return out;
    }
    sum = std::min<long long>(sum, INT32_MAX);
    out.outcome = CataloguePage::Outcome::Listed;
    out.totalCount = static_cast<int>(sum);
    out.total = std::to_string(sum);
    out.limit = kCatalogueRowsPerPage;
    out.pageCount = std::to_string((sum + kCatalogueRowsPerPage - 1) / kCatalogueRowsPerPage);

    // The rows [from, to) of the joined listing, taken from each type's own pages.
    const long long from = static_cast<long long>(page - 1) * kCatalogueRowsPerPage;
    const long long to = std::min(from + kCatalogueRowsPerPage, sum);
    long long start = 0;
    for (const Part& part : parts) {
        const long long begin = std::max(from, start) - start;
        const long long end = std::min(to, start + part.total) - start;
        start += part.total;
        if (begin >= end)
            continue;
        const long long firstPage = begin / part.limit + 1;
        const long long lastPage = (end - 1) / part.limit + 1;
        for (long long serverPage = firstPage; serverPage <= lastPage; ++serverPage) {
            CataloguePage got =
                serverPage == 1 ? part.first : fetch(part.id, static_cast<int>(serverPage));
            if (got.outcome == CataloguePage::Outcome::Failed)
                return got;
            const long long pageStart = (serverPage - 1) * part.limit;
            for (std::size_t k = 0; k < got.items.size(); ++k) {
                const long long at = pageStart + static_cast<long long>(k);
                if (at < begin || at >= end)
                    continue;
                out.items.push_back(got.items[k]);
                out.typeIds.push_back(k < got.typeIds.size() ? got.typeIds[k] : 0);
            }
        }
    }
    return out;
}

CataloguePage fetchCataloguePage(const std::string& url, std::function<bool()> cancelled,
                                 const TransferPolicy& policy)
{
    HttpRequest request;
    RequestOptions options;
    options.disableRedirects = true;
    options.policy = policy;
    options.cancelled = std::move(cancelled);
    const std::string body = request.send(url, options);
    const int status = request.statusCode();
    if (status < 200 || status >= 300) {
        CataloguePage page;
        page.problem = CataloguePage::Problem::Exchange;
        page.failure = exchangeFailure(request);
        return page;
    }
    return readCataloguePage(body, url);
}
