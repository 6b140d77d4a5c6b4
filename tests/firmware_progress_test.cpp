// The firmware progress line: elapsed time, time to complete, percentage and
// bar, cut to 21 characters of text before the bar, in bounded buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "firmware/firmware.h"

namespace {

std::string progress(int64_t elapsed, uint32_t done, uint32_t total, size_t size = 128) {
    char out[128];
    size_t length = firmware_progress_text(out, size, elapsed, done, total);
    EXPECT_EQ(length, std::string(out).size());
    return out;
}

std::string bar(size_t n) { return std::string(n, '='); }

TEST(FirmwareProgress, FormatsTimesPercentageAndBar) {
    struct {
        int64_t elapsed;
        uint32_t done, total;
        std::string line;
    } cases[] = {
        // 30 s for a quarter: 120 s in all, 90 s to go, 14 of 59 bar characters.
        {30, 50, 200, "\r 30s TTC  90s 25.0% " + bar(14)},
        {0, 1, 100, "\r  0s TTC   0s  1.0% "},  // the first line: nothing to estimate from
        {7, 1, 3, "\r  7s TTC  14s 33.3% " + bar(19)},
        {59, 199, 200, "\r 59s TTC   0s 99.5% " + bar(58)},
        // At 100.0 % the text is one column wider: the bar replaces its blank.
        {60, 200, 200, "\r 60s TTC   0s 100.0%" + bar(59)},
        // Wider numbers lose the tail of the text to the bar.
        {1234, 10, 20, "\r1234s TTC 1234s 50.0" + bar(29)},
        {5, 0, 0, "\r  5s TTC   0s  0.0% "},
        {5, 0, 10, "\r  5s TTC   0s  0.0% "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress(c.elapsed, c.done, c.total), c.line)
            << c.elapsed << " " << c.done << "/" << c.total;
}

// Values that cannot occur in a sane run still give a bounded line.
TEST(FirmwareProgress, StaysBoundedOnOddInput) {
    std::string over = progress(10, 400, 200);  // more done than the total
    EXPECT_EQ(over, "\r 10s TTC   0s 200.0%" + bar(59));
    EXPECT_EQ(progress(-5, 1, 2), "\r -5s TTC   0s 50.0% " + bar(29));  // the clock went back
    std::string far = progress(INT64_MAX / 2, 1, UINT32_MAX);
    EXPECT_EQ(far.size(), 21u);
    EXPECT_EQ(far.substr(0, 5), "\r4611");
    EXPECT_EQ(progress(30, 50, 200, 8), "\r 30s T");  // a small buffer is cut, not overrun
    char out[1] = {'x'};
    EXPECT_EQ(firmware_progress_text(out, 1, 30, 50, 200), 0u);
    EXPECT_EQ(out[0], '\0');
}

}  // namespace
