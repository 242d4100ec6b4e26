#pragma once
// Comparing this program's version with the version published on the update page, and handing
// over to the outside updater when they differ.

#include "app/message_box.h"
#include "net/curl_easy.h"

#include <string>

enum class UpdateOutcome {
    NoLink,      // 更新地址 is empty: no check is made
    Unreachable, // the page could not be fetched
    NoVersion,   // the page carries no version between "[版本1]" and "[版本2]"
    UpToDate,    // the published version is kCurrentVersion
    NewVersion,  // another version is published
};

struct UpdateCheck {
    UpdateOutcome outcome = UpdateOutcome::NoLink;
    std::string version; // the published version text, when there is one
    std::string reason;  // why no version was found (Unreachable, NoVersion)
};

// The update page address: key 更新地址 of section 配置项, or the built-in value when it is empty.
std::string updateLink();

// The whole body of a plain HTTP/1.0 GET of link ("Accept: */*", redirects followed, http and
// https only, certificates checked as policy says, 10 s to connect and 20 s in all). Empty on
// failure, with the reason in error (kind None for an empty page).
std::string fetchUpdatePage(const std::string& link, TransferError* error = nullptr,
                            const TransferPolicy& policy = {});

// The version published between the first "[版本1]" and the first "[版本2]" after it, compared
// with kCurrentVersion byte for byte.
UpdateCheck evaluateUpdatePage(const std::string& page);

// Fetches link and evaluates it; an empty link is NoLink.
UpdateCheck runUpdateCheck(const std::string& link, const TransferPolicy& policy = {});

// "Update" plus the platform's executable suffix, in the program folder.
std::string updaterPath();

// Starts the updater without waiting for it; false when it could not be started.
bool startUpdater(const std::string& path);

// The start-up step. A newer or older published version: the message
// "客观！~发现最新版本即将更新！", then the updater is started and the result is true (the caller
// ends the program). A page that could not be fetched or read logs one line saying why no update is
// made; the same version, or no update address at all, logs nothing. Each of these returns false,
// as does an updater that cannot be started (after a message saying so). GUI thread.
bool checkForUpdate(const MessageBox& showMessage);
