#include "platform/UIKit/UISaveVideoAtPathToSavedPhotosAlbum.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <cerrno>
#include <cstring>
#include <regex>

#include "platform/Device/DeviceHome.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/Foundation/NSString.h"
#include "platform/Foundation/RegularFile.h"

namespace {

constexpr int kLastNumber = 9999;
constexpr size_t kCopyPiece = size_t{1} << 20;

std::string ffmpegMessage(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Empty when the album takes the movie, else why not.
std::string probeMovie(const RegularFile& movie) {
    // FFmpeg reads the very file that was opened and checked, through its descriptor.
    const std::string path = "/proc/self/fd/" + std::to_string(movie.descriptor());
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

// Copies the movie into the album under the next free number, a piece at a time (a movie need not
// fit in memory); the copy appears there only whole.
NSErrorPtr copyIntoAlbum(const RegularFile& movie, const std::string& album) {
    NSErrorPtr error;
    int number = nextNumber(album, &error);
    if (number == 0)
        return error;
    std::string saved = NSData::writeToFirstFreePath(
        [&movie](const NSData::ContentsSink& sink) { return movie.readPieces(kCopyPiece, sink); },
        number, kLastNumber,
        [&album](long n) { return album + stringWithFormat("/IMG_%04ld.MOV", n); }, &error);
    if (!saved.empty())
        return nullptr;
    if (error && error->code() == EEXIST) {
        return NSError::make(ALAssetsLibraryErrorDomain, ALAssetsLibraryWriteFailedError,
                             "The photo album is full");
    }
    return NSError::make(ALAssetsLibraryErrorDomain, ALAssetsLibraryWriteFailedError,
                         "The video could not be saved to the photo album: " +
                             (error ? error->localizedDescription() : std::string()));
}

NSErrorPtr saveToAlbum(const std::string& videoPath) {
    NSErrorPtr cause;
    std::optional<RegularFile> movie = RegularFile::open(videoPath, &cause);
    std::string problem = movie ? probeMovie(*movie) : cause->localizedDescription();
    if (!problem.empty()) {
        return NSError::make(ALAssetsLibraryErrorDomain, ALAssetsLibraryWriteDataEncodingError,
                             "The video cannot be saved to the photo album: " + problem);
    }
    return copyIntoAlbum(*movie, DeviceHome::photoAlbum());
}

}  // namespace

bool UIVideoAtPathIsCompatibleWithSavedPhotosAlbum(const std::string& videoPath) {
    std::optional<RegularFile> movie = RegularFile::open(videoPath);
    return movie && probeMovie(*movie).empty();
}

void UISaveVideoAtPathToSavedPhotosAlbum(const std::string& videoPath,
                                         UIVideoSaveCompletion completion) {
    NSErrorPtr error = saveToAlbum(videoPath);
    if (!completion)
        return;
    NSRunLoop::mainRunLoop()->post(
        [completion = std::move(completion), videoPath, error] { completion(videoPath, error); });
}
