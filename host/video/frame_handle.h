#pragma once
// An owned FFmpeg frame, named where FFmpeg's own headers are not wanted.
#include <memory>

struct AVFrame;

namespace kv {

struct AVFrameFreer {
    void operator()(AVFrame* frame) const;
};
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameFreer>;

}  // namespace kv
