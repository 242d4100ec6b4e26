#include "app/transfer_settings.h"

#include "app/settings_store.h"

TransferPolicy transferPolicyFromSettings()
{
    TransferPolicy policy;
    policy.caFile = readSetting("配置项", "证书文件");
    return policy;
}

std::string certificateFailureText(const TransferError& error)
{
    return "证书无效: " + error.host + " (" + error.detail + ")";
}
