#include "host/video/video_decoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/log.h"
#include "tests/host/video/video_test_support.h"

namespace {

using kv::VideoDecoder;
using kv::VideoFrame;
using kv::testing::footage;
using ::testing::HasSubstr;

std::unique_ptr<VideoDecoder> openOrFail(const std::filesystem::path& path) {
    auto decoder = VideoDecoder::open(path);
    EXPECT_TRUE(decoder.ok()) << (decoder.ok() ? "" : decoder.error().message);
    return decoder.ok() ? std::move(*decoder) : nullptr;
}

// The times of up to `limit` frames from where the decoder stands.
std::vector<CMTime> frameTimes(VideoDecoder& decoder, size_t limit = std::numeric_limits<size_t>::max()) {
    std::vector<float> buffer(decoder.info().packedBytesPerRow() / sizeof(float) * decoder.info().height);
    std::vector<CMTime> times;
    while (times.size() < limit) {
        auto time = decoder.readFrame(buffer.data(), decoder.info().packedBytesPerRow());
        EXPECT_TRUE(time.ok()) << (time.ok() ? "" : time.error().message);
        if (!time.ok() || !*time) break;
        times.push_back(**time);
    }
    return times;
}

void expectStrictlyIncreasing(const std::vector<CMTime>& times) {
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_LT(CMTimeCompare(times[i - 1], times[i]), 0) << "frame " << i;
    }
}

// "30000/1001" → the duration of one frame, 1001/30000.
CMTime durationOfOneFrameAt(const std::string& rate) {
    const auto slash = rate.find('/');
    return CMTimeMake(std::stoll(rate.substr(slash + 1)), std::stoi(rate.substr(0, slash)));
}

TEST(VideoDecoderFootageTest, DescribesEachStreamAsFfprobeDoes) {
    for (const char* name :
         {"balle-jbart.mp4", "box.mp4", "car-detection.mp4", "cockatoo_yuv420.mp4", "cup.mp4", "vtest.avi"}) {
        SCOPED_TRACE(name);
        const auto description = footage("ffprobe") / (std::string(name) + ".json");
        if (!std::filesystem::exists(footage(name)) || !std::filesystem::exists(description)) continue;
        nlohmann::json probe = nlohmann::json::parse(std::ifstream(description));
        nlohmann::json stream;
        for (const auto& s : probe["streams"]) {
            if (s["codec_type"] == "video") stream = s;
        }
        auto decoder = openOrFail(footage(name));
        ASSERT_TRUE(decoder);
        const kv::VideoStreamInfo& info = decoder->info();
        // Stored sizes, also for the non-square pixels of balle-jbart.mp4 (16:15).
        EXPECT_EQ(info.width, stream["width"]);
        EXPECT_EQ(info.height, stream["height"]);
        EXPECT_EQ("1/" + std::to_string(info.timescale), stream["time_base"]);
        EXPECT_EQ(info.frameDuration, durationOfOneFrameAt(stream["r_frame_rate"]));
        EXPECT_EQ(info.frameCount, std::stoll(stream["nb_frames"].get<std::string>()));
        EXPECT_EQ(info.duration, CMTimeMake(stream["duration_ts"], info.timescale));
        EXPECT_EQ(info.startTime, CMTimeMake(stream["start_pts"], info.timescale));
        const std::string sar = stream.value("sample_aspect_ratio", "1:1");
        EXPECT_EQ(std::to_string(info.sampleAspectNumerator) + ":" + std::to_string(info.sampleAspectDenominator),
                  sar);
    }
}

// A Matroska file states no length per stream, only the container's, which
// counts from the audio's start; the video starting later ends with the file.
TEST(VideoDecoderTest, AVideoStartingAfterTheAudioEndsWhereItsLastFrameEnds) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const kv::testing::ScratchDirectory scratch;
    const auto file = scratch.file("late.mkv");
    ASSERT_TRUE(kv::testing::runFfmpeg("-f lavfi -i anullsrc=r=8000:cl=mono -itsoffset 0.5 -f lavfi -i "
                                       "testsrc=size=96x64:rate=10:duration=1 -map 1:v -map 0:a -t 1.5 "
                                       "-c:v ffv1 -c:a pcm_s16le '" + file.string() + "'"));
    const auto packets = kv::testing::ffprobePackets(file);
    ASSERT_FALSE(packets.empty());
    auto decoder = openOrFail(file);
    ASSERT_TRUE(decoder);
    const kv::VideoStreamInfo& info = decoder->info();
    ASSERT_EQ(info.timescale, 1000);
    EXPECT_EQ(info.startTime, CMTimeMake(packets.front().pts, 1000));
    // One frame of 100 ms after the last packet's time.
    EXPECT_EQ(CMTimeAdd(info.startTime, info.duration), CMTimeMake(packets.back().pts + 100, 1000));
}

