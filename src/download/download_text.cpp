#include "download/download_text.h"

#include "app/transfer_settings.h"

#include <curl/curl.h>

#include <cstdint>

namespace {

std::string sizeText(int64_t bytes)
{
    constexpr int64_t mib = int64_t{1024} * 1024;
    return bytes >= mib && bytes % mib == 0 ? std::to_string(bytes / mib) + " MiB"
                                            : std::to_string(bytes) + " 字节";
}

} // namespace

std::string bodyLimitReason(const BodyLimitHit& hit)
{
    switch (hit.error) {
    case BodyLimitError::None: break;
    case BodyLimitError::TooLarge: return "超过 " + sizeText(hit.allowed) + " 上限";
    case BodyLimitError::BeyondContentLength:
        return "超出 Content-Length 声明的 " + sizeText(hit.allowed);
    }
    return {};
}

std::string transferFailureText(const TransferError& error)
{
    switch (error.kind) {
    case TransferFailure::None: return {};
    case TransferFailure::Certificate: return certificateFailureText(error);
    case TransferFailure::Cancelled: return "已停止";
    case TransferFailure::Timeout: return "接收超时";
    case TransferFailure::TooSlow: return "速度过慢";
    case TransferFailure::ConnectTimeout: return "连接超时";
    case TransferFailure::HttpStatus: return "HTTP " + std::to_string(error.status);
    case TransferFailure::TooLarge: return bodyLimitReason(error.limit);
    case TransferFailure::BadAddress: return "地址无效";
    case TransferFailure::RefusedRedirect:
    case TransferFailure::Other: break;
    }
    return error.code != CURLE_OK ? curl_easy_strerror(error.code) : error.detail;
}

std::string segmentFailureText(const SegmentFailure& failure)
{
    switch (failure.kind) {
    case SegmentError::None: return {};
    case SegmentError::NoTarget: return "地址或文件为空";
    case SegmentError::BadAddress: return "地址无效";
    case SegmentError::NoHandle: return "无法创建连接";
    case SegmentError::NoThread: return "无法创建线程";
    case SegmentError::EmptyAnswer: return "空响应";
    case SegmentError::RangeRefused: return "不支持分段请求";
    case SegmentError::WriteFailed: return "写入失败";
    case SegmentError::DecryptFailed: return "解密失败";
    case SegmentError::Transfer: break;
    }
    return transferFailureText(failure.transfer);
}

std::string playlistFailureText(const FetchResult& answer)
{
    if (answer.limitHit)
        return bodyLimitReason(answer.limitHit);
    switch (answer.failure.kind) {
    case TransferFailure::Cancelled: return "已中止";
    case TransferFailure::HttpStatus: return "HTTP " + std::to_string(answer.failure.status);
    default: break;
    }
    return answer.status ? "HTTP " + std::to_string(answer.status) : "无法连接";
}
