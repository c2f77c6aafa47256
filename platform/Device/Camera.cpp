#include "platform/Device/Camera.h"

#include <chrono>
#include <system_error>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

std::unique_ptr<Camera> Camera::open(const std::string& input, NSErrorPtr* error) {
    auto media = MediaInput::open(input, AVMEDIA_TYPE_VIDEO, "camera", error);
    if (!media)
        return nullptr;
    auto camera = std::unique_ptr<Camera>(new Camera(std::move(media)));
    try {
        camera->thread_ = std::thread([c = camera.get()] { c->capture(); });
    } catch (const std::system_error& failure) {
        if (error)
            *error = MediaInput::threadCannotStart("camera", input, failure);
        return nullptr;
    }
    return camera;
}

Camera::Camera(std::unique_ptr<MediaInput> input) : input_(std::move(input)) {}

Camera::~Camera() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    resumed_.notify_all();
    input_->requestStop();
    if (thread_.joinable())
        thread_.join();
    sws_freeContext(scaler_);
    av_frame_free(&converted_);
}

std::shared_ptr<const CameraPicture> Camera::newestPicture() const {
    std::lock_guard lock(mutex_);
    return newest_;
}

std::shared_ptr<const CameraPicture> Camera::waitForPicture(uint64_t after,
                                                            NSTimeInterval timeout) const {
    std::unique_lock lock(mutex_);
    published_.wait_for(lock, std::chrono::duration<double>(timeout),
                        [&] { return ended_ || (newest_ && newest_->number > after); });
    return newest_ && newest_->number > after ? newest_ : nullptr;
}

void Camera::setPaused(bool paused) {
    {
        std::lock_guard lock(mutex_);
        paused_ = paused;
    }
    resumed_.notify_all();
}

bool Camera::isPaused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

bool Camera::waitWhilePaused() {
    std::unique_lock lock(mutex_);
    resumed_.wait(lock, [&] { return !paused_ || stopping_; });
    return !stopping_;
}

void Camera::capture() {
    AVFrame* frame = av_frame_alloc();
    uint64_t number = 0;
    while (waitWhilePaused() && input_->nextFrame(frame)) {
        auto picture = convert(frame, number + 1);
        av_frame_unref(frame);
        if (!picture)
            break;
        ++number;
        {
            std::lock_guard lock(mutex_);
            newest_ = std::move(picture);
        }
        published_.notify_all();
    }
    av_frame_free(&frame);
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    published_.notify_all();
}

// The scaler's vector code writes rows in whole blocks of up to 16 pixels: with rows packed at
// 4 bytes a pixel a block runs into the next row, and from the last one past the picture, or is
// dropped where it does not fit and leaves pixels unconverted. So it writes into a frame of its
// own, rows padded to 64 bytes (16 pixels) and room after the last, whose rows are then copied.
bool Camera::prepareConverted(int width, int height) {
    if (converted_ && converted_->width == width && converted_->height == height)
        return true;
    av_frame_free(&converted_);
    converted_ = av_frame_alloc();
    if (!converted_)
        return false;
    converted_->format = AV_PIX_FMT_BGRA;
    converted_->width = width;
    converted_->height = height;
    return av_frame_get_buffer(converted_, 64) == 0;
}

std::shared_ptr<const CameraPicture> Camera::convert(const AVFrame* frame, uint64_t number) {
    scaler_ = sws_getCachedContext(
        scaler_, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
        frame->width, frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
    if (!scaler_ || !prepareConverted(frame->width, frame->height))
        return nullptr;
    sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, converted_->data,
              converted_->linesize);
    auto picture = std::make_shared<CameraPicture>();
    picture->width = frame->width;
    picture->height = frame->height;
    picture->stride = frame->width * 4;
    picture->number = number;
    picture->bytes.resize(static_cast<size_t>(picture->stride) * frame->height);
    av_image_copy_plane(picture->bytes.data(), picture->stride, converted_->data[0],
                        converted_->linesize[0], picture->stride, frame->height);
    // A camera shows no transparency, and cairo would read the alpha as premultiplied.
    const AVPixFmtDescriptor* source =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (source && (source->flags & AV_PIX_FMT_FLAG_ALPHA))
        for (size_t i = 3; i < picture->bytes.size(); i += 4) picture->bytes[i] = 255;
    return picture;
}
