#include "tools/kxterminal/TerminalServer.h"

#include "components/parlink/protocol/LinkEndpoint.h"
#include "components/parlink/protocol/LinkMessage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Answers are produced ahead of the line by at most this much, and by at
// least a few compressed units: a unit is sealed once a whole one waits (or
// when nothing is in flight), so less than a unit ahead would send one unit
// a round trip.
constexpr qsizetype kAnswerAhead = 64 * 1024;
constexpr qsizetype kUnitsAhead = 4;
// Frames are produced only when the bytes waiting for the line are fewer.
constexpr qsizetype kWriteAhead = 4096;
// The most one read takes from the line.
constexpr qint64 kReadAtOnce = 256 * 1024;

}  // namespace

CTerminalServer::CTerminalServer(CTerminalLine& line, CTerminalState& state, int baud,
                                 const Link::LinkCapabilities& capabilities)
    : m_line(line), m_state(state), m_baud(baud), m_capabilities(capabilities) {}

int CTerminalServer::Run(int stopFd) {
    Link::EndpointConfig config;
    // Nobody may be listening between sessions: stop repeating after a while
    // and resume when the program is heard again.
    config.maxSilentTimeouts = 6;
    config.capabilities = m_capabilities;
    // On a socket the largest frames and the socket's window, as the program
    // uses there: half the per-frame work, and neither end waits for the other.
    if (m_line.IsSocket()) {
        config.maxPayload = Link::kMaxFramePayload;
        config.window = Link::kSocketWindow;
        config.unitPlain = Link::kMaxUnitPlain;
        config.lossless = true;
    }
    config.capabilities.maxVersion = static_cast<std::uint8_t>(m_capabilities.maxVersion < 2 ? 1 : Link::kProtocolVersion);
    const qsizetype answerAhead = std::max<qsizetype>(kAnswerAhead, kUnitsAhead * config.unitPlain);
    Link::CLinkEndpoint endpoint(Link::CLinkEndpoint::Role::Responder, config);
    Link::CMessageParser parser;
    CTerminalDevice device(m_state);
    CPacer readPacer(m_baud);
    CPacer writePacer(m_baud);
    QByteArray pending;  // bytes for the line, written up to pendingAt
    qsizetype pendingAt = 0;
    auto unwritten = [&] { return pending.size() - pendingAt; };
    QByteArray answers;
    bool inSession = false;

    auto endSession = [&] {
        if (inSession) device.EndSession();
        inSession = false;
        endpoint.CloseSession();
        parser.Clear();
        pending.clear();
        pendingAt = 0;
    };
    // A connection owns nothing of the one before it: a frame cut short, a
    // repeat timer or a half-read stream of the last connection would
    // otherwise garble the next program's sessions.
    auto endConnection = [&] {
        endSession();
        endpoint = Link::CLinkEndpoint(Link::CLinkEndpoint::Role::Responder, config);
    };

    for (;;) {
        std::int64_t now = NowMs();
        // Answers, then frames.
        if (inSession) {
            const qsizetype room = answerAhead - endpoint.UnframedBytes();
            if (room > 0) {
                bool urgent = false;
                answers.resize(0);
                device.SetLineDrained(unwritten() == 0 && endpoint.AllAcknowledged());
                device.Pump(now, answers, room, &urgent);
                if (!answers.isEmpty()) endpoint.QueueTaking(answers, urgent);
                // After its goodbye the program's session is over: another
                // program may begin one at once.
                if (device.TakeGoodbye()) endpoint.CloseSession();
            }
        }
        if (unwritten() < kWriteAhead) {
            // What was written goes at once, not a memmove after every write.
            pending.remove(0, pendingAt);
            pendingAt = 0;
            endpoint.Produce(now, pending);
        }

        const int fd = m_line.DataFd();
        if (fd < 0) {
            pending.clear();
            pendingAt = 0;
        }
        if (unwritten() == 0) writePacer.Idle(now);
        if (fd >= 0 && unwritten() > 0) {
            const qint64 allow = std::min<qint64>(writePacer.Allowance(now), unwritten());
            if (allow > 0) {
                const qint64 n = m_line.Write(pending.constData() + pendingAt, allow);
                if (n > 0) {
                    writePacer.Consume(n);
                    pendingAt += n;
                } else if (n < 0) {
                    m_line.Disconnect();
                    endConnection();
                }
            }
        }

        // What to wait for, and how long. While the line does not take what
        // is already written (a program that stopped reading), neither the
        // link nor the device can do anything but wait for it: the wait is
        // for the line, not a spin on work that cannot be done.
        const bool lineBackedUp = fd >= 0 && unwritten() >= kWriteAhead;
        std::int64_t wake = lineBackedUp ? device.NextTimer() : std::min(endpoint.NextDeadline(now), device.NextTimer());
        if (!lineBackedUp && inSession && device.Busy() && endpoint.UnframedBytes() < answerAhead) wake = now;
        const qint64 readAllow = readPacer.Allowance(now);
        bool wantRead = fd >= 0;
        if (wantRead && readAllow <= 0) {
            wantRead = false;
            wake = std::min(wake, readPacer.NextAllowanceMs(now));
        }
        bool wantWrite = fd >= 0 && unwritten() > 0;
        if (wantWrite && writePacer.Allowance(now) <= 0) {
            wantWrite = false;
            wake = std::min(wake, writePacer.NextAllowanceMs(now));
        }
        int timeout = 1000;
        if (wake <= now)
            timeout = 0;
        else if (wake - now < timeout)
            timeout = static_cast<int>(wake - now);

        pollfd fds[3];
        int count = 0;
        fds[count++] = {stopFd, POLLIN, 0};
        const int listenIndex = m_line.ListenFd() >= 0 ? count : -1;
        if (listenIndex >= 0) fds[count++] = {m_line.ListenFd(), POLLIN, 0};
        const int dataIndex = fd >= 0 ? count : -1;
        // Bytes the line already holds are read without waiting.
        const bool buffered = fd >= 0 && wantRead && m_line.HasBuffered();
        if (buffered) timeout = 0;
        // Reading is asked for above only while the pacer allows it: a
        // line's own wish to read must not wake a paced loop to spin.
        const short extra = fd >= 0 ? static_cast<short>(m_line.ExtraEvents() & ~POLLIN) : 0;
        if (dataIndex >= 0)
            fds[count++] = {fd, static_cast<short>((wantRead ? POLLIN : 0) | (wantWrite ? POLLOUT : 0) | extra), 0};
        const int ready = ::poll(fds, static_cast<nfds_t>(count), timeout);
        if (ready < 0 && errno != EINTR) return 1;
        if (ready > 0 && fds[0].revents) return 0;
        now = NowMs();

        if (listenIndex >= 0 && (fds[listenIndex].revents & POLLIN)) {
            if (m_line.Accept()) endConnection();
            continue;
        }
        if (dataIndex < 0) continue;
        const short ev = ready > 0 ? fds[dataIndex].revents : 0;
        if (wantRead && !(ev & POLLIN) && !buffered) readPacer.Idle(now);
        if (!(ev & (POLLIN | POLLHUP | POLLERR | extra)) && !buffered) continue;
        const qint64 want = std::min<qint64>(readPacer.Allowance(now), kReadAtOnce);
        if (want <= 0) continue;
        // Read straight into the link's frame buffer.
        const qint64 n = m_line.Read(endpoint.ReceiveSpace(want), want);
        endpoint.Received(std::max<qint64>(n, 0), now);
        if (n < 0) {
            // The program closed its socket.
            m_line.Disconnect();
            endConnection();
            continue;
        }
        if (n <= 0) continue;
        readPacer.Consume(n);
        if (endpoint.TakeNewSession()) {
            endSession();
            const Link::TextCoding coding = endpoint.Features().codePage == Link::kCodePageWindows1251
                                                ? Link::TextCoding::Windows1251
                                                : Link::TextCoding::Utf8;
            parser.SetTextCoding(coding);
            parser.SetRecordBlocks(endpoint.Features().recordBlocks);
            // The device keeps loaded records in the code page they come in,
            // and takes most of them straight from the parser's buffer.
            parser.SetKeepCodePageBytes(true);
            parser.SetTextsAsUnownedBytes(true);
            device.BeginSession(coding, endpoint.Features().journalSequence, endpoint.Features().recordBlocks,
                                endpoint.Features().waresRows);
            inSession = true;
            const CScenario& s = device.Scenario();
            endpoint.SetFaults(s.dropAfterFrames, s.damageSentFrame, s.damageReceivedFrame, s.corruptSentStream);
        }
        if (inSession && endpoint.StreamFailed()) {
            // What came after this point cannot be trusted: the session ends
            // here (an unfinished load is dropped) and the terminal stays
            // silent until the program starts a new one.
            m_state.Log(QStringLiteral("? corrupt stream"));
            endSession();
            continue;
        }
        const CScenario& s = device.Scenario();
        if (inSession && s.exitAfterFrames > 0 && endpoint.ReceivedDataFrames() >= s.exitAfterFrames) {
            // A terminal switched off in the middle: no goodbye, no cleanup.
            m_state.Log(QStringLiteral("S power off"));
            ::_exit(3);
        }
        const QByteArray stream = endpoint.TakeReceived();
        if (!inSession || stream.isEmpty()) continue;
        parser.Feed(stream);
        device.TakeFrom(parser);
        if (parser.Failed()) {
            m_state.Log(QStringLiteral("? garbled stream"));
            parser.Clear();
        }
    }
}
