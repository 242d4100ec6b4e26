#include "download/episode_jobs.h"

#include "app/paths.h"
#include "app/transfer_settings.h"
#include "download/download_text.h"
#include "download/fetch_page.h"
#include "download/hls_playlist.h"
#include "download/merge_segments.h"
#include "util/utf8_path.h"

#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

// Reads one episode's playlists, keys and initialisation sections into its segment jobs. A step
// that fails sets the row's status cell, puts the reason on the status log and answers false.
class EpisodeReader {
public:
    EpisodeReader(const std::shared_ptr<DownloadRun>& owner, int row, const std::string& episode,
                  const std::string& folder)
            : settings(owner->settings), view(*owner->view), row(row), episode(episode),
              folder(folder), audioFolder(folder + pathSeparator() + kAudioFolderName),
              address(owner->rows[static_cast<size_t>(row)].address), policy{settings.caFile},
              // 中止执行 ends a playlist fetch that is still going.
              aborted([owner] { return owner->aborted(); })
    {}

    bool jobs(std::vector<SegmentJob>& out)
    {
        if (!readLists())
            return false;
        if (!fetchKeys(playlist) || !fetchKeys(audio))
            return false;
        std::vector<std::string> mapFiles, audioMapFiles;
        if (!saveMaps(playlist, folder, mapFiles) || !saveMaps(audio, audioFolder, audioMapFiles))
            return false;
        out.clear();
        addJobs(playlist, folder, mapFiles, address, out);
        if (!audio.segments.empty())
            addJobs(audio, audioFolder, audioMapFiles, audioUri, out);
        return true;
    }

private:
    const DownloadSettings& settings;
    DownloadView& view;
    const int row;
    const std::string& episode;
    const std::string& folder;
    const std::string audioFolder;
    const std::string& address;
    const TransferPolicy policy;
    const std::function<bool()> aborted;
    HlsPlaylist playlist;
    HlsPlaylist audio;    // a separate audio rendition the variant plays with, or none
    std::string audioUri; // its playlist
    std::map<std::string, std::string> keys; // fetched once per URI

    FetchResult fetch(const std::string& url, const std::string& cookies)
    {
        return settings.fetchPlaylist ? settings.fetchPlaylist(url, cookies, aborted)
                                      : fetchPlaylistPage(url, cookies, policy, aborted);
    }

    bool fail(const std::string& status, const std::string& line)
    {
        view.setCellText(row, kColumnStatus, status);
        view.appendLog(line, kStatusLog);
        return false;
    }

    // A playlist whose parse stopped: too many entries, or a byte range that cannot be.
    bool unusable(const HlsPlaylist& list, const std::string& url)
    {
        const std::string limit = std::to_string(kMaxPlaylistEntries);
        switch (list.error) {
        case HlsError::None: break;
        case HlsError::TooManySegments:
            return fail("解析失败", "列表的分段超过 " + limit + " 个,已放弃: " + trimLineEnd(url));
        case HlsError::TooManyEntries:
            return fail("解析失败", "列表的条目超过 " + limit + " 个,已放弃: " + trimLineEnd(url));
        case HlsError::BadByteRange:
            return fail("解析失败",
                        "列表的字节范围无效: " + trimLineEnd(url) + " (" + list.errorDetail + ")");
        }
        return true;
    }

    // A playlist whose server's certificate did not verify is not used, and the row says why.
    bool listFailed(const std::string& url, const FetchResult& answer)
    {
        if (answer.failure.kind == TransferFailure::Certificate)
            return fail("证书无效", certificateFailureText(answer.failure));
        return fail("解析失败",
                    "列表获取失败: " + trimLineEnd(url) + " (" + playlistFailureText(answer) + ")");
    }

    // The media playlist (a master playlist followed to its best variant) and the variant's
    // separate audio rendition; the audio folder made for it, or an earlier run's removed.
    bool readLists()
    {
        view.appendLog("解析" + address, kStatusLog);
        FetchResult page = fetch(address, view.cookieText());
        if (!page.ok)
            return listFailed(address, page);
        // Addresses in a playlist are relative to where it was answered from, after redirects.
        auto base = [](const FetchResult& answer, const std::string& asked) {
            return answer.url.empty() ? asked : answer.url;
        };
        playlist = parseHlsPlaylist(page.body, base(page, address));
        if (!playlist.valid)
            return fail("解析失败", "不是有效的m3u8列表: " + trimLineEnd(address));
        if (!unusable(playlist, address))
            return false;
        if (playlist.master) {
            int best = bestVariant(playlist);
            if (best < 0)
                return fail("解析失败", "主列表中没有可用的码流: " + trimLineEnd(address));
            const int rendition = audioRendition(playlist, playlist.variants[best]);
            if (rendition >= 0)
                audioUri = playlist.renditions[rendition].uri;
            const std::string media = playlist.variants[best].uri;
            view.appendLog("解析" + media, kStatusLog);
            page = fetch(media, view.cookieText());
            if (!page.ok)
                return listFailed(media, page);
            playlist = parseHlsPlaylist(page.body, base(page, media));
            if (!playlist.valid || playlist.master)
                return fail("解析失败", "不是有效的m3u8列表: " + media);
            if (!unusable(playlist, media))
                return false;
        }
        // The audio rendition's own list, read like the media playlist; its segments are kept in a
        // folder of their own and go into the same file.
        std::error_code audioEc;
        if (!audioUri.empty()) {
            view.appendLog("解析" + audioUri, kStatusLog);
            page = fetch(audioUri, view.cookieText());
            if (!page.ok)
                return listFailed(audioUri, page);
            audio = parseHlsPlaylist(page.body, base(page, audioUri));
            if (!audio.valid || audio.master || audio.segments.empty())
                return fail("解析失败", "不是有效的m3u8列表: " + audioUri);
            if (!unusable(audio, audioUri))
                return false;
            if (playlist.unsupportedMethod.empty())
                playlist.unsupportedMethod = audio.unsupportedMethod;
            fs::create_directory(utf8Path(audioFolder), audioEc);
        } else {
            // Audio segments of an earlier run whose variant had a separate rendition are not this
            // one's.
            fs::remove_all(utf8Path(audioFolder), audioEc);
        }
        if (!playlist.unsupportedMethod.empty())
            return fail("不支持加密", "第 " + episode + " 集的加密方式 " +
                                          playlist.unsupportedMethod + " 无法解密,已跳过");
        const int videoCount = static_cast<int>(playlist.segments.size());
        if (videoCount == 0)
            return fail("无分段", "解析完成,共有 0 条TS");
        return true;
    }

