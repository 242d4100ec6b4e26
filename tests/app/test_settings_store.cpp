#include "app/paths.h"
#include "app/settings_store.h"
#include "net/charset.h"
#include "util/text_number.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

// The 57 bytes of the default file, written out so that the test does not depend on the
// converter it checks.
const std::string kDefaultBytes =
    "[\xc5\xe4\xd6\xc3\xcf\xee]\r\n\xcf\xdf\xc2\xb7=0\r\n\xb8\xb1\xc6\xc1=\xd5\xe6\r\n"
    "\xc1\xac\xb2\xa5=\xd5\xe6\r\n\r\n[\xb9\xdb\xbf\xb4\xc0\xfa\xca\xb7]\r\n\xca\xfd\xbe\xdd=\r\n";

// Every test gets its own program folder with an empty data folder in it.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        setProgramFolderForTesting(dir_.path().toStdString());
        setDataFolderName("DaTa");
        ASSERT_TRUE(ensureDataFolder());
    }
    void TearDown() override { setProgramFolderForTesting(""); }

    static std::string fileBytes()
    {
        QFile f(QString::fromStdString(settingsPath()));
        if (!f.open(QIODevice::ReadOnly))
            return "<missing>";
        return f.readAll().toStdString();
    }
    static void writeBytes(const std::string& bytes)
    {
        QFile f(QString::fromStdString(settingsPath()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes.data(), static_cast<qint64>(bytes.size())),
                  static_cast<qint64>(bytes.size()));
    }

    QTemporaryDir dir_;
};

TEST_F(SettingsStoreTest, FirstStartWritesTheDefaultFileAndTheTableDefaultsApply)
{
    EXPECT_EQ(defaultSettingsText(), kDefaultBytes);
    ASSERT_EQ(kDefaultBytes.size(), 57u);

    // Before the file exists every read gives its default.
    EXPECT_EQ(readSetting("配置项", "线路"), "");
    EXPECT_FALSE(readFlag("配置项", "副屏"));
    EXPECT_TRUE(readFlag("配置项", "删TS", "真"));

    ASSERT_TRUE(ensureSettingsFile());
    EXPECT_EQ(fileBytes(), kDefaultBytes);
    ASSERT_TRUE(ensureSettingsFile()) << "an existing file is left alone";

    EXPECT_EQ(textToInt(readSetting("配置项", "线路")), 0);
    EXPECT_TRUE(readFlag("配置项", "副屏"));
    EXPECT_TRUE(readFlag("配置项", "连播"));
    EXPECT_FALSE(readFlag("配置项", "置顶"));
    EXPECT_EQ(readSetting("配置项", "跳转", "60"), "60");
    EXPECT_EQ(readSetting("配置项", "窗口大小"), "");
    EXPECT_TRUE(readFlag("配置项", "删TS", "真"));
    EXPECT_EQ(readSetting("观看历史", "数据"), "");

    // New keys go to the end of their section, right after its last line.
    ASSERT_TRUE(writeSetting("配置项", "置顶", "真"));
    ASSERT_TRUE(writeSetting("配置项", "窗口大小", "800|600|10|20"));
    ASSERT_TRUE(writeSetting("配置项", "线路", "2"));
    EXPECT_EQ(fileBytes(), utf8ToGb18030("[配置项]\r\n线路=2\r\n副屏=真\r\n连播=真\r\n置顶=真\r\n"
                                         "窗口大小=800|600|10|20\r\n\r\n[观看历史]\r\n数据=\r\n"));
}

TEST_F(SettingsStoreTest, FlagsAreTrueOnlyForTheExactWord)
{
    const struct {
        const char* stored;
        bool expected;
    } cases[] = {{"真", true}, {"假", false},   {"true", false}, {"1", false},
                 {"", false},  {"真真", false}, {"  真  ", true}}; // surrounding blanks are not
                                                                   // part of a value
    for (const auto& c : cases) {
        ASSERT_TRUE(writeSetting("配置项", "副屏", c.stored));
        EXPECT_EQ(readFlag("配置项", "副屏"), c.expected) << '"' << c.stored << '"';
        EXPECT_EQ(readFlag("配置项", "副屏", "真"), c.expected)
            << "the default is for a missing key only";
    }
}

TEST_F(SettingsStoreTest, AnEmptyValueIsAValueNotAMissingKey)
{
    ASSERT_TRUE(writeSetting("配置项", "跳转", ""));
    EXPECT_EQ(readSetting("配置项", "跳转", "60"), "");
    ASSERT_TRUE(writeSetting("配置项", "线路", "abc"));
    EXPECT_EQ(textToInt(readSetting("配置项", "线路")), 0);
}

