#include "host/program/encode_stage.h"

#include <algorithm>
#include <chrono>

namespace kv::host {

EncodeStage::EncodeStage(VideoEncoder& encoder, size_t waiting)
    : encoder_(encoder), waiting_(std::max<size_t>(waiting, 1)), thread_([this] { run(); }) {}

EncodeStage::~EncodeStage() { stop(true); }

Result<void> EncodeStage::push(CMTime time, CodecPicture picture) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < waiting_ || error_; });
    if (error_) return *error_;
    queue_.emplace_back(time, std::move(picture));
    lock.unlock();
    changed_.notify_all();
    return {};
}

Result<void> EncodeStage::finish() {
    stop(false);
    if (error_) return *error_;
    return {};
}

void EncodeStage::stop(bool dropWaiting) {
    {
        std::lock_guard guard(mutex_);
        closed_ = true;
        if (dropWaiting) queue_.clear();
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void EncodeStage::run() {
    for (;;) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !queue_.empty() || closed_; });
        if (queue_.empty()) return;
        auto [time, picture] = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        changed_.notify_all();

        const auto begin = std::chrono::steady_clock::now();
        Result<void> encoded = encoder_.encode(std::move(picture), time);
        seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (!encoded) {
            {
                std::lock_guard guard(mutex_);
                error_ = encoded.error();
                queue_.clear();
            }
            changed_.notify_all();
            return;
        }
    }
}

}  // namespace kv::host
