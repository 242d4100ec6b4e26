#pragma once
// The folder of a series under the download root. Its name comes from the title; each folder
// records the full title it belongs to, so two titles whose names come out alike never share a
// folder (the second gets "-2", the third "-3", …) and a title finds its own folder again.

#include <cstddef>
#include <string>

// The record in each series folder: the full title, UTF-8, nothing else.
inline constexpr const char* kSeriesTitleName = "剧名.txt";
// The longest folder name made, in bytes (well below the 255 that file systems allow).
inline constexpr size_t kMaxFolderNameBytes = 120;

// The folder name of a series title: its ASCII digits and letters and its CJK ideographs
// U+4E00..U+9FA5, in order; everything else (other scripts, punctuation, spaces) dropped.
std::string sanitizeFolderName(const std::string& title);

// Whether Windows takes the name for a device: CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any case,
// also with an extension or trailing spaces ("con.txt", "NUL ").
bool isReservedDeviceName(const std::string& name);

// The name the series' folder has when no other title claims it first: sanitizeFolderName(title)
// where that gives a usable name; when it gives none, a name over kMaxFolderNameBytes or a
// device name, the kept characters (cut to fit) and "-" with 8 hex digits of the SHA-1 of the
// title ("a1b2c3d4" alone when nothing is kept). The same title always gives the same name.
std::string seriesFolderBaseName(const std::string& title);

enum class FolderError {
    None,
    FileInTheWay, // a file holds the name
    NoPermission,
    Other,
};

struct FolderOutcome {
    bool exists = false;  // the folder is there as a directory
    bool created = false; // this call made it
    FolderError error = FolderError::None;
    std::string detail; // the system's reason
};

// Makes sure path is a directory, creating it (and, with parents, the folders above it) when it
// is not there.
FolderOutcome ensureDirectory(const std::string& path, bool parents);

struct SeriesFolder {
    std::string name;      // folder name under the download root
    FolderOutcome folder;  // whether it is there (made by claimSeriesFolder or found)
    bool recorded = false; // its record names the title
};

// The folder of title under root: the first of the base name, base-2, base-3, … whose record
// names the title; without one, the first of them that is free or has no record (a folder made
// before titles were recorded). Reads only.
SeriesFolder findSeriesFolder(const std::string& root, const std::string& title);

// findSeriesFolder, then the folder created when it is not there and the title recorded in it.
// folder.exists is false, with the error, when that fails.
SeriesFolder claimSeriesFolder(const std::string& root, const std::string& title);
