#include "platform/AVFoundation/RecordedSoundFile.h"

#include <bit>
#include <cstring>

#include "platform/AVFoundation/AVAudioRecorder.h"
#include "platform/AVFoundation/AVAudioSession.h"
#include "platform/Device/Microphone.h"

namespace {

constexpr uint64_t kBytesPerFrame = 2 * Microphone::kChannels;
constexpr uint64_t kChunkHeader = 12;
constexpr uint64_t kEditCount = 4;
constexpr uint64_t kDescriptionSize = 32;
// Format flags: little-endian integers.
constexpr uint32_t kLittleEndianIntegers = 2;

uint64_t bigEndian(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
    return value;
}

bool sameType(const uint8_t* p, const char* type) {
    return std::memcmp(p, type, 4) == 0;
}

// Whether the 32 bytes of a 'desc' chunk describe what the recorder writes.
bool isRecorderFormat(const uint8_t* d) {
    const uint64_t rateBits = bigEndian(d, 8);
    double rate = 0;
    std::memcpy(&rate, &rateBits, sizeof rate);
    return rate == Microphone::kSampleRate && bigEndian(d + 8, 4) == kAudioFormatLinearPCM &&
           bigEndian(d + 12, 4) == kLittleEndianIntegers &&
           bigEndian(d + 16, 4) == kBytesPerFrame && bigEndian(d + 20, 4) == 1 &&
           bigEndian(d + 24, 4) == static_cast<uint64_t>(Microphone::kChannels) &&
           bigEndian(d + 28, 4) == 16;
}

}  // namespace

std::optional<RecordedSoundFile> RecordedSoundFile::open(const std::string& path,
                                                         NSErrorPtr* error) {
    auto refuse = [&](const std::string& why) -> std::optional<RecordedSoundFile> {
        if (error)
            *error = NSError::make(AVFoundationErrorDomain, 3, why);
        return std::nullopt;
    };
    NSErrorPtr cause;
    auto file = RegularFile::open(path, &cause);
    if (!file)
        return refuse(cause->localizedDescription());
    const uint64_t size = file->size();

    uint8_t head[8 + kChunkHeader + kDescriptionSize];
    if (size < sizeof head || !file->read(0, head, sizeof head) || !sameType(head, "caff") ||
        bigEndian(head + 4, 2) != 1 || !sameType(head + 8, "desc") ||
        bigEndian(head + 12, 8) != kDescriptionSize)
        return refuse("it is no CAF file");
    if (!isRecorderFormat(head + 8 + kChunkHeader))
        return refuse("it is not the recorder's 16-bit stereo 44100 Hz linear PCM");

    // The chunks after the description, up to the data.
    uint64_t at = sizeof head;
    for (;;) {
        uint8_t chunk[kChunkHeader];
        if (size - at < kChunkHeader || !file->read(at, chunk, sizeof chunk))
            return refuse("it holds no sound data");
        const uint64_t declared = bigEndian(chunk + 4, 8);
        at += kChunkHeader;
        const uint64_t rest = size - at;
        if (sameType(chunk, "data")) {
            const bool open = declared == ~uint64_t{0};
            if ((!open && declared != rest) || rest < kEditCount ||
                (rest - kEditCount) % kBytesPerFrame != 0)
                return refuse("its sound data does not match its header");
            return RecordedSoundFile(std::move(*file), at + kEditCount,
                                     (rest - kEditCount) / kBytesPerFrame);
        }
        if (declared > rest)
            return refuse("its header runs past its end");
        at += declared;
    }
}

double RecordedSoundFile::duration() const {
    return static_cast<double>(frames_) / Microphone::kSampleRate;
}

std::optional<std::vector<int16_t>> RecordedSoundFile::samples() const {
    std::vector<int16_t> samples(static_cast<size_t>(frames_) * Microphone::kChannels);
    if (!file_.read(samplesAt_, samples.data(), samples.size() * sizeof(int16_t)))
        return std::nullopt;
    if constexpr (std::endian::native == std::endian::big) {
        for (int16_t& s : samples)
            s = static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(s)));
    }
    return samples;
}

std::optional<Data> RecordedSoundFile::contents() const {
    return file_.contents();
}
