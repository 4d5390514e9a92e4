#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "messages.h"

class QIODevice;

// Wire-level building blocks of the link between Tessora (desktop) and Vatnode (printer).
//
// Terms used here:
//   frame       - 4-byte big-endian byte count N, then the text as N bytes of UTF-16
//                 big-endian code units: what QDataStream (Qt 5) writes for a QString.
//   raw frame   - the text as UTF-8 bytes, no prefix, no terminator (the greeting, and all
//                 traffic to a legacy printer).
//   message     - the text after one "*header*" marker; a frame or raw frame carries
//                 "*header*" + message, possibly several of them. Their names are in
//                 messages.h.
//   datagram    - the discovery announcement "ip:<dotted IPv4>port:<decimal port>".
//   job stream  - T (qint64 BE, total bytes incl. this header), S (qint64 BE, bytes of the
//                 name frame), the file name as one frame, then the file's bytes
//                 (see jobstreamreceiver.h for the receiving side).
namespace Protocol {

inline constexpr quint16 kDiscoveryPort = 49958;
// The desktop listens on the first free port of kFirstPort..kLastPort.
inline constexpr quint16 kBasePort = 50500;
inline constexpr quint16 kFirstPort = kBasePort + 1;
inline constexpr quint16 kLastPort = kBasePort + 50;
inline constexpr int kConnectTimeoutMs = 2000;
inline constexpr int kHeartbeatIntervalMs = 2000;
inline constexpr int kHeartbeatTimeoutMs = 15000;
inline constexpr qint64 kChunkBytes = 4096;

inline constexpr char kMarker[] = "*header*";
inline constexpr char kSeparator[] = ",";
inline constexpr char kWifiSeparator[] = "*&next&*";
inline constexpr char kIpKey[] = "ip:";
inline constexpr char kPortKey[] = "port:";

inline constexpr char kStatusPrinting[] = "PrintStatus_Printing";
inline constexpr char kStatusPaused[] = "PrintStatus_Paused";
inline constexpr char kStatusReady[] = "PrintStatus_Ready";

inline constexpr double kPrinterVersion = 4.51;
inline constexpr double kMinAcceptedVersion = 4.4;
inline constexpr double kMaxAcceptedVersion = 5.0;

// Largest text byte count N a receiver accepts in one frame. Larger declarations are
// refused instead of buffered, so a damaged or hostile peer cannot make a side hold
// gigabytes while it waits for a frame that never completes.
inline constexpr qint64 kMaxFrameBytes = 16 * 1024 * 1024;
// Size of the byte count in front of every frame.
inline constexpr qint64 kFrameHeaderBytes = 4;

// Version text of the printer program: QString::number(kPrinterVersion, 'g', 6) = "4.51".
QString printerVersionText();
// True for versions the desktop accepts, kMinAcceptedVersion..kMaxAcceptedVersion inclusive.
bool isAcceptedVersion(double version);

// The text as one frame. A null QString is written like the empty one (N = 0), never as
// N = 0xFFFFFFFF, which receivers refuse.
QByteArray frame(const QString &text);
// The text as UTF-8 bytes.
QByteArray rawFrame(const QString &text);

enum class FrameStatus {
    Complete, // a whole frame is buffered
    Incomplete, // more bytes are needed; nothing is wrong yet
    Invalid, // N is 0xFFFFFFFF, odd, or above kMaxFrameBytes: close the connection
};

// Looks at the front of `buffered`. *frameBytes (if given) is set to N + 4 once a valid N
// is known (Complete or Incomplete with 4 bytes or more), to 0 otherwise.
FrameStatus peekFrame(const QByteArray &buffered, qint64 *frameBytes = nullptr);
// Reads exactly one complete frame from `device` into *text (if given). Consumes nothing
// unless the result is Complete; never reads past the frame. Looks at the buffered bytes
// only, never waits.
FrameStatus readFrame(QIODevice *device, QString *text);
// Like readFrame(), but consumes nothing; *frameBytes as for peekFrame().
FrameStatus peekFrameText(QIODevice *device, QString *text, qint64 *frameBytes = nullptr);

// Splits the text at every "*header*" and drops the piece before the first marker. Empty
// pieces are kept: "*header**header*B" gives "" and "B"; a text without marker gives none.
QStringList extractMessages(const QString &text);

// Free text inside a comma-separated message (a nickname, a serial, a model, a Wi-Fi name,
// a file or resin name) must carry neither the argument separator nor the marker, nor the
// Wi-Fi list separator. encodeField() writes "%" as "%25", "," as "%2C" and "*" as "%2A";
// every other character stays, so a peer that does not decode still reads the right
// number of fields and shows the text almost as it was. decodeField() undoes exactly those
// three escapes and leaves any other "%" as it is; decodeField(encodeField(t)) == t.
QString encodeField(const QString &text);
QString decodeField(const QString &text);

// The bytes as Latin-1 (ASCII) text, up to the first zero byte.
QString asciiUpToZero(const QByteArray &bytes);

// Reads a discovery datagram (ASCII up to the first zero byte). On success sets *ip (the
// dotted IPv4 text as sent) and *port and returns true; on anything malformed - a missing
// key, an address that is not IPv4 in canonical dotted form (four decimal numbers 0..255
// without leading zeros), a port that is not a decimal in 1..65535 -
// returns false and leaves both untouched.
bool parseDatagram(const QByteArray &datagram, QString *ip, int *port);
// "ip:" + ip + "port:" + port in decimal, as ASCII bytes.
QByteArray datagram(const QString &ip, int port);

// Status name of the printer for its printing thread's status: 0 printing, 1 and 2 paused,
// anything else (including no thread at all) ready.
QString statusName(int printingThreadStatus);

// The printer's handshake reply message (without "*header*"): "Tessora_Client" and the
// eight fields, all joined by ","; the Wi-Fi names are joined by "*&next&*". The serial,
// nickname, model and each Wi-Fi name go as encoded fields (encodeField()).
QString handshakeReply(const QString &serial, const QString &nickname, const QString &model, const QString &versionText,
    const QString &statusName, const QString &resinText, const QStringList &wifiNames, const QString &gParameter);

// The first bytes of a job stream for a file of fileSize bytes: T, S and the name frame.
// The file's bytes follow unchanged.
QByteArray jobStreamHeader(const QString &fileName, qint64 fileSize);

} // namespace Protocol
