#pragma once
// Two link endpoints joined by a simulated line that may lose, damage, cut
// and delay what is written; time is simulated in ms.

#include "components/parlink/protocol/LinkEndpoint.h"

#include <QByteArray>

#include <algorithm>
#include <deque>
#include <random>

class CLineSimulation {
public:
    struct Faults {
        double dropChunk = 0;  // a whole write is lost
        double flipBit = 0;    // one bit of a write is flipped
        double cutChunk = 0;   // a write loses its tail
        int latencyMs = 2;
    };

    explicit CLineSimulation(unsigned seed, Faults faults, Link::EndpointConfig config = {})
        : CLineSimulation(seed, faults, config, config) {}
    CLineSimulation(unsigned seed, Faults faults, Link::EndpointConfig programConfig,
                    Link::EndpointConfig terminalConfig)
        : m_rng(seed), m_faults(faults), program(Link::CLinkEndpoint::Role::Initiator, programConfig),
          terminal(Link::CLinkEndpoint::Role::Responder, terminalConfig) {}

    // Runs until both streams are delivered or `limitMs` of simulated time pass.
    bool Run(const QByteArray& up, const QByteArray& down, int limitMs) {
        program.StartSession(0xA1B2C3D4, m_now);
        program.Queue(up, false);
        bool downQueued = false;
        for (; m_now < limitMs; ++m_now) {
            QByteArray w;
            program.Produce(m_now, w);
            wireUp += w;
            Send(m_toTerminal, w);
            w.clear();
            terminal.Produce(m_now, w);
            wireDown += w;
            Send(m_toProgram, w);
            Deliver(m_toTerminal, terminal);
            Deliver(m_toProgram, program);
            if (terminal.TakeNewSession()) {
                ++newSessions;
                if (!downQueued) terminal.Queue(down, false);
                downQueued = true;
            }
            gotUp += terminal.TakeReceived();
            gotDown += program.TakeReceived();
            maxInFlight = std::max({maxInFlight, program.FramesInFlight(), terminal.FramesInFlight()});
            if (gotUp.size() >= up.size() && gotDown.size() >= down.size() && program.AllAcknowledged() &&
                terminal.AllAcknowledged())
                return true;
        }
        return false;
    }

    std::int64_t m_now = 0;
    std::mt19937 m_rng;
    Faults m_faults;
    Link::CLinkEndpoint program;
    Link::CLinkEndpoint terminal;
    QByteArray gotUp;
    QByteArray gotDown;
    QByteArray wireUp;    // everything the program wrote, before the line's faults
    QByteArray wireDown;  // everything the terminal wrote
    int newSessions = 0;
    int maxInFlight = 0;

private:
    struct Chunk {
        std::int64_t due;
        QByteArray bytes;
    };
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }
    void Send(std::deque<Chunk>& line, QByteArray bytes) {
        if (bytes.isEmpty() || Chance(m_faults.dropChunk)) return;
        if (Chance(m_faults.flipBit)) {
            const auto at = std::uniform_int_distribution<qsizetype>(0, bytes.size() - 1)(m_rng);
            bytes[at] = static_cast<char>(bytes[at] ^ (1 << (at % 8)));
        }
        if (Chance(m_faults.cutChunk)) bytes.truncate(std::uniform_int_distribution<qsizetype>(0, bytes.size() - 1)(m_rng));
        line.push_back({m_now + m_faults.latencyMs, bytes});
    }
    void Deliver(std::deque<Chunk>& line, Link::CLinkEndpoint& to) {
        while (!line.empty() && line.front().due <= m_now) {
            to.Feed(line.front().bytes.constData(), line.front().bytes.size(), m_now);
            line.pop_front();
        }
    }
    std::deque<Chunk> m_toTerminal;
    std::deque<Chunk> m_toProgram;
};

// A bad line: writes lost, damaged and cut now and then, the delay going
// from 1 ms up to `latencySpread` ms with the seed.
inline CLineSimulation::Faults BadLine(unsigned seed, unsigned latencySpread) {
    CLineSimulation::Faults faults;
    faults.dropChunk = 0.1;
    faults.flipBit = 0.1;
    faults.cutChunk = 0.05;
    faults.latencyMs = 1 + static_cast<int>(seed % latencySpread);
    return faults;
}

inline QByteArray Pattern(int size, unsigned seed) {
    std::mt19937 rng(seed);
    QByteArray b(size, Qt::Uninitialized);
    for (char& c : b) c = static_cast<char>(rng());
    return b;
}
