#pragma once
// Recordings stored as the recording screen stores them, for the tests of the album and the
// player: a temporary home with the store "Videos.sqlite" in Documents, and per recording a
// frame archive, a sound file made by the audio recorder, a thumbnail and a saved Video row.

#include <memory>
#include <string>

#include "app/Video.h"
#include "platform/CoreData/NSManagedObjectContext.h"
#include "platform/Foundation/Value.h"
#include "tests/support/RunLoopTesting.h"
#include "tests/support/TemporaryFolder.h"

// How long the long recording lasts: a minute. The thread checker makes its encoding some ten
// times slower (about five minutes here), so there a quarter of it, which still takes its
// encoding longer than the normal build's minute.
#if defined(__SANITIZE_THREAD__)
inline constexpr int kLongRecordingSeconds = 15;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr int kLongRecordingSeconds = 15;
#else
inline constexpr int kLongRecordingSeconds = 60;
#endif
#else
inline constexpr int kLongRecordingSeconds = 60;
#endif

class StoredRecordings {
  public:
    // Prepares the home and opens the store; the microphone plays a sine tone.
    StoredRecordings();
    ~StoredRecordings();
    StoredRecordings(const StoredRecordings&) = delete;
    StoredRecordings& operator=(const StoredRecordings&) = delete;

    NSManagedObjectContext* context() const { return context_.get(); }
    // A context of its own on the same store file, to see what was saved.
    std::shared_ptr<NSManagedObjectContext> freshContext() const;

    // `count` frames: the same small JPEG picture each time, 32 x 48 unless sized otherwise.
    static ValueArray frames(int count, int width = 32, int height = 48);
    // Writes a sound file of `seconds` through the recorder (moving `clock` on), a frame archive
    // of `frameCount` frames and a 320 x 320 thumbnail, with the next free numbers, then inserts
    // and saves their row, created at `created`.
    std::shared_ptr<Video> add(NSDate created, int frameCount, double seconds, ManualClock& clock);
    // The same with the frame archive holding `frames`.
    std::shared_ptr<Video> add(NSDate created, const ValueArray& frames, double seconds,
                               ManualClock& clock);
    // A sound file of `seconds` at `path`.
    static void recordSound(const std::string& path, double seconds, ManualClock& clock);
    // Makes `home` (made if missing) a home whose Documents hold one stored recording of
    // kLongRecordingSeconds, 60 frames a second of the screen's size as the camera takes them,
    // as if recorded before a run of the program there: one whose export takes seconds.
    static void storeALongRecording(const std::string& home);
    // Rewrites the sample rate that the header of the recorder's sound file at `path` claims;
    // its samples stay as they are.
    static void claimSampleRate(const std::string& path, double rate);

    std::string documents() const;
    bool exists(const std::string& name) const;

  private:
    TemporaryFolder home_;
    std::string savedMicrophone_;
    std::shared_ptr<NSManagedObjectContext> context_;
};
