#pragma once
// One running instance per user and marker name. The instance that takes an exclusive lock on a
// file beside the marker is the one; it keeps the lock for as long as it runs and listens on a
// local socket of the marker's name, over which a later instance asks it to come forward before
// that later instance ends.

#include "app/message_box.h"

#include <functional>
#include <string>

enum class InstanceClaim {
    First,          // this process holds the marker now (or held it already)
    AnotherRunning, // another process holds it
    Failed,         // the marker could not be created; the program runs unguarded
};

// The marker name used for an empty name: the lower-case hexadecimal MD5 digest of the GBK bytes
// of "你懒得输入，我就写死，略略".
std::string defaultMarkerName();

// The marker's socket path: a name holding "/" is used as it stands; otherwise the name in the
// user's runtime folder (XDG_RUNTIME_DIR), or, without one, name + "-" + the user id in the
// temporary folder. The lock file is this path + ".lock".
std::string markerPath(const std::string& markerName);

// Claims the marker markerName (an empty name stands for defaultMarkerName()). A marker left
// behind by an instance that ended without closing it is taken over. Of launches at the same
// moment exactly one gets it. The holder runs onActivationRequest (GUI thread) when a later
// instance asks it to come forward. GUI thread.
InstanceClaim claimInstanceMarker(const std::string& markerName,
                                  std::function<void()> onActivationRequest = {});

// Asks the instance holding markerName to bring its main window to the front. True when the
// request was delivered.
bool activateRunningInstance(const std::string& markerName);

// Returns when no other instance holds markerName (this process holds it afterwards and runs
// onActivationRequest on the GUI thread whenever a later instance asks it to come forward).
// Otherwise:
// shows messageText (caption "友情提醒:", messageStyle as a message-box style) through
// showMessage when it is set,
// asks the running instance to come forward when activateExisting, and ends the process with
// exit code 0 through endProcess.
void enforceSingleInstance(const std::string& markerName, const MessageBox& showMessage = {},
                           const std::string& messageText = "对不起,该进程已打开!",
                           int messageStyle = 0, bool activateExisting = false,
                           const std::function<void()>& endProcess = {},
                           std::function<void()> onActivationRequest = {});
