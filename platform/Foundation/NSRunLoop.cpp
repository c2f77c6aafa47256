#include "platform/Foundation/NSRunLoop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <future>
#include <utility>

#include "platform/Foundation/NSThread.h"

namespace {
thread_local std::shared_ptr<NSRunLoop> tCurrentLoop;

// How long a loop under a manual clock may sleep before it looks at the clock again.
constexpr int kManualClockPollMs = 2;
}  // namespace

NSRunLoop::NSRunLoop() : thread_(std::this_thread::get_id()) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

NSRunLoop::~NSRunLoop() {
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

std::shared_ptr<NSRunLoop> NSRunLoop::mainRunLoop() {
    static std::shared_ptr<NSRunLoop> main = [] {
        auto loop = std::shared_ptr<NSRunLoop>(new NSRunLoop());
        loop->main_ = true;
        return loop;
    }();
    return main;
}

std::shared_ptr<NSRunLoop> NSRunLoop::currentRunLoop() {
    if (NSThread::isMainThread())
        return mainRunLoop();
    if (!tCurrentLoop)
        tCurrentLoop = std::shared_ptr<NSRunLoop>(new NSRunLoop());
    return tCurrentLoop;
}

void NSRunLoop::addTimer(const std::shared_ptr<NSTimer>& timer) {
    {
        // The loop's lock before the timer's, in the order runDueTimers takes them.
        std::lock_guard lock(mutex_);
        std::lock_guard timerLock(timer->mutex_);
        if (!timer->action_ || !timer->loop_.expired())
            return;  // invalid, or already on a loop
        timer->loop_ = retained(this);
        timer->seq_ = nextSeq_++;
        timers_.push_back(timer);
    }
    wake();
}

void NSRunLoop::forgetTimer(NSTimer* timer) {
    std::shared_ptr<NSTimer> removed;  // destroyed outside the lock
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(timers_.begin(), timers_.end(),
                               [&](const auto& t) { return t.get() == timer; });
        if (it == timers_.end())
            return;
        removed = std::move(*it);
        timers_.erase(it);
    }
    wake();
}

void NSRunLoop::cancelPerformRequests(const void* target, const SelectorKey& selector) {
    std::vector<std::shared_ptr<NSTimer>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& t : timers_)
            if (t->performTarget_ == target &&
                (selector.empty() || t->performSelector_ == selector))
                matching.push_back(t);
    }
    for (auto& t : matching) t->invalidate();
}

void NSRunLoop::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
    }
    wake();
}

bool NSRunLoop::isOwnThread() const {
    return main_ ? NSThread::isMainThread() : std::this_thread::get_id() == thread_;
}

