#pragma once
// The buffer sizes a driver offers, walked from its minimum to its maximum by its granularity
// (-1: powers of two, 0: the minimum alone, n: steps of n). The list and the handler that turns
// a list position back into a size both walk this one sequence. Whatever the driver reports,
// the walk ends: a doubling that cannot grow, a granularity below -1, a step past the 32-bit
// range or more than kMaxBufferSizeEntries entries end it. Drivers of ours accept exactly the sizes
// this walk visits, so host and driver can never disagree on what is offered.

#include <cstdint>
#include <limits>

inline constexpr int kMaxBufferSizeEntries = 16384;

class BufferSizeWalk {
public:
    BufferSizeWalk(std::int32_t minSize, std::int32_t maxSize, std::int32_t granularity)
        : m_size(minSize)
        , m_max(maxSize)
        , m_granularity(granularity)
        , m_more(minSize <= maxSize) {}

    bool done() const { return !m_more; }
    std::int32_t size() const { return m_size; }

    void next() {
        constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();
        ++m_entries;
        if (m_entries >= kMaxBufferSizeEntries) {
            m_more = false;
        } else if (m_granularity == -1) {
            m_more = m_size >= 1 && m_size <= kLargest / 2;
            m_size = m_more ? m_size * 2 : m_size;
        } else if (m_granularity > 0) {
            m_more = m_size <= kLargest - m_granularity;
            m_size = m_more ? m_size + m_granularity : m_size;
        } else {
            m_more = false;
        }
        m_more = m_more && m_size <= m_max;
    }

private:
    std::int32_t m_size;
    std::int32_t m_max;
    std::int32_t m_granularity;
    bool m_more;
    int m_entries = 0;
};

// Whether the walk from `minSize` to `maxSize` by `granularity` visits `size`.
inline bool isWalkedBufferSize(std::int32_t size, std::int32_t minSize, std::int32_t maxSize,
                               std::int32_t granularity) {
    for (BufferSizeWalk walk(minSize, maxSize, granularity); !walk.done(); walk.next()) {
        if (walk.size() == size) {
            return true;
        }
        if (walk.size() > size) {
            return false;
        }
    }
    return false;
}
