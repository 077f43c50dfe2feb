#include "components/parlink/protocol/PackingChoice.h"

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
    if (elapsed < kSpanMs || bytes < m_minSpanBytes) return;
    EndSpan(static_cast<double>(bytes) / static_cast<double>(elapsed));
    m_spanStart = now;
    m_spanBytesAtStart = plainBytesTaken;
}

void CPackingChoice::EndSpan(double rate) {
    double& known = m_rate[m_compress ? 1 : 0];
    // Half the weight on the newest span: a line that changes is followed
    // within a few spans, one odd span does not turn the choice.
    known = known < 0 ? rate : (known + rate) / 2;
    ++m_spans;
    const double other = m_rate[m_compress ? 0 : 1];
    if (other < 0 || m_spans % kTryEvery == 0)
        m_compress = !m_compress;  // not measured yet, or due for another look
    else
        m_compress = m_rate[1] >= m_rate[0];
}

}  // namespace Link
