#include "platform/UIKit/UISaveVideoAtPathToSavedPhotosAlbum.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>

#include "platform/Device/DeviceHome.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSRunLoop.h"

namespace {

constexpr int kLastNumber = 9999;

std::string ffmpegMessage(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Empty when the album takes the movie, else why not.
std::string probeMovie(const std::string& path) {
    AVFormatContext* in = nullptr;
    int status = avformat_open_input(&in, path.c_str(), nullptr, nullptr);
    if (status < 0)
        return ffmpegMessage(status);
    std::string problem;
    status = avformat_find_stream_info(in, nullptr);
    if (status < 0) {
        problem = ffmpegMessage(status);
    } else if (!in->iformat || std::strstr(in->iformat->name, "mov") == nullptr) {
        problem = std::string("not a QuickTime or MPEG-4 movie (") +
                  (in->iformat ? in->iformat->name : "unknown") + ")";
    } else if (av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) < 0) {
        problem = "the movie holds no video";
    }
    avformat_close_input(&in);
    return problem;
}

// One past the highest IMG_NNNN number in the album; 0 when the album cannot be read.
int nextNumber(const std::string& album, NSErrorPtr* error) {
    auto names = NSFileManager::defaultManager().contentsOfDirectoryAtPath(album, error);
    if (!names)
        return 0;
    static const std::regex pattern("IMG_([0-9]{4})\\.[A-Za-z0-9]+", std::regex::icase);
    int highest = 0;
    for (const auto& name : *names) {
        std::smatch match;
        if (std::regex_match(name, match, pattern))
            highest = std::max(highest, std::stoi(match[1]));
    }
    return highest + 1;
}

// Reserves the next free name by creating it empty; "" (and *error) when none can be had.
std::string reserveName(const std::string& album, NSErrorPtr* error) {
    int number = nextNumber(album, error);
    if (number == 0)
        return "";
    for (; number <= kLastNumber; ++number) {
        char name[32];
        std::snprintf(name, sizeof name, "/IMG_%04d.MOV", number);
        std::string path = album + name;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) {
            *error = NSError::posix(errno, "The photo album cannot be written");
            return "";
        }
    }
    *error = NSError::make(ALAssetsLibraryErrorDomain, ALAssetsLibraryWriteFailedError,
                           "The photo album is full");
    return "";
}

// Copies `source` to the reserved `target` through a temporary file, so the album never shows
// half a movie.
NSErrorPtr copyInto(const std::string& source, const std::string& target) {
    const std::string partial = target + ".part";
    std::error_code ec;
    std::filesystem::copy_file(source, partial, std::filesystem::copy_options::overwrite_existing,
                               ec);
    if (!ec)
        std::filesystem::rename(partial, target, ec);
    if (!ec)
        return nullptr;
    std::filesystem::remove(partial, ec);
    std::filesystem::remove(target, ec);
    return NSError::make(ALAssetsLibraryErrorDomain, ALAssetsLibraryWriteFailedError,
                         "The video could not be saved to the photo album: " + ec.message());
}

NSErrorPtr saveToAlbum(const std::string& videoPath) {
    if (std::string problem = probeMovie(videoPath); !problem.empty()) {
        return NSError::make(ALAssetsLibraryErrorDomain, ALAssetsLibraryWriteDataEncodingError,
                             "The video cannot be saved to the photo album: " + problem);
    }
    NSErrorPtr error;
    std::string target = reserveName(DeviceHome::photoAlbum(), &error);
    if (target.empty()) {
        if (!error) {
            error = NSError::make(ALAssetsLibraryErrorDomain, ALAssetsLibraryWriteFailedError,
                                  "The photo album cannot be read");
        }
        return error;
    }
    return copyInto(videoPath, target);
}

}  // namespace

bool UIVideoAtPathIsCompatibleWithSavedPhotosAlbum(const std::string& videoPath) {
    return probeMovie(videoPath).empty();
}

void UISaveVideoAtPathToSavedPhotosAlbum(const std::string& videoPath,
                                         UIVideoSaveCompletion completion) {
    NSErrorPtr error = saveToAlbum(videoPath);
    if (!completion)
        return;
    NSRunLoop::mainRunLoop()->post(
        [completion = std::move(completion), videoPath, error] { completion(videoPath, error); });
}
