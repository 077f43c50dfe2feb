#pragma once
// Whether a sender that its line holds back should compress (LinkEndpoint,
// stored units). Compressing pays where the line is the limit: each unit then
// carries more of the stream. Where the receiver's processor is the limit, as
// on a fast socket, it only adds work at both ends and the stream goes slower.
// The sender cannot tell the two apart by looking, so it measures: over spans
// in which it always had more to send than it sent, the plain bytes it got
// through each way, keeping the faster and trying the other now and then, so
// that a line or a load that changes is noticed.

#include <cstdint>

namespace Link {

class CPackingChoice {
public:
    // A span lasts at least this long and carries at least `minSpanBytes`
    // plain bytes (a few units: the stream goes out a unit at a time).
    static constexpr std::int64_t kSpanMs = 50;
    // The first span of each way is shorter: until both are known, a fast
    // line spends it on what may be the slower way.
    static constexpr std::int64_t kFirstSpanMs = 15;
    // One span in this many tries the way not chosen. Each try that finds
    // the chosen way still faster doubles the spans to the next, up to
    // kMostTryEvery; a try that turns the choice starts again from
    // kTryEvery. (A try costs a span of the slower way: on a steady line the
    // looks grow rare, and a line that changes is still seen.)
    static constexpr int kTryEvery = 8;
    static constexpr int kMostTryEvery = 64;

    explicit CPackingChoice(std::uint64_t minSpanBytes) : m_minSpanBytes(minSpanBytes) {}

    // Called as the sender frames: `plainBytesTaken` is its running count of
    // plain stream bytes the peer has acknowledged; `behind` says whether it
    // had more to send than the line took (only such stretches measure the
    // line). A stretch that is not behind ends the span without counting it.
    void Observe(std::int64_t now, std::uint64_t plainBytesTaken, bool behind);
    // Whether to compress while the line holds the sender back.
    bool CompressWhenBehind() const { return m_compress; }
    // Plain bytes a millisecond measured each way; negative while unknown.
    double Rate(bool compress) const { return m_rate[compress ? 1 : 0]; }

private:
    void EndSpan(double rate);

    std::uint64_t m_minSpanBytes;
    bool m_compress = true;  // as a sender behind its line always did
    std::int64_t m_spanStart = -1;
    std::uint64_t m_spanBytesAtStart = 0;
    double m_rate[2] = {-1, -1};
    int m_spansSinceTry = 0;
    int m_tryEvery = kTryEvery;
    bool m_trying = false;  // the span under way tries the way not chosen
};

}  // namespace Link