TEST(VideoDecoderFootageTest, FramesFollowEachOtherOneFrameDurationApart) {
    for (const char* name : {"cockatoo_yuv420.mp4", "car-detection.mp4", "cup.mp4", "vtest.avi", "balle-jbart.mp4"}) {
        SCOPED_TRACE(name);
        if (!std::filesystem::exists(footage(name))) continue;
        auto decoder = openOrFail(footage(name));
        ASSERT_TRUE(decoder);
        const std::vector<CMTime> times = frameTimes(*decoder, 8);
        ASSERT_EQ(times.size(), 8u);
        CMTime expected = decoder->info().startTime;
        for (const CMTime& t : times) {
            EXPECT_EQ(CMTimeCompare(t, expected), 0) << t.value << "/" << t.timescale;
            EXPECT_EQ(t.timescale, decoder->info().timescale);
            expected = CMTimeAdd(expected, decoder->info().frameDuration);
        }
    }
}

TEST(VideoDecoderFootageTest, DamagedBoxClipDecodesEveryFrameWithIncreasingTimes) {
    const auto path = footage("box.mp4");
    KV_SKIP_WITHOUT(path);
    kv::LogCapture log;
    auto decoder = openOrFail(path);
    ASSERT_TRUE(decoder);
    const std::vector<CMTime> times = frameTimes(*decoder);
    // 455 frames decode; the last one comes out with a time that goes back
    // and is dropped.
    EXPECT_EQ(times.size(), 454u);
    expectStrictlyIncreasing(times);
    EXPECT_EQ(times.back(), CMTimeMake(15184000, 1000000));
    EXPECT_EQ(log.count("Dropped the frame at 15151000/1000000 in " + path.string() +
                        ": its time does not follow 15184000/1000000"),
              1u);
    // The damaged slice of the first picture is reported by the decoder.
    EXPECT_GE(log.count("FFmpeg: [h264 @ "), 1u);
    EXPECT_GE(log.count("decode_slice_header error"), 1u);
}

TEST(VideoDecoderFootageTest, ARangeGivesOnlyTheFramesInsideIt) {
    const auto path = footage("cockatoo_yuv420.mp4");
    KV_SKIP_WITHOUT(path);
    auto decoder = openOrFail(path);
    ASSERT_TRUE(decoder);

    // [1 s, 1.5 s): frames 20 to 29 of a 20 fps clip, 512 ticks of 1/10240 s apart.
    ASSERT_TRUE(decoder->setTimeRange(CMTimeRangeMake(CMTimeMake(1, 1), CMTimeMake(1, 2))).ok());
    std::vector<CMTime> times = frameTimes(*decoder);
    ASSERT_EQ(times.size(), 10u);
    for (size_t i = 0; i < times.size(); ++i) EXPECT_EQ(times[i], CMTimeMake(10240 + 512 * int64_t(i), 10240));
    EXPECT_TRUE(decoder->readFrame().value() == std::nullopt) << "the range stays finished";

    // A range starting between frames begins at the next frame; going back works too.
    ASSERT_TRUE(decoder->setTimeRange(CMTimeRangeMake(CMTimeMake(51, 100), CMTimeMake(10, 100))).ok());
    times = frameTimes(*decoder);
    EXPECT_THAT(times, ::testing::ElementsAre(CMTimeMake(5632, 10240), CMTimeMake(6144, 10240)));

    // A range reaching to infinity runs to the last frame.
    ASSERT_TRUE(decoder->setTimeRange(CMTimeRangeMake(CMTimeMake(137, 10), kCMTimePositiveInfinity)).ok());
    times = frameTimes(*decoder);
    ASSERT_EQ(times.size(), 6u);
    EXPECT_EQ(times.back(), CMTimeMake(142848, 10240));
}

