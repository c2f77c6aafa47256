#include "platform/Device/Speaker.h"

#include <mutex>

namespace {

std::mutex outputMutex;
std::shared_ptr<Speaker::Output> attached;

}  // namespace

void Speaker::attach(std::shared_ptr<Output> output) {
    std::lock_guard lock(outputMutex);
    attached = std::move(output);
}

std::shared_ptr<Speaker::Output> Speaker::output() {
    std::lock_guard lock(outputMutex);
    return attached;
}
