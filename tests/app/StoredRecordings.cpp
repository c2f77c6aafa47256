#include "tests/app/StoredRecordings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/NSString-PathAdditions.h"
#include "platform/AVFoundation/AVAudioRecorder.h"
#include "platform/CoreData/NSManagedObjectModel.h"
#include "platform/CoreData/NSPersistentStoreCoordinator.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Device/Microphone.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSKeyedArchiver.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/UIKit/UIImage.h"

namespace {

std::shared_ptr<NSManagedObjectContext> openStore() {
    auto coordinator = NSPersistentStoreCoordinator::initWithManagedObjectModel(
        NSManagedObjectModel::mergedModelFromBundles());
    NSErrorPtr error;
    bool opened = coordinator->addPersistentStoreWithType(
        NSSQLiteStoreType, PathAdditions::appendPath("Videos.sqlite"), &error);
    EXPECT_TRUE(opened) << (error ? error->localizedDescription() : "");
    auto context = std::make_shared<NSManagedObjectContext>();
    context->setPersistentStoreCoordinator(coordinator);
    return context;
}

Data solidJPEG(int width, int height, double grey) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, grey, grey, grey);
    cairo_paint(cr);
    cairo_destroy(cr);
    return UIImageJPEGRepresentation(UIImage::imageWithCGImage(CGImage::adoptSurface(s)), 0.5);
}

std::string lastComponent(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

StoredRecordings::StoredRecordings() : savedMicrophone_(Microphone::deviceInput()) {
    EXPECT_TRUE(DeviceHome::prepare(home_.path()));
    Microphone::setDeviceInput("lavfi:sine=frequency=440:sample_rate=44100");
    context_ = openStore();
}

StoredRecordings::~StoredRecordings() {
    context_.reset();
    Microphone::setDeviceInput(savedMicrophone_);
    NSSetHomeDirectory("");
}

std::shared_ptr<NSManagedObjectContext> StoredRecordings::freshContext() const {
    return openStore();
}

ValueArray StoredRecordings::frames(int count, int width, int height) {
    const Data jpeg = solidJPEG(width, height, 0.5);
    return ValueArray(static_cast<size_t>(count), Value(jpeg));
}

void StoredRecordings::recordSound(const std::string& path, double seconds, ManualClock& clock) {
    auto recorder = AVAudioRecorder::initWithURL(path, Value());
    ASSERT_TRUE(recorder);
    ASSERT_TRUE(recorder->record());
    clock.advance(seconds);
    recorder->stop();
}

void StoredRecordings::claimSampleRate(const std::string& path, double rate) {
    // The 'desc' chunk's first field, a big-endian double, after the file's and the chunk's
    // headers.
    constexpr long kRateAt = 8 + 12;
    uint64_t bits = 0;
    std::memcpy(&bits, &rate, sizeof bits);
    char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(bits >> (56 - 8 * i));
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    ASSERT_TRUE(file);
    file.seekp(kRateAt);
    file.write(bytes, sizeof bytes);
    ASSERT_TRUE(file);
}

std::shared_ptr<Video> StoredRecordings::add(NSDate created, int frameCount, double seconds,
                                             ManualClock& clock) {
    return add(created, frames(frameCount), seconds, clock);
}

std::shared_ptr<Video> StoredRecordings::add(NSDate created, const ValueArray& frames,
                                             double seconds, ManualClock& clock) {
    const std::string sound = PathAdditions::findUniquePath("Audio", ".caf");
    recordSound(sound, seconds, clock);
    const std::string archive = PathAdditions::findUniquePath("Video", "");
    EXPECT_TRUE(NSData::writeToFile(NSKeyedArchiver::archivedDataWithRootObject(Value(frames)),
                                    archive, true));
    const std::string thumbnail = PathAdditions::findUniquePath("Thumbnail", ".jpg");
    EXPECT_TRUE(NSData::writeToFile(solidJPEG(320, 320, 0.8), thumbnail, true));
    auto video =
        std::static_pointer_cast<Video>(context_->insertNewObjectForEntityForName("Video"));
    video->setVideoPath(lastComponent(archive));
    video->setSoundPath(lastComponent(sound));
    video->setThumbPath(lastComponent(thumbnail));
    video->setTitle(PathAdditions::stringFromInterval(seconds));
    video->setCreationDate(created);
    NSErrorPtr error;
    EXPECT_TRUE(context_->save(&error));
    return video;
}

void StoredRecordings::storeALongRecording(const std::string& home) {
    ManualClockScope time;
    StoredRecordings store;
    store.add(NSDate::dateWithTimeIntervalSince1970(1300010400.0),
              frames(60 * kLongRecordingSeconds, 320, 480), kLongRecordingSeconds, time.clock());
    std::filesystem::create_directories(home);
    std::filesystem::copy(store.documents(), home + "/Documents",
                          std::filesystem::copy_options::recursive);
}

std::string StoredRecordings::documents() const {
    return DeviceHome::documents();
}

bool StoredRecordings::exists(const std::string& name) const {
    return NSFileManager::defaultManager().fileExistsAtPath(documents() + "/" + name);
}
