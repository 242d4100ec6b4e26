// Series folders: the name a title gives (and its fallback for titles that keep no character,
// names too long and device names), the record that keeps two titles of one name apart, and the
// folder lines of the status log, which say "创建目录" only for a folder that is there.
#include "download/series_folder.h"

#include "download_fixtures.h"

#include <set>

#include <sys/stat.h>
#include <unistd.h>

using namespace dltest;

namespace {

class SeriesFolderTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    RecordingView view;
    DownloadSettings settings;

    void SetUp() override { settings.downloadRoot = temp.path().toStdString() + "/下载目录"; }

    // The folder name prepareDownloadFolders gives title, or "" when it reports a failure.
    std::string prepare(const std::string& title)
    {
        settings.seriesTitle = title;
        return prepareDownloadFolders(view, settings).value_or("");
    }
    fs::path folder(const std::string& name) const
    {
        return u8(settings.downloadRoot + "/" + name);
    }
    std::string record(const std::string& name) const
    {
        return readFile(folder(name) / kSeriesTitleName);
    }
};

bool isHex(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(),
                                     [](char c) { return std::isxdigit(c) && !std::isupper(c); });
}

TEST(SeriesFolderName, KeepsTheRuleWhereItGivesANameAndFallsBackToAStableHashWhereNot)
{
    const std::string longTitle = [] {
        std::string t;
        while (t.size() < 300)
            t += "长";
        return t;
    }();
    struct Case {
        std::string title;
        std::string kept; // the start of the name; the whole name when it needs no fallback
        bool fallback;
    };
    const Case cases[] = {
        {"天龙 第2季（国语）", "天龙第2季国语", false},
        {"Friends: 1", "Friends1", false},
        {"사랑의 불시착", "", true},  // Hangul: not kept by the rule
        {"となりのトトロ", "", true}, // kana
        {"!!! ?? ...", "", true},     // punctuation only
        {"", "", true},
        {"CON", "CON-", true}, // device names, in any case
        {"con", "con-", true},
        {"Lpt9", "Lpt9-", true},
        {"COM1", "COM1-", true},
        {"COM10", "COM10", false},
        {"CONSOLE", "CONSOLE", false},
        {longTitle, "长", true},
    };
    std::set<std::string> names;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const std::string name = seriesFolderBaseName(c.title);
        EXPECT_EQ(name, seriesFolderBaseName(c.title)); // stable
        EXPECT_TRUE(names.insert(name).second) << name;
        EXPECT_FALSE(name.empty());
        EXPECT_LE(name.size(), kMaxFolderNameBytes);
        EXPECT_FALSE(isReservedDeviceName(name));
        if (!c.fallback) {
            EXPECT_EQ(name, c.kept);
            continue;
        }
        EXPECT_EQ(name.rfind(c.kept, 0), 0u) << name;
        const std::string hash = name.substr(name.size() - 8);
        EXPECT_TRUE(isHex(hash)) << name;
        EXPECT_TRUE(name.size() == 8 || name[name.size() - 9] == '-') << name;
    }
    // The hash is of the whole title: two long titles that share their first 100 characters
    // still get names of their own.
    EXPECT_NE(seriesFolderBaseName(longTitle + "A"), seriesFolderBaseName(longTitle + "B"));
}

TEST(SeriesFolderName, DeviceNamesAreKnownWithExtensionsAndTrailingSpaces)
{
    for (const char* name : {"CON", "prn", "Aux", "nul", "COM1", "com9", "LPT1", "lpt5", "con.txt",
                             "NUL ", "aux.tar.gz"})
        EXPECT_TRUE(isReservedDeviceName(name)) << name;
    for (const char* name : {"COM0", "LPT", "CONS", "xcon", "COM10", "剧", "nul-2"})
        EXPECT_FALSE(isReservedDeviceName(name)) << name;
}

TEST_F(SeriesFolderTest, TitlesThatKeepNoCharacterGetFoldersOfTheirOwnThatTheyFindAgain)
{
    const std::string titles[] = {"사랑의 불시착", "となりのトトロ", "!!! ?? ...", "千与千寻"};
    std::set<std::string> names;
    for (const auto& title : titles) {
        SCOPED_TRACE(title);
        const std::string name = prepare(title);
        ASSERT_FALSE(name.empty());
        EXPECT_TRUE(names.insert(name).second) << name;
        EXPECT_TRUE(fs::is_directory(folder(name)));
        EXPECT_EQ(record(name), title);
        EXPECT_EQ(seriesFolder(), name);
        EXPECT_TRUE(view.logHas(kStatusLog, "创建目录: " + name));
    }
    // Nothing wrote into the download root itself, and opening each title again (by lookup or by
    // the run's preparation) finds the same folder without making another.
    EXPECT_EQ(
        std::distance(fs::directory_iterator(u8(settings.downloadRoot)), fs::directory_iterator()),
        4);
    const int madeBefore = view.logCountPrefix(kStatusLog, "创建目录");
    for (const auto& title : titles) {
        const std::string name = findSeriesFolder(settings.downloadRoot, title).name;
        EXPECT_EQ(prepare(title), name) << title;
    }
    EXPECT_EQ(view.logCountPrefix(kStatusLog, "创建目录"), madeBefore);
}

