#include "app/RecordingStore.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>

#include "app/NSString-PathAdditions.h"
#include "platform/CoreData/NSFetchRequest.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/RegularFile.h"

namespace {

namespace fs = std::filesystem;

// The names a recording's files are given.
bool isArchiveName(const std::string& name) {
    static const std::regex pattern("Video_[0-9]{4,}");
    return std::regex_match(name, pattern);
}
bool isSoundName(const std::string& name) {
    static const std::regex pattern("Audio_[0-9]{4,}\\.caf");
    return std::regex_match(name, pattern);
}
bool isThumbnailName(const std::string& name) {
    static const std::regex pattern("Thumbnail_[0-9]{4,}\\.jpg");
    return std::regex_match(name, pattern);
}

std::string intentName(const std::string& archive) {
    return archive + RecordingStore::kIntentExtension;
}

bool isPlainFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(path, ec));
}

std::vector<std::shared_ptr<Video>> videosAmong(
    const std::vector<std::shared_ptr<NSManagedObject>>& objects) {
    std::vector<std::shared_ptr<Video>> videos;
    for (const auto& object : objects) {
        if (auto video = std::dynamic_pointer_cast<Video>(object))
            videos.push_back(std::move(video));
    }
    return videos;
}

// The three names of a recording, each in its own attribute.
bool hasRecordingNames(const std::string& archive, const std::string& sound,
                       const std::string& thumbnail) {
    return isArchiveName(archive) && isSoundName(sound) && isThumbnailName(thumbnail);
}

// The recording's files and intent record that no row in `named` names; none of a damaged row
// (a name not of its kind). The record goes first, so that files a cut-off removal leaves behind
// have nothing to come back by.
void removeFiles(const Video& video, const std::set<std::string>& named) {
    if (!hasRecordingNames(video.videoPath(), video.soundPath(), video.thumbPath()))
        return;
    const auto& files = NSFileManager::defaultManager();
    auto remove = [&](const std::string& name, const std::string& file) {
        if (!named.count(name))
            files.removePlainFileAtPath(PathAdditions::appendPath(file));
    };
    remove(video.videoPath(), intentName(video.videoPath()));
    remove(video.soundPath(), video.soundPath());
    remove(video.videoPath(), video.videoPath());
    remove(video.thumbPath(), video.thumbPath());
}

// The five values of a row, one "key value" line each.
struct Intent {
    std::string videoPath, soundPath, thumbPath, title;
    double creationDate = 0;  // seconds since the reference date
};

std::string intentText(const Video& video) {
    char date[64];
    auto end = std::to_chars(date, date + sizeof date,
                             video.creationDate().timeIntervalSinceReferenceDate());
    return "videoPath " + video.videoPath() + "\nsoundPath " + video.soundPath() + "\nthumbPath " +
           video.thumbPath() + "\ntitle " + video.title() + "\ncreationDate " +
           std::string(date, end.ptr) + "\n";
}

// The record at `path`, when it is a plain file of at most kMaxIntentBytes with each of the five
// values once and in the form a stop writes.
std::optional<Intent> readIntent(const std::string& path) {
    auto file = RegularFile::open(path);
    if (!file || file->size() > RecordingStore::kMaxIntentBytes)
        return std::nullopt;
    auto bytes = file->contents();
    if (!bytes)
        return std::nullopt;
    Intent intent;
    std::set<std::string> seen;
    std::istringstream lines(std::string(bytes->begin(), bytes->end()));
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        if (space == std::string::npos)
            return std::nullopt;
        const std::string key = line.substr(0, space);
        const std::string value = line.substr(space + 1);
        if (!seen.insert(key).second)
            return std::nullopt;
        if (key == "videoPath") {
            intent.videoPath = value;
        } else if (key == "soundPath") {
            intent.soundPath = value;
        } else if (key == "thumbPath") {
            intent.thumbPath = value;
        } else if (key == "title") {
            static const std::regex duration("[0-9]{1,16}:[0-5][0-9]");
            if (!std::regex_match(value, duration))
                return std::nullopt;
            intent.title = value;
        } else if (key == "creationDate") {
            const char* last = value.data() + value.size();
            auto parsed = std::from_chars(value.data(), last, intent.creationDate);
            if (parsed.ec != std::errc() || parsed.ptr != last ||
                !std::isfinite(intent.creationDate))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (seen.size() != 5)
        return std::nullopt;
    return intent;
}

}  // namespace

