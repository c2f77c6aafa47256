// The animation blocks of UIView and the alpha that the screen shows while one runs.

#include <algorithm>
#include <vector>

#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UIView.h"

namespace {

constexpr double kDefaultDuration = 0.2;

// The open block: its depth, duration and the views whose alpha changed in it, each with the
// alpha it showed before its first change.
struct AnimationBlock {
    int depth = 0;
    double duration = kDefaultDuration;
    std::vector<std::pair<std::weak_ptr<UIView>, double>> changed;
};

AnimationBlock& openBlock() {
    static AnimationBlock block;
    return block;
}

}  // namespace

void UIView::setAlpha(double alpha) {
    NSThread::assertMainThread("UIView", __func__);
    AnimationBlock& block = openBlock();
    if (block.depth > 0) {
        std::weak_ptr<NSObject> weak = weak_from_this();
        if (!weak.expired()) {
            auto self = std::static_pointer_cast<UIView>(weak.lock());
            bool known = std::any_of(block.changed.begin(), block.changed.end(),
                                     [&](const auto& entry) { return entry.first.lock() == self; });
            if (!known)
                block.changed.emplace_back(self, presentationAlpha());
        }
    } else {
        alphaAnimation_ = {};
    }
    if (alpha != alpha_)
        setNeedsDisplay();
    alpha_ = alpha;
}

double UIView::presentationAlpha() const {
    const AlphaAnimation& a = alphaAnimation_;
    if (a.duration <= 0)
        return alpha_;
    double progress = (Clock::current().monotonic() - a.start) / a.duration;
    if (progress >= 1)
        return alpha_;
    if (progress <= 0)
        return a.from;
    return a.from + (alpha_ - a.from) * progress;
}

void UIView::beginAnimations(const std::string& animationId, void* context) {
    NSThread::assertMainThread("UIView", __func__);
    (void)animationId;
    (void)context;
    AnimationBlock& block = openBlock();
    if (block.depth++ == 0) {
        block.duration = kDefaultDuration;
        block.changed.clear();
    }
}

void UIView::setAnimationDuration(double duration) {
    NSThread::assertMainThread("UIView", __func__);
    AnimationBlock& block = openBlock();
    if (block.depth > 0)
        block.duration = std::max(0.0, duration);
}

void UIView::commitAnimations() {
    NSThread::assertMainThread("UIView", __func__);
    AnimationBlock& block = openBlock();
    if (block.depth == 0 || --block.depth > 0)
        return;
    const double now = Clock::current().monotonic();
    auto changed = std::move(block.changed);
    block.changed.clear();
    for (const auto& [weak, from] : changed) {
        if (auto view = weak.lock()) {
            view->alphaAnimation_ = {from, now, block.duration};
            view->setNeedsDisplay();
        }
    }
}