void NSRunLoop::postAndWait(std::function<void()> work) {
    if (isOwnThread()) {
        work();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    post([work = std::move(work), done] {
        try {
            work();
            done->set_value();
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    });
    finished.get();
}

NSRunLoop::FileDescriptorSource NSRunLoop::addFileDescriptor(int fd, short events,
                                                             FileDescriptorCallback callback) {
    std::lock_guard lock(mutex_);
    SourceId id = nextSourceId_++;
    fdSources_.push_back(
        {id, fd, events, std::make_shared<FileDescriptorCallback>(std::move(callback))});
    return FileDescriptorSource(weakly(this), id);
}

NSRunLoop::FileDescriptorSource::FileDescriptorSource(FileDescriptorSource&& other) noexcept
    : loop_(std::move(other.loop_)), id_(std::exchange(other.id_, 0)) {}

NSRunLoop::FileDescriptorSource& NSRunLoop::FileDescriptorSource::operator=(
    FileDescriptorSource&& other) noexcept {
    if (this != &other) {
        reset();
        loop_ = std::move(other.loop_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

NSRunLoop::FileDescriptorSource::~FileDescriptorSource() {
    reset();
}

void NSRunLoop::FileDescriptorSource::setEvents(short events) {
    if (auto loop = loop_.lock())
        loop->setFileDescriptorEvents(id_, events);
}

void NSRunLoop::FileDescriptorSource::reset() {
    const SourceId id = std::exchange(id_, 0);
    if (auto loop = loop_.lock(); loop && id != 0)
        loop->removeFileDescriptor(id);
    loop_.reset();
}

void NSRunLoop::setFileDescriptorEvents(SourceId id, short events) {
    std::lock_guard lock(mutex_);
    for (auto& s : fdSources_)
        if (s.id == id)
            s.events = events;
}

void NSRunLoop::removeFileDescriptor(SourceId id) {
    std::shared_ptr<FileDescriptorCallback> callback;  // released outside the lock
    std::lock_guard lock(mutex_);
    auto it = std::find_if(fdSources_.begin(), fdSources_.end(),
                           [&](const FdSource& s) { return s.id == id; });
    if (it == fdSources_.end())
        return;
    callback = std::move(it->callback);
    fdSources_.erase(it);
}

bool NSRunLoop::hasSources() const {
    std::lock_guard lock(mutex_);
    return !timers_.empty() || !fdSources_.empty();
}

std::optional<NSTimeInterval> NSRunLoop::nextTimerFireTime() const {
    std::lock_guard lock(mutex_);
    std::optional<NSTimeInterval> next;
    for (const auto& t : timers_) {
        std::lock_guard timerLock(t->mutex_);
        if (!next || t->fireTime_ < *next)
            next = t->fireTime_;
    }
    return next;
}

std::optional<NSDate> NSRunLoop::nextTimerFireDate() const {
    auto next = nextTimerFireTime();
    if (!next)
        return std::nullopt;
    return NSDate::dateWithTimeIntervalSinceNow(*next - Clock::current().monotonic());
}

bool NSRunLoop::hasDueWork() const {
    {
        std::lock_guard lock(mutex_);
        if (!posted_.empty())
            return true;
    }
    auto next = nextTimerFireTime();
    return next && *next <= Clock::current().monotonic();
}

void NSRunLoop::removeAllSources() {
    std::vector<std::shared_ptr<NSTimer>> timers;
    std::deque<std::function<void()>> posted;
    std::vector<FdSource> sources;
    {
        std::lock_guard lock(mutex_);
        timers = timers_;
        posted.swap(posted_);
        sources.swap(fdSources_);
    }
    for (auto& t : timers) t->invalidate();
    stopRequests_ = 0;
}

void NSRunLoop::run() {
    while (hasSources()) {
        if (stopRequests_.load() > 0) {
            --stopRequests_;
            return;
        }
        runOnePass(std::nullopt);
    }
    runPostedWork();
}

void NSRunLoop::runUntilDate(NSDate date) {
    const NSTimeInterval end = Clock::current().monotonic() + date.timeIntervalSinceNow();
    while (Clock::current().monotonic() < end) {
        if (stopRequests_.load() > 0) {
            --stopRequests_;
            return;
        }
        runOnePass(end);
    }
    runPending();
}

void NSRunLoop::stop() {
    ++stopRequests_;
    wake();
}

void NSRunLoop::runPending() {
    runPostedWork();
    runDueTimers();
    waitForEvents(Clock::current().monotonic());
}

void NSRunLoop::runOnePass(std::optional<NSTimeInterval> deadline) {
    runPostedWork();
    runDueTimers();
    if (stopRequests_.load() > 0)
        return;
    if (!deadline && !hasSources())
        return;  // nothing left that could wake the wait
    waitForEvents(deadline);
}

bool NSRunLoop::runPostedWork() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(mutex_);
        work.swap(posted_);
    }
    for (auto& w : work) w();
    return !work.empty();
}

void NSRunLoop::runDueTimers() {
    const NSTimeInterval now = Clock::current().monotonic();
    uint64_t seqLimit;
    {
        std::lock_guard lock(mutex_);
        seqLimit = nextSeq_;  // timers (re)scheduled during this pass wait for the next one
    }
    while (stopRequests_.load() == 0) {
        std::shared_ptr<NSTimer> timer;
        std::shared_ptr<NSTimer::Action> action;
        {
            std::lock_guard lock(mutex_);
            NSTimeInterval bestFire = 0;
            uint64_t bestSeq = 0;
            size_t bestIndex = 0;
            for (size_t i = 0; i < timers_.size(); ++i) {
                auto& t = timers_[i];
                std::lock_guard timerLock(t->mutex_);
                NSTimeInterval fire = t->fireTime_;
                if (!t->action_ || fire > now || t->seq_ >= seqLimit)
                    continue;
                if (!timer || fire < bestFire || (fire == bestFire && t->seq_ < bestSeq)) {
                    timer = t;
                    bestFire = fire;
                    bestSeq = t->seq_;
                    bestIndex = i;
                }
            }
            if (!timer)
                return;
            std::lock_guard timerLock(timer->mutex_);
            action = timer->action_;
            if (timer->repeats_) {
                // Next fire date on the timer's own schedule, skipping the dates already past.
                NSTimeInterval interval = timer->interval_;
                NSTimeInterval next = bestFire + interval;
                if (next <= now)
                    next = bestFire + interval * (std::floor((now - bestFire) / interval) + 1);
                timer->fireTime_ = next;
                timer->seq_ = nextSeq_++;
            } else {
                // Off the loop before it runs, so a nested run cannot fire it twice.
                timers_.erase(timers_.begin() + static_cast<long>(bestIndex));
            }
        }
        (*action)(*timer);
        if (!timer->repeats_)
            timer->invalidate();
    }
}

void NSRunLoop::waitForEvents(std::optional<NSTimeInterval> deadline) {
    const Clock& clock = Clock::current();
    const NSTimeInterval now = clock.monotonic();
    std::optional<NSTimeInterval> wait;  // seconds; none means until something happens
    {
        std::lock_guard lock(mutex_);
        if (!posted_.empty())
            wait = 0;
    }
    if (auto next = nextTimerFireTime()) {
        NSTimeInterval t = *next - now;
        wait = wait ? std::min(*wait, t) : t;
    }
    if (deadline) {
        NSTimeInterval t = *deadline - now;
        wait = wait ? std::min(*wait, t) : t;
    }
    int timeoutMs = -1;
    if (wait)
        timeoutMs = *wait <= 0 ? 0 : static_cast<int>(std::min(std::ceil(*wait * 1000.0), 1e9));
    if (clock.isManual() && (timeoutMs < 0 || timeoutMs > kManualClockPollMs))
        timeoutMs = kManualClockPollMs;

    std::vector<pollfd> fds;
    std::vector<SourceId> ids;
    fds.push_back({wakeFd_, POLLIN, 0});
    {
        std::lock_guard lock(mutex_);
        for (const auto& s : fdSources_) {
            fds.push_back({s.fd, s.events, 0});
            ids.push_back(s.id);
        }
    }
    int n = poll(fds.data(), fds.size(), timeoutMs);
    if (n <= 0)
        return;
    if (fds[0].revents & POLLIN) {
        uint64_t count;
        while (read(wakeFd_, &count, sizeof count) > 0) {
        }
    }
    for (size_t i = 1; i < fds.size(); ++i) {
        short revents = fds[i].revents;
        if (!(revents & (fds[i].events | POLLERR | POLLHUP | POLLNVAL)))
            continue;
        std::shared_ptr<FileDescriptorCallback> callback;
        {
            std::lock_guard lock(mutex_);
            for (const auto& s : fdSources_)
                if (s.id == ids[i - 1])
                    callback = s.callback;
        }
        if (callback)
            (*callback)(revents);  // skipped when an earlier callback removed it
    }
}

void NSRunLoop::wake() {
    uint64_t one = 1;
    [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
}
