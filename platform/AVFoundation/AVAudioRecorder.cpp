#include "platform/AVFoundation/AVAudioRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/AVFoundation/AVAudioSession.h"

namespace {
constexpr int kBytesPerFrame = Microphone::kChannels * 2;
// Where the data chunk's size field lies: the chunk header and its edit count end at the samples.
constexpr long kDataSizeOffset = AVAudioRecorder::kSampleDataOffset - 12;

void putBigEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putChunkHeader(std::vector<uint8_t>& out, const char* type, int64_t size) {
    out.insert(out.end(), type, type + 4);
    putBigEndian(out, static_cast<uint64_t>(size), 8);
}

// The header up to the first sample, with the data size unknown (-1) while recording.
std::vector<uint8_t> cafHeader() {
    std::vector<uint8_t> h;
    h.insert(h.end(), {'c', 'a', 'f', 'f', 0, 1, 0, 0});
    putChunkHeader(h, "desc", 32);
    double rate = Microphone::kSampleRate;
    uint64_t rateBits;
    static_assert(sizeof rateBits == sizeof rate);
    std::memcpy(&rateBits, &rate, sizeof rate);
    putBigEndian(h, rateBits, 8);
    putBigEndian(h, kAudioFormatLinearPCM, 4);
    putBigEndian(h, 2, 4);  // format flags: little-endian integers
    putBigEndian(h, kBytesPerFrame, 4);
    putBigEndian(h, 1, 4);  // frames per packet
    putBigEndian(h, Microphone::kChannels, 4);
    putBigEndian(h, 16, 4);
    const int64_t padding = AVAudioRecorder::kSampleDataOffset - static_cast<int64_t>(h.size()) -
                            12 /* free header */ - 12 /* data header */ - 4 /* edit count */;
    putChunkHeader(h, "free", padding);
    h.insert(h.end(), static_cast<size_t>(padding), 0);
    putChunkHeader(h, "data", -1);
    putBigEndian(h, 0, 4);  // edit count
    return h;
}

bool settingIs(const Value& settings, const char* key, double expected) {
    Value v = settings[key];
    return v.isNull() || (v.isNumber() && v.doubleValue() == expected);
}
}  // namespace

std::shared_ptr<AVAudioRecorder> AVAudioRecorder::initWithURL(const std::string& path,
                                                              const Value& settings,
                                                              NSErrorPtr* error) {
    bool supported = (settings.isNull() || settings.isDictionary()) &&
                     settingIs(settings, AVFormatIDKey, kAudioFormatLinearPCM) &&
                     settingIs(settings, AVSampleRateKey, Microphone::kSampleRate) &&
                     settingIs(settings, AVNumberOfChannelsKey, Microphone::kChannels) &&
                     settingIs(settings, AVLinearPCMBitDepthKey, 16) &&
                     settingIs(settings, AVLinearPCMIsBigEndianKey, 0) &&
                     settingIs(settings, AVLinearPCMIsFloatKey, 0);
    if (!supported || path.empty()) {
        if (error)
            *error =
                NSError::make(AVFoundationErrorDomain, 2,
                              path.empty() ? "The recorder was given no file."
                                           : "The recorder supports only 16-bit "
                                             "little-endian integer PCM, 2 channels, 44100 Hz.");
        return nullptr;
    }
    return std::shared_ptr<AVAudioRecorder>(new AVAudioRecorder(path));
}

AVAudioRecorder::~AVAudioRecorder() {
    stop();
}

bool AVAudioRecorder::prepareToRecord(NSErrorPtr* error) {
    if (microphone_)
        return true;
    // The microphone first, so that a phone without one leaves no file behind.
    auto microphone = Microphone::open(Microphone::deviceInput(), error);
    if (!microphone)
        return false;
    // Never through a symbolic link standing at the name: that would write somewhere else.
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    FILE* file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && !file) {
        int err = errno;
        ::close(fd);
        std::remove(path_.c_str());
        errno = err;
    }
    std::vector<uint8_t> header = cafHeader();
    if (!file || std::fwrite(header.data(), 1, header.size(), file) != header.size() ||
        std::fflush(file) != 0) {
        int err = errno;
        if (file) {
            std::fclose(file);
            std::remove(path_.c_str());
        }
        if (error)
            *error = NSError::posix(err, "Cannot create the sound file " + path_);
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        file_ = file;
        framesWritten_ = 0;
        fileError_.reset();
    }
    microphone_ = std::move(microphone);
    return true;
}

bool AVAudioRecorder::record(NSErrorPtr* error) {
    if (!prepareToRecord(error))
        return false;
    {
        std::lock_guard lock(mutex_);
        if (recording_)
            return true;
        // Before the microphone starts, so that its first samples are kept.
        recording_ = true;
        startedAt_ = Clock::current().monotonic();
    }
    if (microphone_->start(
            [this](const int16_t* samples, size_t frames) { write(samples, frames); }, error))
        return true;
    std::lock_guard lock(mutex_);
    recording_ = false;
    return false;
}

void AVAudioRecorder::write(const int16_t* samples, size_t frames) {
    std::lock_guard lock(mutex_);
    if (!recording_ || !file_)
        return;
    const size_t written = std::fwrite(samples, kBytesPerFrame, frames, file_);
    framesWritten_ += written;
    if (written < frames)
        noteFileError(errno);
}

void AVAudioRecorder::stop() {
    if (!microphone_)
        return;
    NSTimeInterval recorded = currentTime();
    microphone_.reset();  // no sample arrives after this
    finishFile(static_cast<uint64_t>(std::llround(recorded * Microphone::kSampleRate)));
}

void AVAudioRecorder::finishFile(uint64_t frames) {
    std::lock_guard lock(mutex_);
    recording_ = false;
    if (frames > framesWritten_) {
        std::vector<uint8_t> silence(static_cast<size_t>(frames - framesWritten_) * kBytesPerFrame);
        if (std::fwrite(silence.data(), 1, silence.size(), file_) != silence.size())
            noteFileError(errno);
    }
    if (std::fflush(file_) != 0)
        noteFileError(errno);
    const uint64_t bytes = frames * kBytesPerFrame;
    if (ftruncate(fileno(file_), static_cast<off_t>(kSampleDataOffset + bytes)) != 0)
        noteFileError(errno);
    std::vector<uint8_t> size;
    putBigEndian(size, bytes + 4 /* edit count */, 8);
    if (std::fseek(file_, kDataSizeOffset, SEEK_SET) != 0 ||
        std::fwrite(size.data(), 1, size.size(), file_) != size.size())
        noteFileError(errno);
    if (std::fclose(file_) != 0)
        noteFileError(errno);
    file_ = nullptr;
}

void AVAudioRecorder::noteFileError(int errnum) {
    if (!fileError_)
        fileError_ =
            NSError::posix(errnum != 0 ? errnum : EIO, "Cannot write the sound file " + path_);
}

NSErrorPtr AVAudioRecorder::fileError() const {
    std::lock_guard lock(mutex_);
    return fileError_;
}

bool AVAudioRecorder::isRecording() const {
    std::lock_guard lock(mutex_);
    return recording_;
}

NSTimeInterval AVAudioRecorder::currentTime() const {
    std::lock_guard lock(mutex_);
    return recording_ ? Clock::current().monotonic() - startedAt_ : 0.0;
}
