#pragma once
// The terminal's answers between the session's I/O thread and its caller, in
// one buffer: each answer's bytes as the line carried them (the session's
// code page, or generalised UTF-8 for a text the page cannot hold). A journal
// of a million lines thus costs no allocation a line, and a caller that keeps
// the code page anyway (a journal file) takes the bytes without a conversion
// to UTF-16 and back.
//
// Two batches take turns: the I/O thread fills one while the caller reads
// the other, and they are swapped when the caller has read its own, so the
// buffers keep their capacity from one swap to the next.

#include <QByteArrayView>

#include <cstddef>
#include <string>
#include <vector>

namespace Link {

class CAnswerBatch {
public:
    struct Answer {
        QByteArrayView bytes;
        bool codePage = false;  // in the session's code page; generalised UTF-8 otherwise
    };

    void Add(QByteArrayView bytes, bool codePage) {
        m_entries.push_back({static_cast<qsizetype>(m_bytes.size()), bytes.size(), codePage});
        m_bytes.append(bytes.data(), static_cast<std::size_t>(bytes.size()));
    }
    // Answers added and not yet taken.
    bool Empty() const { return m_next >= m_entries.size(); }
    // The next answer; valid until the batch is cleared or swapped.
    Answer Take() {
        const Entry& e = m_entries[m_next++];
        return {QByteArrayView(m_bytes.data() + e.at, e.size), e.codePage};
    }
    // Everything gone, the capacity kept.
    void Clear() {
        m_bytes.clear();
        m_entries.clear();
        m_next = 0;
    }
    void Swap(CAnswerBatch& other) noexcept {
        m_bytes.swap(other.m_bytes);
        m_entries.swap(other.m_entries);
        std::swap(m_next, other.m_next);
    }
    qsizetype Bytes() const { return static_cast<qsizetype>(m_bytes.size()); }

private:
    struct Entry {
        qsizetype at;
        qsizetype size;
        bool codePage;
    };
    std::string m_bytes;
    std::vector<Entry> m_entries;
    std::size_t m_next = 0;
};

}  // namespace Link
