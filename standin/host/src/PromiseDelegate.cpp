#include "host/cmddistributor/PromiseDelegate.hpp"

namespace cmddistributor {

PromiseDelegate::PromiseDelegate() = default;

PromiseDelegate::~PromiseDelegate() = default;

void PromiseDelegate::waitTillReady() {
    std::unique_lock<std::mutex> lock(mutex_);
    condition_.wait(lock, [this] { return promiseDone_; });
}

bool PromiseDelegate::isPromiseDone() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return promiseDone_;
}

void PromiseDelegate::tryRunTask() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        promiseDone_ = true;
    }
    condition_.notify_all();
}

}  // namespace cmddistributor
