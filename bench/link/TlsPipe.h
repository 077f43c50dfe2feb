#pragma once
// The yardstick for the network link's figures: the same bytes through a
// plain TLS 1.3 pipe (OpenSSL on both ends of a loopback TCP connection, one
// thread writing, one reading, the key and certificate kind the link uses),
// with nothing of the link protocol in between.

#include <QByteArray>
#include <QString>

struct CTlsPipeFigures {
    bool ok = false;
    double seconds = 0;  // from the end of the handshake until the reader has every byte
    double cpuSeconds = 0;  // both ends together
    QString error;
};

// Sends `bytes` once through a fresh TLS 1.3 session on loopback TCP and
// checks that the reader got exactly them.
CTlsPipeFigures RunTlsPipe(const QByteArray& bytes);

// The run of median time among `runs` runs (the machine is shared with
// other builds); not ok when any run failed.
CTlsPipeFigures MedianTlsPipe(const QByteArray& bytes, int runs);
