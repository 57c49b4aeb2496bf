#include "host/video/ffmpeg_support.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <mutex>
#include <string>

#include "platform/foundation/log.h"

namespace kv {

void AVFrameFreer::operator()(AVFrame* frame) const { av_frame_free(&frame); }

namespace ffmpeg {

std::string inputUrl(const std::filesystem::path& path) {
    std::error_code code;
    return std::filesystem::exists(path, code) ? "file:" + path.string() : path.string();
}

namespace {

// FFmpeg may write a line in pieces, from any of its threads: each thread
// gathers its own pieces until the line ends.
void forwardToSystemLog(void* context, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR) return;
    thread_local std::string pending;
    thread_local int printPrefix = 1;
    char piece[1024];
    av_log_format_line2(context, level, format, arguments, piece, sizeof piece, &printPrefix);
    pending += piece;
    if (pending.empty() || pending.back() != '\n') return;
    pending.pop_back();
    std::erase(pending, '\n');  // a message may break its own line
    NSLog("FFmpeg: " + pending);
    pending.clear();
}

}  // namespace

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void routeLogToSystemLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(forwardToSystemLog); });
}

}  // namespace ffmpeg
}  // namespace kv
