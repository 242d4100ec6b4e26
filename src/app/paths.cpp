#include "app/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <mutex>

namespace {

// Start-up sets the data-folder name on the GUI thread while worker threads may already build
// paths, so both live behind one small lock.
std::mutex pathsMutex;
std::string folderName = "DaTa";
std::string testingFolder;

std::string withoutTrailingSeparator(std::string path)
{
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    return path;
}

} // namespace

std::string pathSeparator()
{
    return QString(QDir::separator()).toStdString();
}

std::string programFolder()
{
    {
        std::lock_guard lock(pathsMutex);
        if (!testingFolder.empty())
            return testingFolder;
    }
    return withoutTrailingSeparator(
        QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString());
}

std::string writableProgramFolder()
{
    std::string folder = programFolder();
    const QFileInfo info(QString::fromStdString(folder));
    if (info.isDir() && info.isWritable())
        return folder;
    const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (appData.isEmpty())
        return folder;
    QDir().mkpath(appData);
    return withoutTrailingSeparator(QDir::toNativeSeparators(appData).toStdString());
}

void setDataFolderName(const std::string& name)
{
    std::lock_guard lock(pathsMutex);
    folderName = name;
}

std::string dataFolderName()
{
    std::lock_guard lock(pathsMutex);
    return folderName;
}

std::string dataFolder()
{
    const std::string sep = pathSeparator();
    return writableProgramFolder() + sep + dataFolderName() + sep;
}

bool ensureDataFolder()
{
    const QString folder = QString::fromStdString(dataFolder());
    return QDir().mkpath(folder) && QFileInfo(folder).isDir();
}

void setProgramFolderForTesting(const std::string& path)
{
    std::lock_guard lock(pathsMutex);
    testingFolder = path.empty() ? std::string() : withoutTrailingSeparator(path);
}
