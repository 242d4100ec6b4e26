#include "playback/bridge_library.h"

#include "app/paths.h"
#include "playback/bridge_image.h"
#include "playback/web_view_bridge.h"
#include "util/gui_thread.h"
#include "util/hash_table.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QSaveFile>
#include <QStandardPaths>

#if defined(Q_OS_UNIX)
#include <dlfcn.h>
#endif

namespace {

QString qs(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QByteArray md5Hex(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

// MD5 of the file's bytes as hex text; empty when it cannot be read.
QByteArray fileMd5Hex(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return {};
    return hash.result().toHex();
}

// Plain read-write permissions, so a file left read-only can be replaced and loaded.
void resetAttributes(const QString& path)
{
    if (QFileInfo::exists(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadUser | QFileDevice::WriteUser |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

// Replaces the file as a whole (a new file renamed over the old one), so a copy that another
// running program has loaded is never changed under it. Failures are not reported: a missing
// library shows up later as missing exports.
void writeImage(const QString& path, std::string_view image)
{
    resetAttributes(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(image.data(), static_cast<qint64>(image.size()));
    file.commit();
}

bool endsWithSeparator(const std::string& folder)
{
#if defined(Q_OS_WIN)
    return !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
#else
    return !folder.empty() && folder.back() == '/';
#endif
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    return endsWithSeparator(folder) ? folder + name : folder + pathSeparator() + name;
}

// Copies of the start-up texts the library keeps pointers to.
std::string& optionsDataFolder()
{
    static std::string text;
    return text;
}

BrowserEnvironment* environment = nullptr;
BrowserEvents* events = nullptr;

} // namespace

std::string bridgeLibraryName()
{
#if defined(Q_OS_WIN)
    return "WebView2Plus.dll";
#elif defined(Q_OS_MACOS)
    return "WebView2Plus.dylib";
#else
    return "WebView2Plus.so";
#endif
}

BridgePreparation::BridgePreparation(std::string programFolder, std::string documentsFolder,
                                     std::string_view image, HashTable& preparedNames,
                                     HashTable& spareTable)
        : programFolder_(std::move(programFolder)), documentsFolder_(std::move(documentsFolder)),
          image_(image), preparedNames_(preparedNames), spareTable_(spareTable)
{}

// The loaded library stays loaded for the life of the process: browser instances and handlers
// of it may outlive this object.
BridgePreparation::~BridgePreparation() = default;

bool BridgePreparation::load(const std::string& path)
{
    auto library = std::make_unique<QLibrary>(qs(path));
    if (library->load()) {
        library_ = std::move(library);
        return true;
    }
#if defined(Q_OS_UNIX)
    // The system loader itself, in case the library loader refused the file.
    if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        nativeHandle_ = handle;
        return true;
    }
#endif
    return false;
}

std::string BridgePreparation::prepare(const std::string& folder)
{
    gui::assertGuiThread();
    if (started_)
        return path_;
    started_ = true;
    const std::string name = bridgeLibraryName();
    std::string startFolder = folder;

    if (!namesCreated_) {
        preparedNames_.createTextInteger();
        namesCreated_ = true;
    }
    if (!preparedNames_.contains(name)) {
        const QByteArray imageMd5 =
            md5Hex(QByteArrayView(image_.data(), static_cast<qsizetype>(image_.size())));
        const std::string inProgram = joinPath(programFolder_, name);
        if (QFileInfo(qs(inProgram)).isFile()) {
            // A copy in the program folder wins; it is brought up to date first.
            if (fileMd5Hex(qs(inProgram)) != imageMd5)
                writeImage(qs(inProgram), image_);
            resetAttributes(qs(inProgram));
            preparedNames_.put(name, 1);
            load(inProgram);
            path_ = inProgram;
        } else {
            if (startFolder.empty())
                startFolder = joinPath(documentsFolder_,
                                       "ee" + pathSeparator() + "Plugins" + pathSeparator());
            if (!endsWithSeparator(startFolder))
                startFolder += pathSeparator();
            if (!QFileInfo(qs(startFolder)).isDir())
                QDir().mkpath(QDir::fromNativeSeparators(qs(startFolder)));

            const std::string inFolder = startFolder + name;
            const QString target = qs(inFolder);
            if (!QFileInfo(target).isFile() || fileMd5Hex(target) != imageMd5)
                writeImage(target, image_);
            if (!load(inFolder)) {
                // Put a copy beside the program, where the exports are looked for on first use.
                writeImage(qs(inProgram), image_);
            }
            preparedNames_.put(name, 1);
            resetAttributes(target);
            path_ = inFolder;
        }
    }

    if (auto start = reinterpret_cast<WebView2StartInitFn>(resolve(webview2StartInitName)))
        start(startFolder.c_str());
    spareTable_.createIntegerInteger();
    return path_;
}

void* BridgePreparation::resolve(const char* exportName)
{
    if (!library_ && nativeHandle_ == nullptr && !lookedInProgramFolder_) {
        lookedInProgramFolder_ = true;
        load(joinPath(programFolder_, bridgeLibraryName()));
    }
    if (library_)
        return reinterpret_cast<void*>(library_->resolve(exportName));
#if defined(Q_OS_UNIX)
    if (nativeHandle_ != nullptr)
        return ::dlsym(nativeHandle_, exportName);
#endif
    return nullptr;
}

BridgePreparation& bridgePreparation()
{
    static BridgePreparation preparation(
        programFolder(),
        QDir::toNativeSeparators(
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .toStdString(),
        bridgeImage, firstProcessTable(), secondProcessTable());
    return preparation;
}

std::string prepareBridgeLibrary(const std::string& folder)
{
    gui::assertGuiThread();
    return bridgePreparation().prepare(folder);
}

int kovarwebview_has_edge()
{
    gui::assertGuiThread();
    auto hasEdge = reinterpret_cast<KovarHasEdgeFn>(bridgePreparation().resolve(kovarHasEdgeName));
    return hasEdge ? hasEdge() : 0;
}

BrowserOptions& browserOptions()
{
    static BrowserOptions options;
    return options;
}

bool startBridge(const BrowserEventHandlers& handlers)
{
    gui::assertGuiThread();
    optionsDataFolder() = dataFolder();
    BrowserOptions& options = browserOptions();
    options = BrowserOptions{};
    options.field(BrowserOptions::dataFolderField) =
        reinterpret_cast<std::intptr_t>(optionsDataFolder().c_str());
    options.field(BrowserOptions::flagField) = 1;

    auto init = reinterpret_cast<KovarInitFn>(bridgePreparation().resolve(kovarInitName));
    if (!init)
        return false;
    static const std::string folder = programFolder();
    BrowserEnvironment* env = nullptr;
    BrowserEvents* registry = nullptr;
    if (init(0, nullptr, 0, &env, &registry, folder.c_str()) == 0 || registry == nullptr)
        return false;
    environment = env; // kept, not used
    events = registry;
    events->onPageLoaded(handlers.onPageLoaded);
    events->onFullscreenEntered(handlers.onFullscreenEntered);
    events->onFullscreenLeft(handlers.onFullscreenLeft);
    return true;
}

BrowserEvents* browserEvents()
{
    return events;
}

bool openBrowser(QWidget* parentWindow, const std::string& url)
{
    gui::assertGuiThread();
    if (!bridgePreparation().started())
        prepareBridgeLibrary(dataFolder());
    auto open = reinterpret_cast<KovarOpenFn>(bridgePreparation().resolve(kovarOpenName));
    if (!open)
        return false;
    BrowserInstance* instance = open(parentWindow, url.c_str(), &browserOptions());
    if (instance == nullptr)
        return false;
    webViewBridge().adopt(instance);
    return true;
}