TEST_F(SettingsStoreTest, WindowsIniRulesKeepEverythingElseAsItWas)
{
    // Mixed line ends, a comment, blank lines, a file that does not end with a line end, a
    // duplicate key name in another section and a key line with spaces around "=".
    const std::string before =
        utf8ToGb18030("; comment\r\n[Main]\r\nAlpha = one "
                      "\r\nBeta=two\n\r\n\r\n[Other]\r\nalpha=other\r\nGamma=3");
    writeBytes(before);

    EXPECT_EQ(readSetting("main", "ALPHA"), "one") << "names match without case, value trimmed";
    EXPECT_EQ(readSetting("MAIN", "beta"), "two");
    EXPECT_EQ(readSetting("other", "alpha"), "other");
    EXPECT_EQ(readSetting("Other", "gamma"), "3");
    EXPECT_EQ(readSetting("Main", "Gamma", "none"), "none") << "keys belong to their own section";

    ASSERT_TRUE(writeSetting("MAIN", "beta", "2"));
    ASSERT_TRUE(writeSetting("main", "Delta", "4"));
    ASSERT_TRUE(writeSetting("other", "Epsilon", "5"));
    ASSERT_TRUE(writeSetting("新节", "键", "值"));
    EXPECT_EQ(fileBytes(),
              utf8ToGb18030("; comment\r\n[Main]\r\nAlpha = one \r\nbeta=2\nDelta=4\r\n\r\n\r\n"
                            "[Other]\r\nalpha=other\r\nGamma=3\r\nEpsilon=5\r\n\r\n"
                            "[新节]\r\n键=值\r\n"));
}

TEST_F(SettingsStoreTest, CreatesTheFileAndSectionsAsNeeded)
{
    ASSERT_TRUE(writeSetting("观看历史", "数据", "{}"));
    ASSERT_TRUE(writeSetting("配置项", "删TS", "假"));
    EXPECT_EQ(fileBytes(), utf8ToGb18030("[观看历史]\r\n数据={}\r\n\r\n[配置项]\r\n删TS=假\r\n"));
    EXPECT_FALSE(readFlag("配置项", "删TS", "真"));
}

TEST_F(SettingsStoreTest, WritesFailWithoutTheDataFolderAndLeaveNothingBehind)
{
    setDataFolderName("Missing");
    EXPECT_FALSE(writeSetting("配置项", "线路", "1"));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dataFolder())));
    EXPECT_EQ(readSetting("配置项", "线路", "7"), "7");
    EXPECT_FALSE(ensureSettingsFile());
}

TEST_F(SettingsStoreTest, AFileThatCannotBeReadIsNotReplaced)
{
    // A folder where the file should be: it exists but cannot be read as a file.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(settingsPath()) + QStringLiteral("/keep")));
    EXPECT_FALSE(writeSetting("配置项", "线路", "1"));
    EXPECT_TRUE(
        QFileInfo(QString::fromStdString(settingsPath()) + QStringLiteral("/keep")).isDir());
    EXPECT_EQ(readSetting("配置项", "线路", "d"), "d");
}

TEST_F(SettingsStoreTest, RefusesNamesAndValuesThatWouldBreakTheLines)
{
    ASSERT_TRUE(ensureSettingsFile());
    EXPECT_FALSE(writeSetting("配置项", "跳转", "60\r\n[观看历史]\r\n数据=injected"));
    EXPECT_FALSE(writeSetting("配置项", "a=b", "1"));
    EXPECT_FALSE(writeSetting("配]置项", "k", "1"));
    EXPECT_FALSE(writeSetting("", "k", "1"));
    EXPECT_FALSE(writeSetting("配置项", " ", "1"));
    EXPECT_EQ(fileBytes(), kDefaultBytes);
}

TEST_F(SettingsStoreTest, GB18030OnDiskKeepsCharactersOutsideGbk)
{
    // U+20000 has no GBK code; GB18030 stores it in four bytes.
    const std::string title = "剧名𠀀€";
    ASSERT_TRUE(writeSetting("观看历史", "数据", title));
    EXPECT_EQ(readSetting("观看历史", "数据"), title);
    EXPECT_NE(fileBytes().find("\x95\x32\x82\x36"), std::string::npos);
}

