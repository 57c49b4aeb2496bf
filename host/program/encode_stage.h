#pragma once
// The encoder on a thread of its own, fed the effect's pictures in frame
// order through a short queue, already converted to the codec's format: it
// takes the next picture as soon as it is done with one, whatever the loop
// that feeds it waits for, and does nothing but encode; the pictures waiting
// for it stay few.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "host/video/video_encoder.h"
#include "platform/coremedia/cmtime.h"
#include "platform/foundation/result.h"

namespace kv::host {

class EncodeStage {
public:
    // At most `waiting` pictures wait for the encoder.
    EncodeStage(VideoEncoder& encoder, size_t waiting);
    // Drops the pictures still waiting and ends the thread.
    ~EncodeStage();
    EncodeStage(const EncodeStage&) = delete;
    EncodeStage& operator=(const EncodeStage&) = delete;

    // Queues the picture for `time`, waiting while the queue is full; the
    // encoder's error once it has failed.
    Result<void> push(CMTime time, CodecPicture picture);
    // Encodes every picture queued and ends the thread; the first error.
    Result<void> finish();
    // Seconds spent encoding; read after finish().
    double seconds() const { return seconds_; }

private:
    void run();
    void stop(bool dropWaiting);

    VideoEncoder& encoder_;
    const size_t waiting_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<CMTime, CodecPicture>> queue_;
    bool closed_ = false;
    std::optional<Error> error_;
    double seconds_ = 0;  // the thread's own until it has ended
    std::thread thread_;
};

}  // namespace kv::host