    bool fetchKeys(const HlsPlaylist& list)
    {
        for (const auto& seg : list.segments) {
            if (seg.keyIndex < 0)
                continue;
            const std::string& uri = list.keys[seg.keyIndex].uri;
            if (keys.count(uri))
                continue;
            FetchResult key = fetchBytes(uri, {}, settings.connectTimeoutMs,
                                         settings.stallTimeoutMs, aborted, kKeyBodyLimit, policy);
            if (key.limitHit)
                return fail("密钥错误", "密钥长度不是16字节: " + uri + " (" +
                                            transferFailureText(key.failure) + ")");
            if (!key.ok)
                return fail("密钥错误",
                            "密钥获取失败: " + uri + " (" + transferFailureText(key.failure) + ")");
            if (key.body.size() != 16)
                return fail("密钥错误", "密钥长度不是16字节: " + uri + " (" +
                                            std::to_string(key.body.size()) + " 字节)");
            keys[uri] = key.body;
        }
        return true;
    }

    // Initialisation sections, kept beside the segments they serve.
    bool saveMaps(const HlsPlaylist& list, const std::string& dir,
                  std::vector<std::string>& mapFiles)
    {
        mapFiles.assign(list.maps.size(), {});
        for (const auto& seg : list.segments) {
            if (seg.mapIndex < 0 || !mapFiles[seg.mapIndex].empty())
                continue;
            const HlsMap& map = list.maps[seg.mapIndex];
            const std::string file = "map" + std::to_string(seg.mapIndex + 1) + ".mp4";
            FetchResult body = fetchBytes(map.uri, map.range, settings.connectTimeoutMs,
                                          settings.stallTimeoutMs, aborted, kMapBodyLimit, policy);
            if (!body.ok || body.body.empty())
                return fail("解析失败", "初始化分段获取失败: " + map.uri + " (" +
                                            transferFailureText(body.failure) + ")");
            const std::string path = dir + pathSeparator() + file;
            UniqueFile f = openUtf8File(path + ".part", "wb");
            bool written = f && std::fwrite(body.body.data(), 1, body.body.size(), f.get()) ==
                                    body.body.size();
            if (!closeFile(f))
                written = false;
            std::error_code ec;
            if (written)
                fs::rename(utf8Path(path + ".part"), utf8Path(path), ec);
            if (!written || ec)
                return fail("解析失败", "无法写入 " + path);
            mapFiles[seg.mapIndex] = file;
        }
        return true;
    }

    // The segments are numbered in one sequence, the audio rendition's after the media playlist's;
    // each list numbers its own files from 1. Each folder keeps only segment files of its own
    // sources: files of another route, or of another series under the same folder name, must not
    // be merged into this episode.
    void addJobs(const HlsPlaylist& list, const std::string& dir,
                 const std::vector<std::string>& maps, const std::string& playlistUrl,
                 std::vector<SegmentJob>& out)
    {
        std::vector<SegmentListEntry> entries;
        std::vector<SegmentJob> jobs;
        for (size_t i = 0; i < list.segments.size(); ++i) {
            const HlsSegment& seg = list.segments[i];
            const int number = static_cast<int>(i) + 1;
            SegmentJob job;
            job.url = seg.uri;
            job.path = dir + pathSeparator() + std::to_string(number) + ".ts";
            job.dir = dir;
            job.number = number;
            job.options.range = seg.range;
            job.options.connectTimeoutMs = settings.connectTimeoutMs;
            job.options.stallTimeoutMs = settings.stallTimeoutMs;
            job.options.lowSpeedBytes = settings.lowSpeedBytes;
            job.options.lowSpeedSeconds = settings.lowSpeedSeconds;
            job.options.caFile = settings.caFile;
            job.source = segmentSource(seg, list);
            if (seg.keyIndex >= 0) {
                const std::string& key = keys[list.keys[seg.keyIndex].uri];
                job.options.decrypt = true;
                std::copy(key.begin(), key.end(), job.options.key.begin());
                job.options.iv = seg.iv;
            }
            jobs.push_back(job);
            entries.push_back(SegmentListEntry{number, seg.duration,
                                               seg.mapIndex >= 0 ? maps[seg.mapIndex] : "",
                                               seg.discontinuity});
        }
        writeSegmentList(dir, entries);
        std::vector<std::string> sources;
        sources.reserve(jobs.size());
        for (const SegmentJob& job : jobs)
            sources.push_back(job.source);
        keepOnlyMatchingSegments(dir, playlistUrl, sources);
        out.insert(out.end(), jobs.begin(), jobs.end());
    }
};

} // namespace

bool episodeJobs(const std::shared_ptr<DownloadRun>& owner, int row, const std::string& episode,
                 const std::string& folder, std::vector<SegmentJob>& out)
{
    return EpisodeReader(owner, row, episode, folder).jobs(out);
}
