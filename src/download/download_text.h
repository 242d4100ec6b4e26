#pragma once
// How the download window's logs word a failed transfer: the values the transfers carry
// (TransferError, SegmentFailure, FetchResult) are put into words here and nowhere below.

#include "download/segment_transfer.h"
#include "net/curl_easy.h"

#include <string>

// The reason shown for an answer a body limit refused: "超过 16 MiB 上限", or
// "超出 Content-Length 声明的 100 字节".
std::string bodyLimitReason(const BodyLimitHit& hit);

// A failed segment, key or initialisation-section transfer: "证书无效: host (reason)", "已停止",
// "接收超时", "速度过慢", "连接超时", "HTTP 404", the limit's reason, "地址无效", or libcurl's
// short text for anything else.
std::string transferFailureText(const TransferError& error);

// A segment that did not arrive: "地址或文件为空", "地址无效", "无法创建连接", "无法创建线程",
// "空响应", "不支持分段请求", "写入失败", "解密失败", or its transfer's reason.
std::string segmentFailureText(const SegmentFailure& failure);

// A playlist that could not be fetched: the limit's reason, "已中止", "HTTP 404", or "无法连接".
// A certificate failure is shown by the row's own status (证书无效) instead.
std::string playlistFailureText(const FetchResult& answer);
