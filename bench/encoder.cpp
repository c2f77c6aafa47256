// Whole-job comparison: one export of 600 frames (320x480 JPEG, quality 0.5) with 20 s of sound
// through the encoder driver, against the ffmpeg command-line tool doing the same job, in one run.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "app/Classes/output.h"
#include "bench/ScreenGrab.h"
#include "platform/CoreGraphics/CGImage.h"
#include "platform/UIKit/UIImage.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 600;
constexpr float kSeconds = 20.0f;
constexpr int kSampleFrames = 44100 * 20;

Data frameJPEG(int index) {
    return screenGrabJPEG(index, false);
}

void putLE(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string pcm() {
    std::string samples;
    samples.reserve(kSampleFrames * 4);
    for (int i = 0; i < kSampleFrames; ++i) {
        const auto v = static_cast<int16_t>(8000 * std::sin(i * 2 * M_PI * 440 / 44100));
        putLE(samples, static_cast<uint16_t>(v), 2);
        putLE(samples, static_cast<uint16_t>(v), 2);
    }
    return samples;
}

// The recorder's file as the driver reads it: a 4096-byte header, then the samples.
std::string cafFile(const std::string& samples) {
    std::string caf = "caff";
    caf.append(4096 - caf.size(), '\0');
    return caf + samples;
}

std::string wavFile(const std::string& samples) {
    std::string wav = "RIFF";
    putLE(wav, static_cast<uint32_t>(36 + samples.size()), 4);
    wav += "WAVEfmt ";
    putLE(wav, 16, 4);
    putLE(wav, 1, 2);
    putLE(wav, 2, 2);
    putLE(wav, 44100, 4);
    putLE(wav, 44100 * 4, 4);
    putLE(wav, 4, 2);
    putLE(wav, 16, 2);
    wav += "data";
    putLE(wav, static_cast<uint32_t>(samples.size()), 4);
    return wav + samples;
}

double secondsOf(const std::function<int()>& job, int& status) {
    const auto start = std::chrono::steady_clock::now();
    status = job();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() / ("tilvex-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    ValueArray frames;
    for (int i = 0; i < kFrames; ++i) {
        Data jpeg = frameJPEG(i);
        char name[16];
        std::snprintf(name, sizeof name, "%04d.jpg", i);
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<long>(jpeg.size()));
        frames.emplace_back(std::move(jpeg));
    }
    const std::string samples = pcm();
    std::ofstream(dir / "sound.caf", std::ios::binary) << cafFile(samples);
    std::ofstream(dir / "sound.wav", std::ios::binary) << wavFile(samples);

    const std::string movie = (dir / "temp.mov").string();
    const char* argv[] = {"bench_encoder", movie.c_str(), nullptr};
    // The driver's per-step logs go to a file, as they would go to the phone's console.
    std::fflush(stderr);
    const int savedStderr = dup(STDERR_FILENO);
    const int logFile = open((dir / "driver.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(logFile, STDERR_FILENO);
    int driverStatus = 0;
    const double driver = secondsOf(
        [&] { return output(2, argv, frames, kSeconds, (dir / "sound.caf").string(), nullptr); },
        driverStatus);
    std::fflush(stderr);
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    close(logFile);

    const std::string command =
        "cd '" + dir.string() +
        "' && ffmpeg -nostdin -loglevel error -y -threads 1 -framerate 30 -i %04d.jpg -i "
        "sound.wav -vf crop=320:426:0:0 -c:v mpeg4 -b:v 400k -g 600 -c:a pcm_s16le out.mov";
    int ffmpegStatus = 0;
    const double ffmpeg = secondsOf([&] { return std::system(command.c_str()); }, ffmpegStatus);

    std::printf("frames %d, sound %.1f s\n", kFrames, kSeconds);
    std::printf("output (driver):  %.3f s (status %d, %.3f ms a frame)\n", driver, driverStatus,
                driver * 1000 / kFrames);
    std::printf("ffmpeg (command): %.3f s (status %d)\n", ffmpeg, ffmpegStatus);
    std::printf("ratio driver / ffmpeg: %.2f\n", driver / ffmpeg);
    fs::remove_all(dir);
    return driverStatus == 0 && ffmpegStatus == 0 ? 0 : 1;
}
