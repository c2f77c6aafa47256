#pragma once
// The recordings' rows kept in step with their files in Documents.
//
// A stop writes the recording's three files, then beside them its intent record
// "Video_NNNN.pending" (named after the frame archive; the row's five values as text), then
// inserts the row; the save that commits the row removes the record. So a record whose archive
// no row names belongs to a recording stopped but never saved (its saves failed until the end, or
// the process was killed first), and the launch restores its row. A delete takes the record with
// the files, so what a delete cut short leaves behind never comes back.
//
// A delete's files go only once the save that commits it succeeds, and only plain files of the
// recording names in Documents (Video_NNNN, Audio_NNNN.caf and Thumbnail_NNNN.jpg, each in its
// own attribute) that no other row names; a row naming anything else (a damaged row) loses no
// file.
//
// Threads: main thread only, like the context.

#include <memory>
#include <set>
#include <string>

#include "app/Video.h"
#include "platform/CoreData/NSManagedObjectContext.h"

struct RecordingStore {
    // The intent record's name: the frame archive's name and this extension.
    static constexpr const char* kIntentExtension = ".pending";
    // The largest intent record read back.
    static constexpr size_t kMaxIntentBytes = 4096;

    // Every file name that a Video row of `context` names (saved rows and pending inserts, not
    // pending deletions), for the naming of new files. Empty without a context.
    static std::set<std::string> namesInRows(NSManagedObjectContext* context);

    // Writes the intent record of `video`, whose files are written, whole or not at all.
    static bool writeIntent(const Video& video, NSErrorPtr* error = nullptr);

    // Saves `context` (NSManagedObjectContext::save); once it succeeds, removes the intent
    // records of the rows it stored and the files of the rows whose removal it stored.
    static bool save(NSManagedObjectContext* context, NSErrorPtr* error);

    // Deletes `video`'s row and saves. A row that was never saved goes at once with its files
    // and record, whatever the save then does. False with *error when the save fails: a saved
    // row's removal stays pending, its files kept until a later save stores the removal.
    static bool deleteRecording(NSManagedObjectContext* context,
                                const std::shared_ptr<Video>& video, NSErrorPtr* error);

    // At launch: inserts the row of every intent record whose names no row names, whose values
    // read back and whose three files are plain files, and saves. A record of a stored row
    // goes. When the save fails, the restored rows are dropped again and their records kept for
    // the next launch.
    static void restoreUnsavedRecordings(NSManagedObjectContext* context);
};