TEST(VideoDecoderFootageTest, RefusesRangesThatAreNotRanges) {
    const auto path = footage("cup.mp4");
    KV_SKIP_WITHOUT(path);
    auto decoder = openOrFail(path);
    ASSERT_TRUE(decoder);
    EXPECT_FALSE(decoder->setTimeRange(CMTimeRangeMake(kCMTimeInvalid, CMTimeMake(1, 1))).ok());
    EXPECT_FALSE(decoder->setTimeRange(CMTimeRangeMake(kCMTimePositiveInfinity, CMTimeMake(1, 1))).ok());
    EXPECT_FALSE(decoder->setTimeRange(CMTimeRangeMake(CMTimeMake(1, 1), CMTimeMake(-1, 1))).ok());
    // An empty range gives no frames.
    ASSERT_TRUE(decoder->setTimeRange(CMTimeRangeMake(CMTimeMake(1, 1), kCMTimeZero)).ok());
    EXPECT_TRUE(frameTimes(*decoder).empty());
}

void expectSameAsFfmpeg(const VideoFrame& frame, const std::vector<float>& planes, size_t pixels) {
    const float* g = planes.data();
    const float* b = g + pixels;
    const float* r = b + pixels;
    float largest = 0;
    for (size_t i = 0; i < pixels; ++i) {
        largest = std::max({largest, std::abs(frame.rgba[4 * i] - r[i]), std::abs(frame.rgba[4 * i + 1] - g[i]),
                            std::abs(frame.rgba[4 * i + 2] - b[i])});
        ASSERT_EQ(frame.rgba[4 * i + 3], 1.0f);
    }
    EXPECT_LE(largest, 1e-5f);
}

TEST(VideoDecoderFootageTest, PixelsMatchFfmpegsOwnConversion) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    for (const char* name : {"cup.mp4", "cockatoo_yuv420.mp4", "vtest.avi"}) {
        SCOPED_TRACE(name);
        if (!std::filesystem::exists(footage(name))) continue;
        auto decoder = openOrFail(footage(name));
        ASSERT_TRUE(decoder);
        const int w = decoder->info().width, h = decoder->info().height;
        auto frame = decoder->readFrame();
        ASSERT_TRUE(frame.ok() && *frame);
        const auto expected = kv::testing::ffmpegFrame("-i '" + footage(name).string() + "'", w, h);
        ASSERT_TRUE(expected);
        expectSameAsFfmpeg(**frame, *expected, size_t(w) * h);
        for (float v : (*frame)->rgba) ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << v;
    }
}

// The picture is converted in bands on whichever threads are free: however
// many take part, every value is the same.
TEST(VideoDecoderFootageTest, PixelsDoNotDependOnHowManyThreadsConvert) {
    if (!std::filesystem::exists(footage("cockatoo_yuv420.mp4"))) GTEST_SKIP() << "no footage";
    std::vector<std::vector<float>> pictures;
    for (const size_t threads : {size_t(1), size_t(3), kv::dispatch::maximumConcurrency()}) {
        const kv::dispatch::ConcurrencyLimit limit(threads);
        auto decoder = openOrFail(footage("cockatoo_yuv420.mp4"));
        ASSERT_TRUE(decoder);
        auto frame = decoder->readFrame();
        ASSERT_TRUE(frame.ok() && *frame);
        pictures.push_back(std::move((*frame)->rgba));
    }
    for (size_t i = 1; i < pictures.size(); ++i) {
        ASSERT_EQ(pictures[i].size(), pictures[0].size());
        EXPECT_EQ(std::memcmp(pictures[i].data(), pictures[0].data(), pictures[0].size() * sizeof(float)), 0) << i;
    }
}

