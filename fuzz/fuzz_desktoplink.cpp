// The desktop's reading of what a printer sends: the real ClientDevice on one end of a
// local socket pair, the input's bytes arriving from the other end as the printer's. It
// reaches the choice between frames and raw frames (legacy printers), both readers, the
// handshake reply with its resin list, Wi-Fi names and G parameter, and the dispatcher of
// every report; a transfer request makes the device stream a small file back.
//
// Input: byte 0 holds options, the rest is what arrives.
//   bits 0-2  how the bytes are cut into notifications (Fuzz::pieces)
//   bit 3     the device has a job file to send when the printer asks for it
#include "fuzzsupport.h"

#include "clientdevice.h"
#include "resin.h"

#include <QCoreApplication>
#include <QFile>

namespace {

constexpr uint8_t kHasJobFile = 0x08;

// A file to stream when the printer asks for the job: the device sends its bytes as they are.
QString jobFile()
{
    static const QString path = [] {
        const QString file = Fuzz::workDir() + QStringLiteral("/send.ssj");
        QFile out(file);
        FUZZ_CHECK(out.open(QIODevice::WriteOnly) && out.write(QByteArray(3000, 'j')) == 3000, file);
        return file;
    }();
    return path;
}

// What the desktop asks of a printer it holds (rules on its resin list: fuzz_resinlist).
void useDevice(const ClientDevice &device)
{
    if (!device.isHandshakeCompleted())
        return;
    (void)Resin::toString(device.resins());
    (void)device.resinDataAsStringList();
    (void)device.getResinFromName(QStringLiteral("Gray"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    static const bool configured = [] {
        // An update request stops at the missing update files, before any SSH.
        ClientDevice::setUpdateFiles(QStringLiteral("/nonexistent/Vatnode"), QStringLiteral("/nonexistent/script"));
        return true;
    }();
    (void)configured;
    if (size < 1)
        return 0;
    const uint8_t options = data[0];
    const QByteArray stream = Fuzz::bytes(data + 1, size - 1);

    Fuzz::SocketPair pair;
    FUZZ_CHECK(pair.isValid(), QStringLiteral("no socket pair"));
    auto *device = new ClientDevice(pair.releaseSocket());
    if (options & kHasJobFile)
        device->setJobFilePath(jobFile());
    for (const QByteArray &piece : Fuzz::pieces(stream, options)) {
        if (!pair.deliver(piece))
            break;
    }
    useDevice(*device);
    delete device;
    // Timers and sockets left events behind; deliver them now, not at the next input.
    QCoreApplication::sendPostedEvents(nullptr, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
