#pragma once

// What the fuzz targets share: the Qt set-up, a quiet log, the check that turns a broken
// rule into a crash, a scratch folder, and a socket pair for the readers that only read
// from a connected socket.

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace Fuzz {

// Creates the application object once (sockets, timers and images need one) and silences
// the debug log, which would otherwise take most of the time of every input. With
// TESSORA_FUZZ_LOG=1 in the environment the log goes to standard error, for looking into
// one input.
void init();

// Reports a rule of the code under test that an input broke, then aborts: libFuzzer keeps
// the input, the replay driver fails.
[[noreturn]] void fail(const char *file, int line, const char *rule, const QString &detail);

// A folder for the files a target writes, on tmpfs when the machine has one; the same for
// the whole process, removed at exit.
QString workDir();

QByteArray bytes(const uint8_t *data, size_t size);

// The pieces a stream reaches a reader in. `plan` (an input's first byte, low three bits)
// picks the piece size: 0 the whole stream at once, then 1, 2, 3, 5, 16, 100 or 4096 bytes.
QList<QByteArray> pieces(const QByteArray &stream, uint8_t plan);

// A connected pair of stream sockets on this machine (no network). socket() is a
// QTcpSocket on the near end, the kind of device both ends of the printer link read from;
// deliver() writes to the far end and lets the socket read, one read per piece, so every
// piece is one readyRead notification as in the programs.
class SocketPair
{
public:
    SocketPair();
    ~SocketPair();
    SocketPair(const SocketPair &) = delete;
    SocketPair &operator=(const SocketPair &) = delete;

    bool isValid() const { return !m_socket.isNull() && m_far >= 0; }
    QTcpSocket *socket() const { return m_socket.data(); }
    // The socket's new owner (e.g. a ClientDevice) deletes it; the pair only watches it.
    QTcpSocket *releaseSocket();

    // Sends the bytes and waits until the socket has read them all. False when the reader
    // closed the connection meanwhile (nothing more can arrive).
    bool deliver(const QByteArray &bytes);
    // Reads what the near end wrote into received(); returns the number of bytes.
    qint64 drain();
    QByteArray received() const { return m_received; }

private:
    bool readPending();

    QPointer<QTcpSocket> m_socket;
    bool m_owned = true;
    int m_far = -1;
    QByteArray m_received;
};

} // namespace Fuzz

#define FUZZ_CHECK(rule, detail)                                                                                       \
    do {                                                                                                               \
        if (!(rule))                                                                                                   \
            ::Fuzz::fail(__FILE__, __LINE__, #rule, (detail));                                                         \
    } while (false)