std::set<std::string> RecordingStore::namesInRows(NSManagedObjectContext* context) {
    std::set<std::string> names;
    if (!context || !context->entityForName("Video"))
        return names;
    NSFetchRequest request;
    request.setEntity(context->entityForName("Video"));
    auto rows = context->executeFetchRequest(request, nullptr);
    for (const auto& video :
         videosAmong(rows.value_or(std::vector<std::shared_ptr<NSManagedObject>>{}))) {
        names.insert(video->videoPath());
        names.insert(video->soundPath());
        names.insert(video->thumbPath());
    }
    return names;
}

bool RecordingStore::writeIntent(const Video& video, NSErrorPtr* error) {
    const std::string text = intentText(video);
    return NSData::writeToFile(Data(text.begin(), text.end()),
                               PathAdditions::appendPath(intentName(video.videoPath())), true,
                               error);
}

bool RecordingStore::save(NSManagedObjectContext* context, NSErrorPtr* error) {
    if (!context)
        return true;
    const auto inserted = videosAmong(context->insertedObjects());
    const auto deleted = videosAmong(context->deletedObjects());
    if (!context->save(error))
        return false;
    for (const auto& video : inserted) {
        if (isArchiveName(video->videoPath()))
            NSFileManager::defaultManager().removePlainFileAtPath(
                PathAdditions::appendPath(intentName(video->videoPath())));
    }
    if (!deleted.empty()) {
        const std::set<std::string> named = namesInRows(context);
        for (const auto& video : deleted) removeFiles(*video, named);
    }
    return true;
}

bool RecordingStore::deleteRecording(NSManagedObjectContext* context,
                                     const std::shared_ptr<Video>& video, NSErrorPtr* error) {
    if (!context) {
        removeFiles(*video, {});
        return true;
    }
    const auto pending = context->insertedObjects();
    const bool unsaved = std::find(pending.begin(), pending.end(), video) != pending.end();
    context->deleteObject(video);
    if (!unsaved)
        return save(context, error);
    // Nothing of it is in the store: nothing to save.
    removeFiles(*video, namesInRows(context));
    return true;
}

void RecordingStore::restoreUnsavedRecordings(NSManagedObjectContext* context) {
    if (!context || !context->entityForName("Video"))
        return;
    const auto& files = NSFileManager::defaultManager();
    const std::string extension = kIntentExtension;
    std::set<std::string> named = namesInRows(context);
    std::vector<std::shared_ptr<NSManagedObject>> restored;
    const auto names = files.contentsOfDirectoryAtPath(PathAdditions::documentsDirectory());
    for (const std::string& name : names.value_or(std::vector<std::string>{})) {
        if (!name.ends_with(extension))
            continue;
        const std::string path = PathAdditions::appendPath(name);
        auto intent = readIntent(path);
        // A record that does not read back is left for a person to look at.
        if (!intent || intentName(intent->videoPath) != name)
            continue;
        const std::string recordingFiles[] = {intent->videoPath, intent->soundPath,
                                              intent->thumbPath};
        const bool stored = std::any_of(std::begin(recordingFiles), std::end(recordingFiles),
                                        [&](const auto& file) { return named.count(file) > 0; });
        const bool whole =
            hasRecordingNames(intent->videoPath, intent->soundPath, intent->thumbPath) &&
            std::all_of(std::begin(recordingFiles), std::end(recordingFiles), [](const auto& file) {
                return isPlainFile(PathAdditions::appendPath(file));
            });
        if (stored || !whole) {
            // The row was stored before the end came, or the recording is gone: the record
            // serves nothing.
            files.removePlainFileAtPath(path);
            continue;
        }
        auto video =
            std::static_pointer_cast<Video>(context->insertNewObjectForEntityForName("Video"));
        video->setVideoPath(intent->videoPath);
        video->setSoundPath(intent->soundPath);
        video->setThumbPath(intent->thumbPath);
        video->setTitle(intent->title);
        video->setCreationDate(
            NSDate::dateWithTimeIntervalSinceReferenceDate(intent->creationDate));
        named.insert({intent->videoPath, intent->soundPath, intent->thumbPath});
        restored.push_back(std::move(video));
    }
    if (restored.empty())
        return;
    NSErrorPtr error;
    if (save(context, &error))
        return;
    for (const auto& video : restored) context->deleteObject(video);
    NSLog("Recordings not saved before are kept for the next launch: %s",
          error ? error->localizedDescription().c_str() : "unknown reason");
}