TEST_F(SettingsStoreTest, MultiByteNamesAreComparedCharacterByCharacter)
{
    // "乚" is 0x81 0x5D in GBK: its trail byte is "]". "丄" (0x81 0x41) and "乤" (0x81 0x61)
    // differ only in a trail byte that looks like a letter's case.
    ASSERT_TRUE(writeSetting("乚节", "丄", "upper"));
    ASSERT_TRUE(writeSetting("乚节", "乤", "lower"));
    EXPECT_EQ(readSetting("乚节", "丄"), "upper");
    EXPECT_EQ(readSetting("乚节", "乤"), "lower");
    EXPECT_EQ(fileBytes(), utf8ToGb18030("[乚节]\r\n丄=upper\r\n乤=lower\r\n"));
}

TEST_F(SettingsStoreTest, LongValuesAreReadWhole)
{
    ASSERT_TRUE(ensureSettingsFile());
    std::string history = "{\"data\":[";
    while (history.size() < 30000)
        history +=
            "{\"名\":\"长篇剧集\",\"集\":\"第1集\",\"URL\":\"https://h/p.m3u8\",\"m3u8\":\"\"},";
    history.back() = ']';
    history += "}";
    ASSERT_TRUE(writeSetting("观看历史", "数据", history));
    EXPECT_EQ(readSetting("观看历史", "数据"), history);
}

TEST_F(SettingsStoreTest, ConcurrentWritersOfDifferentKeysLoseNone)
{
    ASSERT_TRUE(ensureSettingsFile());
    constexpr int kThreads = 6;
    constexpr int kKeys = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int k = 0; k < kKeys; ++k) {
                const std::string key = "键" + std::to_string(t) + "_" + std::to_string(k);
                writeSetting(t % 2 ? "配置项" : "观看历史", key, std::to_string(t * 100 + k));
                readSetting("配置项", "线路");
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int k = 0; k < kKeys; ++k) {
            const std::string key = "键" + std::to_string(t) + "_" + std::to_string(k);
            EXPECT_EQ(readSetting(t % 2 ? "配置项" : "观看历史", key), std::to_string(t * 100 + k))
                << key;
        }
    }
    EXPECT_TRUE(readFlag("配置项", "副屏"));
}

// A writer process killed at a random moment leaves a complete file: the old one or the new one.
constexpr size_t kKillValueSize = 300000;
const char kWriterFlag[] = "--settings-writer-folder=";
const char kWriterReady[] = "SETTINGS-WRITER-READY";

TEST(SettingsKillTest, DISABLED_ChildWriter)
{
    QString folder;
    for (const QString& arg : QCoreApplication::arguments()) {
        if (arg.startsWith(QLatin1String(kWriterFlag)))
            folder = arg.mid(static_cast<qsizetype>(strlen(kWriterFlag)));
    }
    if (folder.isEmpty())
        GTEST_SKIP() << "started only by KilledWriterLeavesACompleteFile";
    setProgramFolderForTesting(folder.toStdString());
    for (unsigned i = 0;; ++i) {
        writeSetting("观看历史", "数据",
                     std::string(kKillValueSize, static_cast<char>('a' + i % 26)));
        if (i == 0) {
            printf("%s\n", kWriterReady);
            fflush(stdout);
        }
    }
}

TEST_F(SettingsStoreTest, KilledWriterLeavesACompleteFile)
{
    ASSERT_TRUE(ensureSettingsFile());
    const std::string prefix = kDefaultBytes.substr(0, kDefaultBytes.size() - 2);
    std::mt19937 random(12345);
    for (int round = 0; round < 8; ++round) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=SettingsKillTest.DISABLED_ChildWriter"),
                     QStringLiteral("--gtest_also_run_disabled_tests"),
                     QLatin1String(kWriterFlag) + dir_.path()});
        ASSERT_TRUE(child.waitForStarted());
        QByteArray output;
        while (!output.contains(kWriterReady)) {
            ASSERT_TRUE(child.waitForReadyRead(30000)) << output.toStdString();
            output += child.readAllStandardOutput();
        }
        QThread::msleep(std::uniform_int_distribution<int>(0, 40)(random));
        child.kill(); // SIGKILL: no clean-up of any kind runs in the writer
        ASSERT_TRUE(child.waitForFinished());

        const std::string bytes = fileBytes();
        ASSERT_EQ(bytes.size(), prefix.size() + kKillValueSize + 2) << "round " << round;
        ASSERT_EQ(bytes.substr(0, prefix.size()), prefix);
        const std::string value = bytes.substr(prefix.size(), kKillValueSize);
        ASSERT_EQ(value, std::string(kKillValueSize, value[0]));
        ASSERT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    }
}

} // namespace
