#pragma once
// The photo-album saver for movies. The album is the home's Media/DCIM/ folder; a saved movie is
// a copy named IMG_NNNN.MOV, numbered one past the highest IMG_ number already in the album (from
// 0001; numbers are never reused while a higher one is there), up to 9999. The copy is written
// whole under a temporary name first and appears under its number only then; a number that any
// directory entry holds (a dangling link too) is passed over, never written through.
//
// The album takes a regular file (opened as a RegularFile: a named pipe is never waited on) that
// FFmpeg opens as a QuickTime / MPEG-4 movie holding at least one video stream; anything else is
// refused with an error and nothing is copied. The copy is made a piece at a time, so a movie
// never has to fit in memory.
//
// Threads: any thread. The copy is made before the call returns; the completion always runs
// later, on the main run loop.

#include <functional>
#include <memory>
#include <string>

#include "platform/Foundation/NSError.h"

inline constexpr const char* ALAssetsLibraryErrorDomain = "ALAssetsLibraryErrorDomain";
// The album could not write the copy (the album folder, the disk, the source file).
inline constexpr long ALAssetsLibraryWriteFailedError = -3301;
// The file is no movie the album can take.
inline constexpr long ALAssetsLibraryWriteDataEncodingError = -3302;

// Whether the album would take the movie at `videoPath` (the probe above).
bool UIVideoAtPathIsCompatibleWithSavedPhotosAlbum(const std::string& videoPath);

// Copies the movie into the album; `completion` (may be empty) then hears the path it was given
// and the error, null on success.
using UIVideoSaveCompletion =
    std::function<void(const std::string& videoPath, const NSErrorPtr& error)>;
void UISaveVideoAtPathToSavedPhotosAlbum(const std::string& videoPath,
                                         UIVideoSaveCompletion completion);

// The same with the completion `video:didFinishSavingWithError:contextInfo:` sent to a target.
// The target is not retained: when it is gone by the time the completion runs, nothing is sent.
// A null target hears nothing.
template <class T>
void UISaveVideoAtPathToSavedPhotosAlbum(const std::string& videoPath,
                                         const std::shared_ptr<T>& completionTarget,
                                         void (T::*completionSelector)(const std::string&,
                                                                       const NSErrorPtr&, void*),
                                         void* contextInfo) {
    UIVideoSaveCompletion completion;
    if (completionTarget && completionSelector) {
        std::weak_ptr<T> weak = completionTarget;
        completion = [weak, completionSelector, contextInfo](const std::string& path,
                                                             const NSErrorPtr& error) {
            if (auto target = weak.lock())
                ((*target).*completionSelector)(path, error, contextInfo);
        };
    }
    UISaveVideoAtPathToSavedPhotosAlbum(videoPath, std::move(completion));
}
