// History saves against a settings file that cannot be written, and over a stored history that
// does not read as one: the failure is logged on the status log and the memory copy stays as it
// was; a damaged history is kept aside before the new one is written.

#include "app/paths.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "app/status_log.h"
#include "net/charset.h"
#include "playback/history.h"
#include "ui/status_log_box.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class HistorySave : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramFolderForTesting(dir.path().toStdString());
        ASSERT_TRUE(ensureDataFolder());
        ASSERT_TRUE(ensureSettingsFile());
        setStatusLogBox(&log);
    }
    void TearDown() override
    {
        setStatusLogBox(nullptr);
        setHistoryText("");
        setProgramFolderForTesting("");
    }

    // The status log's messages, newest first, without their time stamps.
    std::vector<std::string> logLines() const
    {
        std::vector<std::string> lines;
        for (const QString& line : log.toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            lines.push_back(line.mid(11).toStdString());
        return lines;
    }

    // The settings file as UTF-8 text.
    static std::string fileText()
    {
        QFile file(QString::fromStdString(settingsPath()));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return gb18030ToUtf8(file.readAll().toStdString());
    }

    QTemporaryDir dir;
    QPlainTextEdit log;
};

const std::string kSaved = R"({"data":[{"名":"甲","集":"01","URL":"u1","m3u8":"m1","秒":0}]})";

// Ways the settings file cannot be written that hold for root too: the file's path taken by a
// folder, and the data folder missing.
TEST_F(HistorySave, AFailedWriteIsLoggedAndLeavesTheMemoryCopy)
{
    struct Case {
        const char* name;
        void (*breakStore)();
        const char* reason;
    };
    const Case cases[] = {
        {"the settings file is a folder",
         [] {
             QFile::remove(QString::fromStdString(settingsPath()));
             ASSERT_TRUE(QDir().mkpath(QString::fromStdString(settingsPath())));
         },
         "无法读取 "},
        {"the data folder is missing",
         [] { ASSERT_TRUE(QDir(QString::fromStdString(dataFolder())).removeRecursively()); },
         "无法写入 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(ensureDataFolder());
        QFile::remove(QString::fromStdString(settingsPath()));
        QDir().rmdir(QString::fromStdString(settingsPath()));
        ASSERT_TRUE(writeSetting(kHistorySection, kHistoryKey, kSaved));
        setHistoryText(kSaved);
        log.clear();
        c.breakStore();

        saveHistory({"乙", "02", "u2", "m2", 30});

        EXPECT_EQ(historyText(), kSaved);
        const std::vector<std::string> lines = logLines();
        ASSERT_EQ(lines.size(), 1u);
        const std::string expected = std::string("观看历史保存失败: ") + c.reason + settingsPath();
        EXPECT_EQ(lines[0].rfind(expected, 0), 0u) << lines[0];
        // Once the file can be written again, the next save holds both entries.
        QDir().rmdir(QString::fromStdString(settingsPath()));
        ASSERT_TRUE(ensureDataFolder());
        saveHistory({"丙", "03", "u3", "m3"});
        const std::string stored = readSetting(kHistorySection, kHistoryKey);
        EXPECT_EQ(stored, historyText());
        EXPECT_NE(stored.find("甲"), std::string::npos);
        EXPECT_NE(stored.find("丙"), std::string::npos);
        EXPECT_EQ(stored.find("乙"), std::string::npos);
        EXPECT_EQ(logLines().size(), 1u);
    }
}

// A stored history that does not read as one is kept under 数据.bak before the new one replaces
// it; a readable or empty history is not. The history key keeps its place and form, so that
// earlier versions read the file as before.
TEST_F(HistorySave, ADamagedStoredHistoryIsKeptAsideAndTheNewEntrySaves)
{
    const std::string none = "<none>";
    struct Case {
        std::string stored;
        bool keptAside;
    };
    const Case cases[] = {
        {R"({"data":[{"名":"甲","集":"01","URL":"u1")", true}, // cut off
        {"not json at all", true},
        {R"({"data":"x"})", true},
        {R"([{"名":"甲"}])", true},
        {"", false},
        {kSaved, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        QFile::remove(QString::fromStdString(settingsPath()));
        ASSERT_TRUE(ensureSettingsFile());
        ASSERT_TRUE(writeSetting(kHistorySection, kHistoryKey, c.stored));
        setHistoryText(readSetting(kHistorySection, kHistoryKey)); // as start-up reads it
        log.clear();

        saveHistory({"乙", "02", "u2", "m2"});

        const std::string stored = readSetting(kHistorySection, kHistoryKey);
        EXPECT_EQ(stored, historyText());
        EXPECT_NE(stored.find(R"({"名":"乙","集":"02","URL":"u2","m3u8":"m2","秒":0}]})"),
                  std::string::npos)
            << stored;
        EXPECT_EQ(readSetting(kHistorySection, kDamagedHistoryKey, none),
                  c.keptAside ? c.stored : none);
        EXPECT_TRUE(logLines().empty());
        if (c.keptAside) {
            // The history key keeps its place and form, the kept text follows it in the section.
            const std::string file = fileText();
            const auto history = file.find("\r\n[观看历史]\r\n数据={\"data\":[{\"名\":\"乙\"");
            EXPECT_NE(history, std::string::npos) << file;
            EXPECT_NE(file.find("\r\n数据.bak=" + c.stored + "\r\n"), std::string::npos) << file;
            EXPECT_GT(file.find("\r\n数据.bak="), history);
        }
        // The next save starts from the new history and leaves what was kept aside alone.
        saveHistory({"丙", "03", "u3", "m3"});
        EXPECT_NE(readSetting(kHistorySection, kHistoryKey).find("乙"), std::string::npos);
        EXPECT_EQ(readSetting(kHistorySection, kDamagedHistoryKey, none),
                  c.keptAside ? c.stored : none);
    }
}

} // namespace
