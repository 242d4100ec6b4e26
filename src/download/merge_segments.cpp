#include "download/merge_segments.h"

#include "app/paths.h"
#include "util/utf8_path.h"

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

bool joinFiles(const std::vector<std::string>& files, const std::string& outPath,
               const std::function<void(size_t)>& onFile)
{
    UniqueFile out = openUtf8File(outPath, "wb");
    if (out == nullptr)
        return false;
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (size_t i = 0; i < files.size() && ok; ++i) {
        if (onFile)
            onFile(i);
        UniqueFile in = openUtf8File(files[i], "rb");
        if (in == nullptr)
            continue;
        size_t got;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) {
            if (std::fwrite(buffer.data(), 1, got, out.get()) != got) {
                ok = false;
                break;
            }
        }
        // A read that failed part-way would leave the joined file short.
        if (std::ferror(in.get()))
            ok = false;
    }
    if (!closeFile(out))
        ok = false;
    return ok;
}

namespace {

// The segments of one list (the episode's, or its audio rendition's) that have a file, split into
// runs at each discontinuity and at each change of initialisation section, which goes in front of
// its run.
struct ListedSegments {
    std::vector<std::vector<RemuxFile>> runs;
    std::vector<int> missing;
    int present = 0;
    int expected = 0;
};

ListedSegments collectSegments(const std::string& folder)
{
    const std::string sep = pathSeparator();
    ListedSegments out;
    std::vector<SegmentListEntry> entries = readSegmentList(folder);
    out.expected = static_cast<int>(entries.size());
    std::string map;
    bool newRun = true;
    std::error_code ec;
    for (const auto& e : entries) {
        if (e.discontinuity || e.mapFile != map)
            newRun = true;
        map = e.mapFile;
        std::string path = folder + sep + std::to_string(e.index) + ".ts";
        if (!fs::is_regular_file(utf8Path(path), ec)) {
            out.missing.push_back(e.index);
            continue;
        }
        if (newRun) {
            out.runs.emplace_back();
            if (!map.empty())
                out.runs.back().push_back(RemuxFile{folder + sep + map, 0});
            newRun = false;
        }
        out.runs.back().push_back(RemuxFile{path, e.index});
        ++out.present;
    }
    return out;
}

std::string namesOf(const std::vector<int>& numbers, const std::string& prefix, size_t limit)
{
    std::string names;
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i == limit) {
            names += " …";
            break;
        }
        names += (i ? ", " : "") + prefix + std::to_string(numbers[i]) + ".ts";
    }
    return names;
}

} // namespace

