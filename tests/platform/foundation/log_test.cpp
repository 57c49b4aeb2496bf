#include "platform/foundation/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(LogTest, LinesAreWrittenVerbatimToTheInstalledSink) {
    kv::LogCapture capture;
    NSLog("100% done %s %@ {}");
    NSLog("second");
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[0], "100% done %s %@ {}");
    EXPECT_EQ(capture.count("second"), 1u);
}

TEST(LogTest, CapturesNestAndRestore) {
    kv::LogCapture outer;
    {
        kv::LogCapture inner;
        NSLog("inner line");
        EXPECT_EQ(inner.lines().size(), 1u);
    }
    NSLog("outer line");
    ASSERT_EQ(outer.lines().size(), 1u);
    EXPECT_EQ(outer.lines()[0], "outer line");
}

TEST(LogTest, LineWrittenToAFileKeepsEveryByte) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::string line("before\0after %s", 16);
    kv::writeLogLine(file, line);
    std::rewind(file);
    std::string read(64, 'x');
    read.resize(std::fread(read.data(), 1, read.size(), file));
    std::fclose(file);
    EXPECT_EQ(read, line + "\n");
}

}  // namespace

namespace {

TEST(LogConcurrencyTest, LinesFromManyThreadsArriveWhole) {
    kv::LogCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) NSLog("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(capture.lines().size(), 800u);
    EXPECT_EQ(capture.count("thread 3 line 199"), 1u);
}

}  // namespace
