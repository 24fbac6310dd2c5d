// The buffer-size walk ends whatever a driver reports.

#include "engine/buffer_sizes.h"

#include <gtest/gtest.h>

namespace {

TEST(BufferSizeWalk, EndsWhateverTheDriverReports) {
    struct Case {
        std::int32_t min, max, granularity;
        int entries;
    };
    for (const Case c : {Case{0, 2048, -1, 1}, Case{-8, 2048, -1, 1}, Case{64, 4096, -7, 1},
                         Case{1 << 29, 0x7FFFFFFF, -1, 2}, Case{0x7FFFFF00, 0x7FFFFFFF, 300, 1},
                         Case{1, 0x7FFFFFFF, 1, kMaxBufferSizeEntries}}) {
        int entries = 0;
        for (BufferSizeWalk walk(c.min, c.max, c.granularity); !walk.done(); walk.next()) {
            ++entries;
        }
        EXPECT_EQ(entries, c.entries) << c.min << " to " << c.max << " by " << c.granularity;
    }
}

} // namespace
