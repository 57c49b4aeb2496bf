#pragma once
// Owning handles for FFmpeg's objects and the text of its error codes.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <filesystem>
#include <memory>
#include <string>

#include "host/video/frame_handle.h"

namespace kv::ffmpeg {

struct FormatContextCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecContextFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;

// What FFmpeg is to open for `path`: a file that exists as the file it is,
// whatever its name looks like ("pipe:0/a.mp4" is no pipe); any other name
// as it stands (one of FFmpeg's protocols, "https://...").
std::string inputUrl(const std::filesystem::path& path);

// FFmpeg's description of an AVERROR code.
std::string errorText(int code);

// Sends FFmpeg's own error messages (a damaged slice, say) to the system log
// and drops its chatter; done once for the process, later calls do nothing.
void routeLogToSystemLog();

}  // namespace kv::ffmpeg
