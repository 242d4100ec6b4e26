#include "app/paths.h"
#include "app/settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class PathsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        setProgramFolderForTesting("");
        setDataFolderName("DaTa");
    }
};

TEST_F(PathsTest, ProgramFolderIsTheExecutablesFolder)
{
    EXPECT_EQ(programFolder(),
              QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString());
    EXPECT_EQ(pathSeparator(), QString(QDir::separator()).toStdString());
}

TEST_F(PathsTest, DataFolderAndSettingsPathFollowTheFolderName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string root = QDir::toNativeSeparators(dir.path()).toStdString();
    const std::string sep = pathSeparator();
    setProgramFolderForTesting(root + sep);
    EXPECT_EQ(programFolder(), root);
    EXPECT_EQ(dataFolderName(), "DaTa");
    EXPECT_EQ(dataFolder(), root + sep + "DaTa" + sep);
    EXPECT_EQ(settingsPath(), root + sep + "DaTa" + sep + "数据.ini");

    EXPECT_FALSE(QFileInfo(QString::fromStdString(dataFolder())).isDir());
    ASSERT_TRUE(ensureDataFolder());
    EXPECT_TRUE(QFileInfo(QString::fromStdString(dataFolder())).isDir());

    setDataFolderName("其他");
    EXPECT_EQ(settingsPath(), root + sep + "其他" + sep + "数据.ini") << "rebuilt on every call";
}

TEST_F(PathsTest, UnwritableProgramFolderFallsBackToTheUsersDataFolder)
{
    QStandardPaths::setTestModeEnabled(true);
    // A folder that cannot be created or written, even by the superuser.
    setProgramFolderForTesting("/proc/qy-no-such-folder");
    const std::string appData =
        QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
            .toStdString();
    ASSERT_FALSE(appData.empty());
    EXPECT_EQ(programFolder(), "/proc/qy-no-such-folder");
    EXPECT_EQ(writableProgramFolder(), appData);
    EXPECT_EQ(dataFolder(), appData + pathSeparator() + "DaTa" + pathSeparator());
    ASSERT_TRUE(ensureDataFolder());
    EXPECT_TRUE(writeSetting("配置项", "线路", "1"));
    EXPECT_EQ(readSetting("配置项", "线路"), "1");
    QDir(QString::fromStdString(appData)).removeRecursively();
    QStandardPaths::setTestModeEnabled(false);
}

} // namespace