TEST_F(SeriesFolderTest, TitlesOfOneNameGetNumberedFoldersAndEachKeepsItsOwn)
{
    ASSERT_EQ(prepare("Friends: 1"), "Friends1");
    EXPECT_EQ(prepare("Friends 1!"), "Friends1-2");
    EXPECT_EQ(prepare("Friends (1)"), "Friends1-3");
    EXPECT_EQ(prepare("Friends 1!"), "Friends1-2");
    EXPECT_EQ(prepare("Friends: 1"), "Friends1");
    EXPECT_EQ(record("Friends1-2"), "Friends 1!");

    // A folder made before titles were recorded belongs to the first title that asks for it;
    // a file that holds a name is passed over; a gap left by a deleted folder does not hide a
    // later folder of the title.
    fs::create_directories(folder("老剧"));
    EXPECT_EQ(prepare("老剧"), "老剧");
    EXPECT_EQ(record("老剧"), "老剧");
    writeFile(folder("文件"), "not a folder");
    EXPECT_EQ(prepare("文件?"), "文件-2");
    fs::remove_all(folder("Friends1-2"));
    EXPECT_EQ(prepare("Friends (1)"), "Friends1-3");
    // A record saved again by an editor, with a line end, still names its title.
    writeFile(folder("Friends1-3") / kSeriesTitleName, "Friends (1)\r\n");
    EXPECT_EQ(findSeriesFolder(settings.downloadRoot, "Friends (1)").name, "Friends1-3");
}

TEST_F(SeriesFolderTest, ALongTitleGetsAShortFolderThatIsThereWhenItIsLogged)
{
    std::string title;
    while (title.size() < 300)
        title += "很长的剧名";
    const std::string name = prepare(title);
    ASSERT_FALSE(name.empty());
    EXPECT_LE(name.size(), kMaxFolderNameBytes);
    EXPECT_TRUE(fs::is_directory(folder(name)));
    EXPECT_EQ(record(name), title);
    EXPECT_EQ(view.log(kStatusLog),
              (std::vector<std::string>{"创建下载目录", "创建目录: " + name}));
    // Its numbered neighbours stay within the limit too.
    writeFile(folder(name) / kSeriesTitleName, "another title");
    const std::string second = prepare(title);
    EXPECT_EQ(second.substr(second.size() - 2), "-2");
    EXPECT_LE(second.size(), kMaxFolderNameBytes);
    EXPECT_TRUE(fs::is_directory(folder(second)));
}

TEST_F(SeriesFolderTest, AFolderThatCannotBeMadeIsReportedAndNeverLoggedAsMade)
{
    // A file where the download root should be.
    const std::string root = settings.downloadRoot;
    writeFile(u8(root), "in the way");
    EXPECT_EQ(prepare("剧"), "");
    EXPECT_EQ(view.log(kStatusLog),
              (std::vector<std::string>{"无法创建下载目录 " + root + " (已有同名文件)"}));

    // Without a title the folder is seriesFolder() as set; a file holds that name.
    fs::remove(u8(root));
    fs::create_directories(u8(root));
    writeFile(folder("测试剧"), "in the way");
    view.logs.clear();
    setSeriesFolder("测试剧");
    settings.seriesTitle.reset();
    EXPECT_FALSE(prepareDownloadFolders(view, settings));
    EXPECT_EQ(view.log(kStatusLog),
              (std::vector<std::string>{"无法创建目录: 测试剧 (已有同名文件)"}));

    // A parent that may not be written to (the superuser may write anywhere).
    if (geteuid() != 0) {
        view.logs.clear();
        ASSERT_EQ(chmod(root.c_str(), 0555), 0);
        EXPECT_EQ(prepare("新剧"), "");
        chmod(root.c_str(), 0755);
        EXPECT_EQ(view.log(kStatusLog),
                  (std::vector<std::string>{"无法创建目录: 新剧 (没有权限)"}));
        EXPECT_FALSE(fs::exists(folder("新剧")));
    }
}

} // namespace
