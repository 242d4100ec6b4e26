#pragma once
#include <string>

// Folders of the program. Paths are UTF-8 texts built with the platform's separator.

// The folder of the executable, without a trailing separator (or the folder set for testing).
std::string programFolder();

// The folder under which the program keeps its own sub-folders ("DaTa", "下载目录"): the program
// folder when it can be written, otherwise the per-user application data folder. Rebuilt on every
// call.
std::string writableProgramFolder();

// The name of the data folder; start-up sets "DaTa" (which is also the value before that).
void setDataFolderName(const std::string& name);
std::string dataFolderName();

// writableProgramFolder() + separator + dataFolderName() + separator.
std::string dataFolder();

// Creates the data folder with every missing level; true when it exists afterwards.
bool ensureDataFolder();

// The platform's path separator as text ("/" or "\").
std::string pathSeparator();

// Tests point every path at a temporary folder; an empty path goes back to the executable's folder.
void setProgramFolderForTesting(const std::string& path);
