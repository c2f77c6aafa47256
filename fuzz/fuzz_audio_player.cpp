// A recording's sound file (CAF) opened by the audio player, which reads its length.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/AVFoundation/AVAudioPlayer.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/tilvex-fuzz-sound-" + std::to_string(::getpid()) + ".caf";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    NSErrorPtr error;
    auto player = AVAudioPlayer::initWithContentsOfURL(path, &error);
    // Either a player with a length, or an error that says why not.
    if (player ? !(player->duration() >= 0 && std::isfinite(player->duration())) : !error)
        __builtin_trap();
    std::remove(path.c_str());
    return 0;
}
