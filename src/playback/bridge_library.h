#pragma once
// The program side of the bridge library: writing the library file the program carries, loading
// it, its start call, initialisation with the three page notifications, and opening a browser.
// Everything here runs on the GUI thread.

#include "bridge/bridge_api.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class HashTable;
class QLibrary;
class QWidget;

// "WebView2Plus" with the platform's library suffix ("WebView2Plus.so" on Linux).
std::string bridgeLibraryName();

// The steps that put the library file on disk and load it, with the folders, the image and the
// prepared-names table they work on held here. The program uses one process-wide instance
// (bridgePreparation); tests make their own on temporary folders.
class BridgePreparation {
public:
    // preparedNames becomes the set of prepared file names (text -> integer) on the first call;
    // spareTable is re-created as an integer -> integer table at the end of it.
    BridgePreparation(std::string programFolder, std::string documentsFolder,
                      std::string_view image, HashTable& preparedNames, HashTable& spareTable);
    ~BridgePreparation();
    BridgePreparation(const BridgePreparation&) = delete;
    BridgePreparation& operator=(const BridgePreparation&) = delete;

    // Runs only on the first call: writes the library file where needed, loads it by full path
    // and makes the start call with the folder. Returns the library file's path; later calls
    // return the first call's path and do nothing else.
    std::string prepare(const std::string& folder);
    bool started() const { return started_; }

    // The named export of the loaded library; when preparation could not load it, the library is
    // looked for in the program folder on first use. nullptr when it cannot be found.
    void* resolve(const char* exportName);

private:
    bool load(const std::string& path);

    std::string programFolder_;
    std::string documentsFolder_;
    std::string_view image_;
    HashTable& preparedNames_;
    HashTable& spareTable_;
    bool started_ = false;
    bool namesCreated_ = false;
    bool lookedInProgramFolder_ = false;
    std::string path_;
    std::unique_ptr<QLibrary> library_;
    void* nativeHandle_ = nullptr;
};

// The process-wide preparation: the executable's folder, the user's documents folder, the image
// embedded in the program and the first and second process-wide hash tables.
BridgePreparation& bridgePreparation();

// Prepares and loads the library once per process (the first caller's folder wins); an empty
// folder means the documents folder + "ee/Plugins/". Returns the library file's path.
std::string prepareBridgeLibrary(const std::string& folder);

// Non-zero when the library is loaded and reports that a browser can be started here.
int kovarwebview_has_edge();

// The options record handed to every open; startBridge fills it.
BrowserOptions& browserOptions();

// The three page notifications startBridge registers, in this order.
struct BrowserEventHandlers {
    std::function<void()> onPageLoaded;
    std::function<void()> onFullscreenEntered;
    std::function<void()> onFullscreenLeft;
};

// Start-up, after prepareBridgeLibrary and a successful kovarwebview_has_edge: fills
// browserOptions with the data folder and the flag field, initialises the library and registers
// the handlers. False when the library could not be initialised.
bool startBridge(const BrowserEventHandlers& handlers);

// The registry initialisation returned (nullptr before startBridge succeeded).
BrowserEvents* browserEvents();

// Opens a browser in parentWindow on url (preparing the library first if that has not happened)
// and, on success, hands it to webViewBridge(). Returns whether a browser was opened; on failure
// webViewBridge() stays as it was.
bool openBrowser(QWidget* parentWindow, const std::string& url);