MergeReport mergeSegments(DownloadView& view, int row, const std::string& episode,
                          const std::string& seriesPath)
{
    const std::string sep = pathSeparator();
    const std::string episodeFolder = seriesPath + sep + episode;
    const std::string audioFolder = episodeFolder + sep + kAudioFolderName;
    const std::string outPath = seriesPath + sep + episode + ".mp4";
    MergeReport report;

    view.appendLog("准备执行 TS 合并 MP4", kMergeLog);
    view.appendLog("创建MP4文件完成", kMergeLog);
    view.setCellText(row, kColumnStatus, "合并中");

    ListedSegments video = collectSegments(episodeFolder);
    std::error_code ec;
    ListedSegments audio;
    if (fs::is_directory(utf8Path(audioFolder), ec))
        audio = collectSegments(audioFolder);
    report.expected = video.expected;
    report.merged = video.present;
    report.missing = video.missing;
    report.audioSegments = audio.present;
    const int n = report.expected;
    view.setProgressMaximum(1, n);

    // Run k of the episode takes run k of the audio rendition: both lists break at the same
    // discontinuities. Extra audio runs go with the last run.
    std::vector<RemuxRun> runs(video.runs.size());
    for (size_t k = 0; k < video.runs.size(); ++k)
        runs[k].inputs.push_back(RemuxInput{video.runs[k]});
    for (size_t k = 0; k < audio.runs.size() && !runs.empty(); ++k) {
        RemuxRun& target = runs[std::min(k, runs.size() - 1)];
        if (target.inputs.size() < 2)
            target.inputs.push_back(RemuxInput{});
        auto& files = target.inputs[1].files;
        files.insert(files.end(), audio.runs[k].begin(), audio.runs[k].end());
    }

    int position = 0;
    auto onFile = [&](size_t input, int segment) {
        if (input != 0)
            return;
        ++position;
        view.appendLog("正在合并 " + std::to_string(segment) + ".ts / " + std::to_string(n),
                       kMergeLog);
        view.setProgressValue(1, position);
    };

    // The merge is written aside and put in place only once closed. A file left there by a
    // merge that never ended is nobody's output.
    const std::string tempPath = outPath + ".part";
    fs::remove(utf8Path(tempPath), ec);
    if (report.merged > 0) {
        RemuxOutcome outcome;
        report.remuxed = remuxToMp4(runs, tempPath, outcome, onFile);
        if (!report.remuxed) {
            position = 0;
            std::vector<std::string> files;
            std::vector<int> segments;
            for (const auto& run : video.runs)
                for (const auto& f : run) {
                    files.push_back(f.path);
                    segments.push_back(f.segment);
                }
            report.written = joinFiles(files, tempPath, [&](size_t i) {
                if (segments[i] > 0)
                    onFile(0, segments[i]);
            });
            view.appendLog(
                "转换MP4失败(" + outcome.error + ")," +
                    (report.written ? "已按字节顺序拼接TS分段" : "按字节拼接也未能写入文件"),
                kMergeLog);
            if (report.written && audio.present > 0)
                report.leftOut.push_back(
                    {LostMedia::Content,
                     "分离音轨的 " + std::to_string(audio.present) + " 个分段"});
        } else {
            report.written = true;
            report.leftOut = outcome.leftOut;
        }
    }

    const size_t missingCount = report.missing.size() + audio.missing.size();
    bool complete = report.written && missingCount == 0 && report.leftOut.empty() && n > 0;
    // Only a complete merge replaces the episode's file. An incomplete one takes its place only
    // when that file is itself incomplete (or missing); beside a complete file it goes under the
    // name that says it lacks something.
    const std::string outName = episode + ".mp4";
    const std::string incompleteName = episode + kIncompleteMergeSuffix;
    const std::string incompletePath = seriesPath + sep + incompleteName;
    const std::string markPath = episodeFolder + sep + kIncompleteMarkName;
    const bool hadFile = fs::is_regular_file(utf8Path(outPath), ec);
    const bool hadComplete = hadFile && !fs::exists(utf8Path(markPath), ec);
    if (report.written) {
        report.file = complete || !hadComplete ? outPath : incompletePath;
        fs::rename(utf8Path(tempPath), utf8Path(report.file), ec);
        report.written = !ec;
        if (!report.written) {
            view.appendLog("无法写入 " + report.file + " (" + ec.message() + ")", kMergeLog);
            report.file.clear();
            complete = false;
        }
    }
    fs::remove(utf8Path(tempPath), ec);
    report.keptComplete = hadComplete && !complete;
    const bool staleIncomplete =
        report.written && report.file == outPath && fs::exists(utf8Path(incompletePath), ec);
    if (report.written && report.file == outPath) {
        if (staleIncomplete)
            fs::remove(utf8Path(incompletePath), ec);
        if (complete) {
            fs::remove(utf8Path(markPath), ec);
        } else {
            if (UniqueFile mark = openUtf8File(markPath, "wb")) {
                const std::string note = outName + " 不完整\n";
                std::fwrite(note.data(), 1, note.size(), mark.get());
            }
        }
    }

    std::string status;
    view.setCellText(row, kColumnDownloaded, std::to_string(report.merged + report.audioSegments));
    if (complete) {
        status = "完成";
    } else if (missingCount > 0) {
        status = "缺" + std::to_string(missingCount) + "段";
        std::string names = namesOf(report.missing, "", 20);
        if (!audio.missing.empty())
            names += (names.empty() ? "" : ", ") +
                     namesOf(audio.missing, std::string(kAudioFolderName) + sep, 20);
        view.appendLog("第 " + episode + " 集缺少 " + std::to_string(missingCount) +
                           " 个分段: " + names,
                       kMergeLog);
    } else if (report.written && !report.leftOut.empty()) {
        // The row names the kind of media the file lacks: 缺音频, 缺视频, 缺音视频, or 缺部分内容
        // when a stretch of the segments could not be read at all.
        bool audioOut = false, videoOut = false, otherOut = false;
        for (const LeftOut& lost : report.leftOut) {
            audioOut = audioOut || lost.kind == LostMedia::Audio;
            videoOut = videoOut || lost.kind == LostMedia::Video;
            otherOut = otherOut || lost.kind == LostMedia::Content;
        }
        status = otherOut               ? "缺部分内容"
                 : audioOut && videoOut ? "缺音视频"
                 : audioOut             ? "缺音频"
                                        : "缺视频";
    } else {
        status = n == 0 ? "无分段" : "合并失败";
    }
    if (report.written && !report.leftOut.empty()) {
        std::string what;
        for (size_t i = 0; i < report.leftOut.size(); ++i)
            what += (i ? "; " : "") + report.leftOut[i].text;
        view.appendLog("第 " + episode + " 集有 " + std::to_string(report.leftOut.size()) +
                           " 路流未能写入MP4: " + what,
                       kMergeLog);
    }
    // Where the result went, and what became of the file that was there.
    if (report.keptComplete && report.written) {
        status += ",已保留完整的" + outName + ",本次结果在" + incompleteName;
        view.appendLog("第 " + episode + " 集已有完整的 " + outName +
                           ",予以保留;本次合并不完整,结果写入 " + incompleteName,
                       kMergeLog);
    } else if (hadFile && !report.written) {
        status += ",已保留原有的" + outName;
        view.appendLog("第 " + episode + " 集原有的 " + outName + " 保持不变", kMergeLog);
    } else if (report.written && !complete) {
        view.appendLog("第 " + episode + " 集还没有完整的文件,本次不完整的合并结果写入 " + outName,
                       kMergeLog);
    }
    if (staleIncomplete)
        view.appendLog("第 " + episode + " 集已删除过时的 " + incompleteName, kMergeLog);
    view.setCellText(row, kColumnStatus, status);
    if (complete && view.deleteSegmentsChecked())
        fs::remove_all(utf8Path(episodeFolder), ec);
    view.appendLog("第 " + episode + " 集合并完成", kMergeLog);
    // A finished episode leaves the next run's selection; one with gaps stays ticked, so the next
    // run fetches only what is missing.
    if (complete)
        view.setRowChecked(row, false);
    return report;
}