// The colour matrix and range come from each clip: BT.709 limited range,
// the same pixels untagged (BT.601 by default), and full-range JPEG.
TEST(VideoDecoderColourTest, TaggedMatrixAndRangeConvertAsFfmpegDoes) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const kv::testing::ScratchDirectory scratch;
    const std::string source = "-f lavfi -i testsrc=size=96x64:rate=10:duration=0.2 -pix_fmt yuv420p -c:v ffv1 ";
    ASSERT_TRUE(kv::testing::runFfmpeg(source + "-colorspace bt709 -color_range tv '" +
                                       scratch.file("bt709.mkv").string() + "'"));
    ASSERT_TRUE(kv::testing::runFfmpeg(source + "'" + scratch.file("untagged.mkv").string() + "'"));
    ASSERT_TRUE(kv::testing::runFfmpeg("-f lavfi -i testsrc=size=96x64:rate=10:duration=0.2 -c:v mjpeg '" +
                                       scratch.file("full.avi").string() + "'"));
    std::vector<VideoFrame> frames;
    for (const char* name : {"bt709.mkv", "untagged.mkv", "full.avi"}) {
        SCOPED_TRACE(name);
        auto decoder = openOrFail(scratch.file(name));
        ASSERT_TRUE(decoder);
        auto frame = decoder->readFrame();
        ASSERT_TRUE(frame.ok() && *frame);
        const auto expected = kv::testing::ffmpegFrame("-i '" + scratch.file(name).string() + "'", 96, 64);
        ASSERT_TRUE(expected);
        expectSameAsFfmpeg(**frame, *expected, 96u * 64u);
        frames.push_back(std::move(**frame));
    }
    EXPECT_NE(frames[0].rgba, frames[1].rgba) << "the BT.709 tag was ignored";
}

TEST(VideoDecoderFootageTest, ASeekedFrameMatchesFfmpegsFrameAtThatTime) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const auto path = footage("balle-jbart.mp4");
    KV_SKIP_WITHOUT(path);
    auto decoder = openOrFail(path);
    ASSERT_TRUE(decoder);
    // Frame 100, far from the keyframes at 0 s and 4.88 s.
    ASSERT_TRUE(decoder->setTimeRange(CMTimeRangeMake(CMTimeMake(4, 1), kCMTimePositiveInfinity)).ok());
    auto frame = decoder->readFrame();
    ASSERT_TRUE(frame.ok() && *frame);
    EXPECT_EQ((*frame)->time, CMTimeMake(51200, 12800));
    const auto expected = kv::testing::ffmpegFrame("-ss 4 -i '" + path.string() + "'", 720, 576);
    ASSERT_TRUE(expected);
    expectSameAsFfmpeg(**frame, *expected, 720u * 576u);
}

TEST(VideoDecoderFootageTest, FillsPaddedRowsAndLeavesThePaddingAlone) {
    const auto path = footage("car-detection.mp4");
    KV_SKIP_WITHOUT(path);
    auto packed = openOrFail(path);
    auto padded = openOrFail(path);
    ASSERT_TRUE(packed && padded);
    const kv::VideoStreamInfo& info = padded->info();
    const size_t rowFloats = info.packedBytesPerRow() / sizeof(float) + 8;
    std::vector<float> buffer(rowFloats * info.height, -7.0f);

    auto expected = packed->readFrame();
    auto time = padded->readFrame(buffer.data(), rowFloats * sizeof(float));
    ASSERT_TRUE(expected.ok() && *expected && time.ok() && *time);
    EXPECT_EQ(**time, (*expected)->time);
    const size_t packedFloats = size_t(info.width) * 4;
    for (int y = 0; y < info.height; ++y) {
        const float* row = buffer.data() + y * rowFloats;
        ASSERT_EQ(std::memcmp(row, (*expected)->rgba.data() + y * packedFloats, packedFloats * sizeof(float)), 0);
        for (size_t x = packedFloats; x < rowFloats; ++x) ASSERT_EQ(row[x], -7.0f);
    }
    EXPECT_FALSE(padded->readFrame(buffer.data(), info.packedBytesPerRow() - 16).ok());
    EXPECT_FALSE(padded->readFrame(buffer.data(), info.packedBytesPerRow() + 2).ok());
    EXPECT_FALSE(padded->readFrame(nullptr, info.packedBytesPerRow()).ok());
}

// A small Motion-JPEG clip, one frame a tenth of a second.
std::filesystem::path makeJpegClip(const kv::testing::ScratchDirectory& scratch, int frames = 5) {
    const auto path = scratch.file("clip.avi");
    EXPECT_TRUE(kv::testing::runFfmpeg("-f lavfi -i testsrc=size=32x32:rate=10 -frames:v " + std::to_string(frames) +
                                       " -c:v mjpeg '" + path.string() + "'"));
    return path;
}

