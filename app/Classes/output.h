#pragma once
// The movie encoder driver: turns one recording (its JPEG frames and the recorder's sound file)
// into a QuickTime movie with one MPEG-4 Part 2 video stream of 320 x 426 pictures (the top rows
// of each 320 x 480 frame) and one 16-bit PCM stereo 44100 Hz audio stream.
//
// Frames carry no time stamps: with D the duration, N the number of frames, i the whole seconds
// of D and r the frames that fall in its fractional second, every picture lasts i / (N - r)
// seconds, and the last frame is repeated until the video reaches D. Under one second (i = 0)
// every picture lasts D / N seconds (the nearest fraction whose terms fit in 16 bits) and the
// video is the N pictures, each frame once: a movie of the recording's own length. The sound
// file's first 4500 bytes are skipped unread and stand in as 4500 bytes of silence before the
// rest.
//
// After every video step a "progress" notification is posted on the default centre (object
// null, user information {"progress": pictures encoded so far / (N - r), as a float}); the value
// is not clamped and ends above 1.0 when r > 0. Under one second the divisor is N: the value
// ends at 1.0.
//
// Threads: runs wholly on the calling thread and holds it until the movie is written; observers
// of "progress" are called synchronously on it. Any thread; the module keeps its state in
// file-scope variables, so concurrent calls take turns (a second one waits for the first).
// The turn is held while the observers of "progress" run, since each value belongs to the
// step that the file-scope state is in. So an observer must not call output itself nor wait
// for a thread that may be calling it: it would wait for its own turn. The application's one
// observer, the player, applies the value at once on the main thread or posts it there without
// waiting, and nothing on the main thread waits for an encoding.

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <memory>
#include <string>

#include "platform/Foundation/Value.h"

class UIProgressView;

// Writes the movie to argv[1] (replacing the directory entry there, never writing through a
// link), from `images` (JPEG data, one frame each,
// kept alive by the caller for the call), `duration` in seconds and the sound file at `soundURL`
// (a file path or file:// URL). `progressView` is accepted and not used: progress travels by the
// notification. argc must be 2; argv[0] only names the program in the usage text.
//
// The sound file must be one as the recorder writes it (RecordedSoundFile); any other (damaged,
// its header lying about the format or the length, not a regular file) fails as an unreadable
// one, "Could not read sound file\n".
//
// Returns 0 once the movie is complete and closed. On a failure it writes the reason to standard
// error (the usage text goes to standard output), frees everything, removes the partial movie it
// was writing under a temporary name (argv[1] is left as it was) and returns 1. A frame that does
// not decode to an image of at least 320 x 426 leaves the previous picture in its place (black
// before the first).
int output(int argc, const char* const argv[], const ValueArray& images, float duration,
           const std::string& soundURL, const std::shared_ptr<UIProgressView>& progressView);

// What the last call on this thread wrote to standard error or standard output when it returned
// 1 (the reason, ending in a line break); "" after a call that returned 0.
const std::string& output_error();

// A new frame of `pix_fmt` at width x height with planes of its own; nullptr when memory is short.
// Freed with av_frame_free.
AVFrame* alloc_picture(AVPixelFormat pix_fmt, int width, int height);

// Fills the packed BGR24 `pict` with the top `height` rows and first `width` columns of image
// `frame_index` of the running call's frame list, through fill_bgr_picture.
void fill_yuv_image(AVFrame* pict, int frame_index, int width, int height);

// Fills the packed BGR24 `pict` with the top `height` rows and first `width` columns of the
// picture in `image` (JPEG or PNG data), read through the ARGB bitmap helper. Returns false and
// leaves `pict` unchanged when the data does not decode to a picture of at least width x height.
bool fill_bgr_picture(AVFrame* pict, const Data& image, int width, int height);
