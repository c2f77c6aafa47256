// Whole-job comparison: one export of 600 frames (320x480 JPEG, quality 0.5) with 20 s of sound
// through the encoder driver, against the ffmpeg command-line tool doing the same job. The two
// take turns, kRuns times each, so that a busy machine slows both alike; the medians compare.
// The movie's MD5 is printed too: a change that only makes the driver faster keeps it.
//
//   bench_encoder [RUNS]    (RUNS at least 5, default 7)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "app/Classes/output.h"
#include "bench/ScreenGrab.h"
#include "platform/CommonCrypto/CommonDigest.h"
#include "platform/Foundation/NSData.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 600;
constexpr float kSeconds = 20.0f;
constexpr int kSampleFrames = 44100 * 20;
constexpr int kMinimumRuns = 5;
constexpr int kDefaultRuns = 7;

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

// The recorder's file: its CAF header (16-bit stereo 44100 Hz linear PCM) padded with a 'free'
// chunk to 4096 bytes, then the samples.
std::string cafFile(const std::string& samples) {
    auto be = [](std::string& out, uint64_t value, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(value >> (8 * i)));
    };
    std::string caf = "caff";
    be(caf, 1, 2);
    be(caf, 0, 2);
    caf += "desc";
    be(caf, 32, 8);
    const double rate = 44100;
    uint64_t rateBits = 0;
    std::memcpy(&rateBits, &rate, sizeof rate);
    be(caf, rateBits, 8);
    caf += "lpcm";
    for (uint64_t field : {2, 4, 1, 2, 16}) be(caf, field, 4);
    const size_t padding = 4096 - caf.size() - 12 - 12 - 4;
    caf += "free";
    be(caf, padding, 8);
    caf.append(padding, '\0');
    caf += "data";
    be(caf, samples.size() + 4, 8);
    be(caf, 0, 4);  // edit count
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

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string md5Hex(const std::string& path) {
    const Data bytes = NSData::dataWithContentsOfFile(path).value_or(Data{});
    unsigned char digest[CC_MD5_DIGEST_LENGTH];
    CC_MD5(bytes.data(), static_cast<CC_LONG>(bytes.size()), digest);
    std::string hex;
    for (unsigned char byte : digest) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", byte);
        hex += two;
    }
    return hex;
}

void printTimes(const char* what, const std::vector<double>& seconds) {
    std::printf("%s median %.3f s (", what, median(seconds));
    for (size_t i = 0; i < seconds.size(); ++i) std::printf(i == 0 ? "%.3f" : " %.3f", seconds[i]);
    std::printf(")\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(kMinimumRuns, std::atoi(argv[1])) : kDefaultRuns;
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
    const char* driverArgv[] = {"bench_encoder", movie.c_str(), nullptr};
    const std::string command =
        "cd '" + dir.string() +
        "' && ffmpeg -nostdin -loglevel error -y -threads 1 -framerate 30 -i %04d.jpg -i "
        "sound.wav -vf crop=320:426:0:0 -c:v mpeg4 -b:v 400k -g 600 -c:a pcm_s16le out.mov";
    std::vector<double> driver, ffmpeg;
    std::string digest;
    bool sameMovie = true;
    int failures = 0;
    for (int run = 0; run < runs; ++run) {
        // The driver's per-step logs go to a file, as they would go to the phone's console.
        std::fflush(stderr);
        const int savedStderr = dup(STDERR_FILENO);
        const int logFile = open((dir / "driver.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(logFile, STDERR_FILENO);
        int status = 0;
        driver.push_back(secondsOf(
            [&] {
                return output(2, driverArgv, frames, kSeconds, (dir / "sound.caf").string(),
                              nullptr);
            },
            status));
        std::fflush(stderr);
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);
        close(logFile);
        failures += status != 0;
        const std::string md5 = md5Hex(movie);
        sameMovie = sameMovie && (digest.empty() || md5 == digest);
        digest = md5;

        ffmpeg.push_back(secondsOf([&] { return std::system(command.c_str()); }, status));
        failures += status != 0;
    }

    const double driverMedian = median(driver);
    std::printf("frames %d, sound %.1f s, %d alternating runs each\n", kFrames, kSeconds, runs);
    printTimes("output (driver): ", driver);
    printTimes("ffmpeg (command):", ffmpeg);
    std::printf("driver %.3f ms a frame; ratio of medians driver / ffmpeg %.2f\n",
                driverMedian * 1000 / kFrames, driverMedian / median(ffmpeg));
    std::printf("movie MD5 %s%s\n", digest.c_str(), sameMovie ? "" : " (the runs differ!)");
    if (failures)
        std::printf("%d runs failed\n", failures);
    fs::remove_all(dir);
    return failures == 0 && sameMovie ? 0 : 1;
}
