// Preparing the bridge library file: where it is written, when it is left alone, that it is loaded
// by its full path and that the start call gets the folder; once per process for the program.

#include "playback/bridge_image.h"
#include "playback/bridge_library.h"
#include "playback/web_view_bridge.h"
#include "util/hash_table.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string readFile(const std::string& path)
{
    QFile f(qs(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    QDir().mkpath(QFileInfo(qs(path)).absolutePath());
    QFile f(qs(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// Whether the dynamic loader holds the file at exactly this path.
bool loadedFrom(const std::string& path)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return false;
    ::dlclose(handle);
    return true;
}

const QDateTime oldTime =
    QDateTime::fromString(QStringLiteral("2001-02-03T04:05:06Z"), Qt::ISODate);

struct PrepareFixture : ::testing::Test {
    QTemporaryDir root;
    std::string programFolder = root.path().toStdString() + "/program";
    std::string documents = root.path().toStdString() + "/documents";
    std::string image{bridgeImage};
    HashTable names;
    HashTable spare;

    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_FALSE(image.empty());
        QDir().mkpath(qs(programFolder));
    }

    std::string inProgram() const { return programFolder + "/" + bridgeLibraryName(); }

    // The folder the loaded library's start call was given.
    static std::string startFolder(BridgePreparation& preparation)
    {
        auto folder =
            reinterpret_cast<WebView2PluginFolderFn>(preparation.resolve(webview2PluginFolderName));
        return folder ? folder() : "<no export>";
    }
};

TEST_F(PrepareFixture, WritesIntoAMissingFolderLoadsByFullPathAndStartsWithTheCompletedFolder)
{
    const std::string folder = root.path().toStdString() + "/data/deeper"; // no trailing separator
    BridgePreparation preparation(programFolder, documents, image, names, spare);

    const std::string path = preparation.prepare(folder);

    EXPECT_EQ(path, folder + "/" + bridgeLibraryName());
    EXPECT_TRUE(QFileInfo(qs(folder)).isDir());
    EXPECT_EQ(readFile(path), image);
    EXPECT_TRUE(loadedFrom(path));
    EXPECT_EQ(startFolder(preparation), folder + "/");
    EXPECT_FALSE(QFileInfo::exists(qs(inProgram())));
    EXPECT_TRUE(names.contains(bridgeLibraryName()));
    EXPECT_EQ(spare.kinds(), std::make_pair(int32_t{HashInteger}, int32_t{HashInteger}));
}

TEST_F(PrepareFixture, LeavesAnIdenticalFileUntouchedAndReplacesAStaleOne)
{
    struct Case {
        const char* name;
        std::string existing;
        bool rewritten;
    };
    const Case cases[] = {
        {"identical", image, false},
        {"stale, other bytes", "not the library", true},
        {"stale, same size", std::string(image.size(), 'x'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dataRoot;
        const std::string folder = dataRoot.path().toStdString() + "/";
        const std::string file = folder + bridgeLibraryName();
        writeFile(file, c.existing);
        // Read-only, as a file left behind by an earlier copy may be.
        QFile::setPermissions(qs(file), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
        {
            QFile f(qs(file));
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            ASSERT_TRUE(f.setFileTime(oldTime, QFileDevice::FileModificationTime));
        }
        HashTable ownNames, ownSpare;
        BridgePreparation preparation(programFolder, documents, image, ownNames, ownSpare);

        EXPECT_EQ(preparation.prepare(folder), file);

        EXPECT_EQ(readFile(file), image);
        EXPECT_EQ(QFileInfo(qs(file)).lastModified() != oldTime, c.rewritten);
        EXPECT_TRUE(QFileInfo(qs(file)).isWritable());
        EXPECT_TRUE(loadedFrom(file));
    }
}

TEST_F(PrepareFixture, ACopyInTheProgramFolderIsUsedAndNothingIsWrittenIntoTheDataFolder)
{
    struct Case {
        const char* name;
        std::string existing;
    };
    const Case cases[] = {{"right content", image}, {"stale content", "old library"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir programRoot;
        const std::string program = programRoot.path().toStdString();
        const std::string file = program + "/" + bridgeLibraryName();
        writeFile(file, c.existing);
        const std::string folder = root.path().toStdString() + "/unused-" + c.name[0] + "/";
        HashTable ownNames, ownSpare;
        BridgePreparation preparation(program, documents, image, ownNames, ownSpare);

        EXPECT_EQ(preparation.prepare(folder), file);

        EXPECT_EQ(readFile(file), image);
        EXPECT_TRUE(loadedFrom(file));
        EXPECT_FALSE(QFileInfo::exists(qs(folder)));
        // The start call still gets the caller's folder as given.
        EXPECT_EQ(startFolder(preparation), folder);
    }
}

TEST_F(PrepareFixture, AnEmptyFolderMeansTheDocumentsPluginFolder)
{
    BridgePreparation preparation(programFolder, documents, image, names, spare);

    const std::string path = preparation.prepare("");

    const std::string plugins = documents + "/ee/Plugins/";
    EXPECT_EQ(path, plugins + bridgeLibraryName());
    EXPECT_EQ(readFile(path), image);
    EXPECT_TRUE(loadedFrom(path));
    EXPECT_EQ(startFolder(preparation), plugins);
}

TEST_F(PrepareFixture, RunsOnlyOnTheFirstCall)
{
    const std::string first = root.path().toStdString() + "/first/";
    const std::string second = root.path().toStdString() + "/second/";
    BridgePreparation preparation(programFolder, documents, image, names, spare);

    const std::string path = preparation.prepare(first);
    EXPECT_EQ(preparation.prepare(second), path);
    EXPECT_EQ(preparation.prepare(""), path);

    EXPECT_FALSE(QFileInfo::exists(qs(second)));
    EXPECT_FALSE(QFileInfo::exists(qs(documents)));
    EXPECT_EQ(startFolder(preparation), first);
}

TEST_F(PrepareFixture, AnImageThatCannotBeLoadedIsAlsoPutBesideTheProgram)
{
    const std::string junk = "this is not a shared library";
    const std::string folder = root.path().toStdString() + "/data/";
    BridgePreparation preparation(programFolder, documents, junk, names, spare);

    const std::string path = preparation.prepare(folder);

    EXPECT_EQ(path, folder + bridgeLibraryName());
    EXPECT_EQ(readFile(path), junk);
    EXPECT_EQ(readFile(inProgram()), junk);
    EXPECT_TRUE(names.contains(bridgeLibraryName()));
    EXPECT_EQ(preparation.resolve(kovarHasEdgeName), nullptr);
    EXPECT_EQ(preparation.resolve(kovarOpenName), nullptr);
}

TEST(BridgeImage, IsTheBuiltLibrary)
{
    const std::string built = readFile(std::string(QY_BINARY_DIR) + "/lib/" + bridgeLibraryName());
    ASSERT_FALSE(built.empty());
    EXPECT_EQ(
        QCryptographicHash::hash(QByteArray::fromStdString(built), QCryptographicHash::Md5),
        QCryptographicHash::hash(QByteArray(bridgeImage.data(), qsizetype(bridgeImage.size())),
                                 QCryptographicHash::Md5));
}

// The program's own preparation, in a process without a widget application: it runs once, and a
// browser cannot be opened, so the bridge stays the empty placeholder.
TEST(ProgramBridge, PreparesOncePerProcessAndStaysAPlaceholderWithoutABrowser)
{
    QTemporaryDir root;
    const std::string first = root.path().toStdString() + "/first/";
    const std::string second = root.path().toStdString() + "/second/";

    const std::string path = prepareBridgeLibrary(first);
    EXPECT_EQ(path, first + bridgeLibraryName());
    EXPECT_TRUE(loadedFrom(path));
    EXPECT_EQ(prepareBridgeLibrary(second), path);
    EXPECT_FALSE(QFileInfo::exists(qs(second)));
    EXPECT_TRUE(firstProcessTable().contains(bridgeLibraryName()));

    EXPECT_EQ(kovarwebview_has_edge(), 0);
    EXPECT_FALSE(openBrowser(nullptr, "about:blank"));
    EXPECT_TRUE(webViewBridge().isPlaceholder());

    WebViewBridge& bridge = webViewBridge();
    EXPECT_EQ(bridge.windowHandle(), nullptr);
    EXPECT_EQ(bridge.navigate("http://127.0.0.1:1/"), "");
    EXPECT_EQ(bridge.elementText("body", 1), "");
    EXPECT_EQ(bridge.elementHtml("body", 1), "");
    EXPECT_FALSE(bridge.elementExists("body", 1));
    EXPECT_FALSE(bridge.clickElement("body", 1));
    std::string cookies = "unset";
    std::thread worker([&] { cookies = bridge.cookieText(1); }); // the download thread's call
    worker.join();
    EXPECT_EQ(cookies, "");
}

// A browser instance that answers cookieText slowly and notes the thread it is deleted on.
class SlowBrowser final : public BrowserInstance {
public:
    SlowBrowser(std::string cookies, std::atomic<int>& deleted, std::atomic<int>& deletedOffGui)
            : cookies_(std::move(cookies)), deleted_(deleted), deletedOffGui_(deletedOffGui)
    {}
    ~SlowBrowser() override
    {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            ++deletedOffGui_;
        ++deleted_;
    }
    QWidget* windowHandle() override { return nullptr; }
    void setBounds(int, int, int, int) override {}
    void clearCache() override {}
    void reload() override {}
    std::string navigate(const std::string& url) override { return url; }
    std::string elementText(const std::string&, int) override { return {}; }
    std::string elementHtml(const std::string&, int) override { return {}; }
    bool clickElement(const std::string&, int) override { return false; }
    bool pressElement(const std::string&, int) override { return false; }
    void stepBack(int) override {}
    void stepForward(int) override {}
    bool elementExists(const std::string&, int) override { return false; }
    std::string cookieText(int) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return cookies_;
    }
    void onTitleChanged(std::function<void(const std::string&)>) override {}
    bool seekMedia(double) override { return false; }

private:
    std::string cookies_;
    std::atomic<int>& deleted_;
    std::atomic<int>& deletedOffGui_;
};

// The download thread reads cookieText while the GUI thread opens new browsers: every answer
// comes from a whole instance, and instances are deleted on the GUI thread only, also when the
// download thread held the last reference.
TEST(WebViewBridgeThreads, AdoptingWhileTheDownloadThreadReadsCookies)
{
    std::atomic<int> deleted{0}, deletedOffGui{0};
    constexpr int opens = 40;
    {
        WebViewBridge bridge;
        std::atomic<bool> stop{false};
        std::atomic<int> bad{0};
        // Download thread: reads the cookie text over and over.
        std::thread reader([&] {
            while (!stop) {
                const std::string text = bridge.cookieText(1);
                if (!text.empty() && text.rfind("c=", 0) != 0)
                    ++bad;
            }
        });
        for (int i = 0; i < opens; ++i) {
            bridge.adopt(new SlowBrowser("c=" + std::to_string(i), deleted, deletedOffGui));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            QCoreApplication::processEvents();
        }
        stop = true;
        reader.join();
        QCoreApplication::processEvents();
        EXPECT_EQ(bad.load(), 0);
        EXPECT_EQ(bridge.cookieText(1), "c=" + std::to_string(opens - 1));
        EXPECT_EQ(deleted.load(), opens - 1);
        EXPECT_FALSE(bridge.isPlaceholder());
    }
    QCoreApplication::processEvents(); // the last instance, dropped with the bridge
    EXPECT_EQ(deleted.load(), opens);
    EXPECT_EQ(deletedOffGui.load(), 0);
}

} // namespace
