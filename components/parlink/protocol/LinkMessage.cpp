#include "components/parlink/protocol/LinkMessage.h"

#include "components/parlink/protocol/LinkLeb128.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace Link {

bool IsTextMessage(MessageType type) {
    return type == MessageType::Command || type == MessageType::Data || type == MessageType::Answer;
}

QString MessageText(const Message& message) {
    if (message.inCodePage) return CodePage::FromWindows1251(message.body);
    if (message.utf8InBody) return DecodeText(message.body.constData(), message.body.size());
    return message.text;
}

bool IsIdMessage(MessageType type) {
    return type == MessageType::Ping || type == MessageType::Poll || type == MessageType::Pong ||
           type == MessageType::PollReply;
}

void AppendText(QByteArray& out, QStringView text) {
    const qsizetype n = text.size();
    const char16_t* u = reinterpret_cast<const char16_t*>(text.utf16());
    qsizetype pos = out.size();
    out.resize(pos + n * 3);
    auto* p = reinterpret_cast<unsigned char*>(out.data());
    for (qsizetype i = 0; i < n; ++i) {
        std::uint32_t c = u[i];
        if (c < 0x80) {
            p[pos++] = static_cast<unsigned char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
            ++i;
            p[pos++] = static_cast<unsigned char>(0xF0 | (c >> 18));
            p[pos++] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            p[pos++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            p[pos++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (c < 0x800) {
            p[pos++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            p[pos++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            // Lone surrogates are written like any other code unit.
            p[pos++] = static_cast<unsigned char>(0xE0 | (c >> 12));
            p[pos++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            p[pos++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
    }
    out.resize(pos);
}

QString DecodeText(const char* data, qsizetype size) {
    QString text(size, Qt::Uninitialized);
    auto* out = reinterpret_cast<char16_t*>(text.data());
    qsizetype o = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    qsizetype i = 0;
    auto cont = [&](qsizetype k) { return i + k < size && (p[i + k] & 0xC0) == 0x80; };
    while (i < size) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out[o++] = b;
            ++i;
        } else if ((b & 0xE0) == 0xC0 && cont(1)) {
            out[o++] = static_cast<char16_t>(((b & 0x1F) << 6) | (p[i + 1] & 0x3F));
            i += 2;
        } else if ((b & 0xF0) == 0xE0 && cont(1) && cont(2)) {
            out[o++] = static_cast<char16_t>(((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) |
                                             (p[i + 2] & 0x3F));
            i += 3;
        } else if ((b & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
            const std::uint32_t c = ((b & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12) |
                                    ((p[i + 2] & 0x3Fu) << 6) | (p[i + 3] & 0x3Fu);
            const std::uint32_t v = c - 0x10000;
            out[o++] = static_cast<char16_t>(0xD800 + ((v >> 10) & 0x3FF));
            out[o++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
            i += 4;
        } else {
            // Not produced by AppendText; keep the length honest.
            out[o++] = 0xFFFD;
            ++i;
        }
    }
    text.truncate(o);
    return text;
}

bool AppendIfWindows1251(QStringView text, QByteArray& out) { return CodePage::AppendWindows1251Exactly(text, out); }

void AppendTextMessage(QByteArray& stream, MessageType type, QStringView text, TextCoding coding) {
    if (text.isEmpty()) {
        stream.append(static_cast<char>(type));
        stream.append('\0');
        return;
    }
    // Encode first, then put the length in front: the body's size is only
    // known after encoding.
    if (coding == TextCoding::Windows1251) {
        // One byte a character, so the length is known before the text is
        // written straight into the stream; a text the page cannot hold is
        // taken back and goes in UTF-8.
        const qsizetype start = stream.size();
        stream.append(static_cast<char>(static_cast<std::uint8_t>(type) | kCodePageTypeFlag));
        AppendLeb128(stream, static_cast<std::uint32_t>(text.size()));
        if (CodePage::AppendWindows1251Exactly(text, stream)) return;
        stream.truncate(start);
    }
    thread_local QByteArray body;
    body.clear();
    AppendText(body, text);
    stream.append(static_cast<char>(type));
    AppendLeb128(stream, static_cast<std::uint32_t>(body.size()));
    stream.append(body);
}

void AppendWindows1251Message(QByteArray& stream, MessageType type, const char* bytes, qsizetype size) {
    // One resize and one copy: a file's every record comes this way.
    char head[6];
    head[0] = static_cast<char>(static_cast<std::uint8_t>(type) | kCodePageTypeFlag);
    const int headSize = 1 + PutLeb128(head + 1, static_cast<std::uint32_t>(size));
    const qsizetype at = stream.size();
    stream.resize(at + headSize + size);
    char* p = stream.data() + at;
    std::memcpy(p, head, static_cast<std::size_t>(headSize));
    if (size > 0) std::memcpy(p + headSize, bytes, static_cast<std::size_t>(size));
}

qsizetype AppendWindows1251Messages(QByteArray& stream, MessageType type, const QByteArrayView* texts, qsizetype count,
                                    qsizetype budget) {
    const qsizetype at = stream.size();
    qsizetype n = 0;
    qsizetype bytes = 0;
    for (; n < count && at + bytes < budget; ++n)
        bytes += 1 + Leb128Size(static_cast<std::uint32_t>(texts[n].size())) + texts[n].size();
    if (n == 0) return 0;
    stream.resize(at + bytes);
    char* p = stream.data() + at;
    const char typeByte = static_cast<char>(static_cast<std::uint8_t>(type) | kCodePageTypeFlag);
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype size = texts[i].size();
        *p++ = typeByte;
        p += PutLeb128(p, static_cast<std::uint32_t>(size));
        if (size > 0) std::memcpy(p, texts[i].data(), static_cast<std::size_t>(size));
        p += size;
    }
    return n;
}

void AppendIdMessage(QByteArray& stream, MessageType type, std::uint32_t id) {
    stream.append(static_cast<char>(type));
    stream.append('\x04');
    for (int i = 0; i < 4; ++i) stream.append(static_cast<char>((id >> (8 * i)) & 0xFF));
}

void AppendEmptyMessage(QByteArray& stream, MessageType type) {
    stream.append(static_cast<char>(type));
    stream.append('\0');
}

void AppendBlockMessage(QByteArray& stream, MessageType type, const QByteArray& body) {
    stream.append(static_cast<char>(type));
    AppendLeb128(stream, static_cast<std::uint32_t>(body.size()));
    stream.append(body);
}

void CMessageParser::Feed(const QByteArray& bytes) {
    m_retired.clear();
    if (m_pendingPos >= m_pending.size()) {
        // All moved onto a message that is still cut.
        m_pending.clear();
        m_pendingPos = 0;
    }
    if (!m_pending.isEmpty()) {
        // Fed again before Next took everything: behind what waits.
        m_pending.append(bytes);
        return;
    }
    if (m_pos >= m_buffer.size()) {
        // Nothing left over: the bytes are taken as they are (shared, not
        // copied; the stream's receivers hand over a buffer of their own).
        m_buffer = bytes;
        m_pos = 0;
        return;
    }
    // A message cut at the end of the last bytes: it alone is copied, as
    // Next completes it from these.
    if (m_pos > 0) {
        m_buffer = m_buffer.sliced(m_pos);
        m_pos = 0;
    }
    m_pending = bytes;
    m_pendingPos = 0;
}

bool CMessageParser::TopUp(qsizetype more) {
    const qsizetype n = std::min(more, m_pending.size() - m_pendingPos);
    if (n <= 0) return false;
    m_buffer.append(m_pending.constData() + m_pendingPos, n);
    m_pendingPos += n;
    return true;
}

void CMessageParser::Clear() {
    m_buffer.clear();
    m_pos = 0;
    m_pending.clear();
    m_pendingPos = 0;
    m_retired.clear();
    m_failed = false;
}

bool CMessageParser::Next(Message* message) {
    while (!m_failed) {
        if (m_pos >= m_buffer.size() && !m_pending.isEmpty()) {
            // The cut message is done: on with the later bytes as they are.
            m_retired = std::move(m_buffer);
            m_buffer = std::exchange(m_pending, QByteArray());
            m_pos = std::exchange(m_pendingPos, 0);
        }
        const qsizetype avail = m_buffer.size() - m_pos;
        if (avail < 2) {
            if (TopUp(2 - avail)) continue;
            return false;
        }
        const auto* p = reinterpret_cast<const unsigned char*>(m_buffer.constData() + m_pos);
        std::uint64_t length = 0;
        qsizetype i = 1;
        int shift = 0;
        bool cut = false;  // the length goes on beyond these bytes
        for (;;) {
            if (i >= avail) {
                cut = true;
                break;
            }
            const unsigned char b = p[i++];
            length |= static_cast<std::uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) break;
            shift += 7;
            if (shift > 28) {
                m_failed = true;
                return false;
            }
        }
        if (cut) {
            if (TopUp(1)) continue;
            return false;
        }
        if (length > 0x7FFFFFFF) {
            m_failed = true;
            return false;
        }
        if (static_cast<std::uint64_t>(avail - i) < length) {
            if (TopUp(static_cast<qsizetype>(length) - (avail - i))) continue;
            return false;
        }
        const char* body = reinterpret_cast<const char*>(p + i);
        const auto size = static_cast<qsizetype>(length);
        m_pos += i + size;
        if ((p[0] & kCodePageTypeFlag) != 0) {
            const auto type = static_cast<MessageType>(p[0] & ~kCodePageTypeFlag);
            if (m_coding == TextCoding::Windows1251 && IsTextMessage(type)) {
                message->type = type;
                message->id = 0;
                message->inCodePage = m_keepCodePage || m_textBytes;
                message->utf8InBody = false;
                if (m_textBytes) {
                    message->text.clear();
                    message->body = QByteArray::fromRawData(body, size);
                } else if (m_keepCodePage) {
                    message->text.clear();
                    message->body = QByteArray(body, size);
                } else {
                    message->text = CodePage::FromWindows1251(body, size);
                    message->body.clear();
                }
                return true;
            }
            continue;  // not agreed for this session: an unknown kind
        }
        const auto type = static_cast<MessageType>(p[0]);
        message->inCodePage = false;
        message->utf8InBody = false;
        if (IsTextMessage(type)) {
            message->type = type;
            message->id = 0;
            if (m_textBytes) {
                message->utf8InBody = true;
                message->text.clear();
                message->body = QByteArray::fromRawData(body, size);
            } else {
                message->text = DecodeText(body, size);
            }
            return true;
        }
        if (IsIdMessage(type)) {
            if (size != 4) {
                m_failed = true;
                return false;
            }
            message->type = type;
            message->text.clear();
            message->id = 0;
            for (int k = 0; k < 4; ++k)
                message->id |= static_cast<std::uint32_t>(static_cast<unsigned char>(body[k])) << (8 * k);
            return true;
        }
        if (m_blocks && (type == MessageType::RecordBlock || type == MessageType::AnswerBlock)) {
            message->type = type;
            message->text.clear();
            message->id = 0;
            message->body = QByteArray(body, size);
            return true;
        }
        if (type == MessageType::EndData || type == MessageType::Bye) {
            message->type = type;
            message->text.clear();
            message->id = 0;
            return true;
        }
        // Unknown kind: skipped.
    }
    return false;
}

}  // namespace Link
