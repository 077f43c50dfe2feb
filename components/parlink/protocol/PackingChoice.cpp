#include "components/parlink/protocol/PackingChoice.h"

#include <algorithm>

namespace Link {

void CPackingChoice::Observe(std::int64_t now, std::uint64_t plainBytesTaken, bool behind) {
    if (!behind) {
        m_spanStart = -1;
        return;
    }
    if (m_spanStart < 0) {
        m_spanStart = now;
        m_spanBytesAtStart = plainBytesTaken;
        return;
    }
    const std::int64_t elapsed = now - m_spanStart;
    const std::uint64_t bytes = plainBytesTaken - m_spanBytesAtStart;
    const std::int64_t least = m_rate[m_compress ? 1 : 0] < 0 ? kFirstSpanMs : kSpanMs;
    if (elapsed < least || bytes < m_minSpanBytes) return;
    EndSpan(static_cast<double>(bytes) / static_cast<double>(elapsed));
    m_spanStart = now;
    m_spanBytesAtStart = plainBytesTaken;
}

void CPackingChoice::EndSpan(double rate) {
    double& known = m_rate[m_compress ? 1 : 0];
    // Half the weight on the newest span: a line that changes is followed
    // within a few spans, one odd span does not turn the choice.
    known = known < 0 ? rate : (known + rate) / 2;
    if (m_rate[m_compress ? 0 : 1] < 0) {
        m_compress = !m_compress;  // the other way is not measured yet
        return;
    }
    const bool faster = m_rate[1] >= m_rate[0];
    if (m_trying) {
        m_trying = false;
        m_tryEvery = faster == m_compress ? kTryEvery : std::min(2 * m_tryEvery, kMostTryEvery);
    }
    if (++m_spansSinceTry >= m_tryEvery) {
        m_spansSinceTry = 0;
        m_trying = true;
        m_compress = !faster;
    } else {
        m_compress = faster;
    }
}

}  // namespace Link