// Overwrites the pictures of a Motion-JPEG file whose numbers (from 0) `damage`
// picks, from start marker to end marker, leaving the container intact.
template <class Pick>
void damagePictures(const std::filesystem::path& path, Pick damage) {
    std::string bytes = kv::testing::readBytes(path);
    size_t start = bytes.find("\xFF\xD8\xFF");
    for (int picture = 0; start != std::string::npos; ++picture) {
        const size_t end = bytes.find("\xFF\xD9", start);
        ASSERT_NE(end, std::string::npos);
        if (damage(picture)) std::fill(bytes.begin() + start, bytes.begin() + end + 2, 'X');
        start = bytes.find("\xFF\xD8\xFF", end);
    }
    kv::testing::writeBytes(path, bytes);
}

TEST(VideoDecoderDamageTest, AFrameThatCannotBeDecodedIsSkippedWithALogLine) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const kv::testing::ScratchDirectory scratch;
    const auto path = makeJpegClip(scratch);
    damagePictures(path, [](int picture) { return picture == 2; });

    kv::LogCapture log;
    auto decoder = openOrFail(path);
    ASSERT_TRUE(decoder);
    EXPECT_THAT(frameTimes(*decoder),
                ::testing::ElementsAre(CMTimeMake(0, 10), CMTimeMake(1, 10), CMTimeMake(3, 10), CMTimeMake(4, 10)));
    EXPECT_EQ(log.count("Skipped a damaged frame in " + path.string() + ": Invalid data found when processing input"),
              1u);
}

TEST(VideoDecoderDamageTest, GivesUpOnAStreamOfNothingButDamage) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const kv::testing::ScratchDirectory scratch;
    const auto path = makeJpegClip(scratch, 120);
    damagePictures(path, [](int picture) { return picture >= 1; });

    kv::LogCapture log;
    auto decoder = openOrFail(path);
    ASSERT_TRUE(decoder);
    ASSERT_TRUE(decoder->readFrame().ok());
    auto next = decoder->readFrame();
    ASSERT_FALSE(next.ok());
    EXPECT_EQ(next.error().message,
              "Gave up decoding " + path.string() +
                  ": 100 damaged frames in a row, the last: Invalid data found when processing input");
    EXPECT_EQ(log.count("Skipped a damaged frame"), 100u);
}

TEST(VideoDecoderErrorTest, NamesAMissingFile) {
    auto decoder = VideoDecoder::open("/nonexistent/clip.mp4");
    ASSERT_FALSE(decoder.ok());
    EXPECT_EQ(decoder.error().message, "The video file /nonexistent/clip.mp4 does not exist.");
}

TEST(VideoDecoderErrorTest, RefusesATextFile) {
    const kv::testing::ScratchDirectory scratch;
    const auto path = scratch.file("notes.txt");
    kv::testing::writeBytes(path, "These are notes about a clip, not a clip.\n");
    auto decoder = VideoDecoder::open(path);
    ASSERT_FALSE(decoder.ok());
    EXPECT_THAT(decoder.error().message, HasSubstr(path.string() + " is not a video file that can be read"));
}

// A tenth of a second of silence as 16-bit mono PCM in a WAV file.
std::string silentWav() {
    auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto u16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    const uint32_t samples = 800, dataBytes = samples * 2;
    return "RIFF" + u32(36 + dataBytes) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(8000) + u32(16000) + u16(2) +
           u16(16) + "data" + u32(dataBytes) + std::string(dataBytes, '\0');
}

TEST(VideoDecoderErrorTest, RefusesAFileWithoutVideo) {
    const kv::testing::ScratchDirectory scratch;
    const auto path = scratch.file("silence.wav");
    kv::testing::writeBytes(path, silentWav());
    auto decoder = VideoDecoder::open(path);
    ASSERT_FALSE(decoder.ok());
    EXPECT_EQ(decoder.error().message, path.string() + " has no video stream.");
}

TEST(VideoDecoderErrorTest, RefusesAVideoCodecWithoutDecoder) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const kv::testing::ScratchDirectory scratch;
    const auto path = makeJpegClip(scratch);
    // The same clip under a codec tag no decoder knows.
    std::string bytes = kv::testing::readBytes(path);
    for (size_t at = bytes.find("MJPG"); at != std::string::npos; at = bytes.find("MJPG", at)) {
        bytes.replace(at, 4, "QQQQ");
    }
    kv::testing::writeBytes(path, bytes);
    auto decoder = VideoDecoder::open(path);
    ASSERT_FALSE(decoder.ok());
    EXPECT_EQ(decoder.error().message, path.string() + ": its video codec (tag QQQQ) cannot be decoded.");
}

}  // namespace
