#pragma once
// The settings every network transfer of the program shares, and how a refused certificate is
// worded where it is shown.

#include "net/curl_easy.h"

#include <string>

// The transfer policy of the settings file: 证书文件 of section 配置项 names a PEM bundle trusted
// besides the system's store (empty or missing: the system store alone). Read on every call.
TransferPolicy transferPolicyFromSettings();

// "证书无效: " + host + " (" + reason + ")" for a certificate failure.
std::string certificateFailureText(const TransferError& error);
