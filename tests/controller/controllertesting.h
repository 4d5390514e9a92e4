#pragma once

#include "crushedprintjob.h"
#include "myglwidget.h"
#include "namelist.h"
#include "printerstate.h"
#include "server.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QtGlobal>

// Shared by the controller's tests.
namespace ControllerTesting {

// Points every controller made afterwards at loopback: its announcement goes to 127.0.0.1 on
// discoveryPort, and it listens on ports of this process only. Call before constructing one.
inline void keepNetworkOnLoopback(quint16 discoveryPort)
{
    qputenv("TESSORA_DISCOVERY_TARGET", "127.0.0.1");
    qputenv("TESSORA_DISCOVERY_PORT", QByteArray::number(discoveryPort));
    // Away from the program's default ports and from the link tests' range.
    const int basePort = 57000 + static_cast<int>(QCoreApplication::applicationPid() % 400) * 20;
    qputenv("TESSORA_BASE_PORT", QByteArray::number(basePort));
}

// Runs `work` on the controller's Server, on the Server's own thread, and waits for it.
template<typename Work> void onServerThread(MyGLWidget &widget, Work work)
{
    QMetaObject::invokeMethod(
        widget.server(), [&] { work(*widget.server()); }, Qt::BlockingQueuedConnection);
}

// The Server's TCP port; with `listen`, it listens (and announces) first.
inline int serverPort(MyGLWidget &widget, bool listen = false)
{
    int port = 0;
    onServerThread(widget, [&](Server &server) {
        if (listen)
            server.broadcastIP();
        port = server.currentPort();
    });
    return port;
}

// A printer's record as its device session publishes it.
inline PrinterState printerRecord(const QString &serial, const QString &model, const QList<Resin> &resins = {})
{
    PrinterState state;
    state.serial = serial;
    state.nickname = QStringLiteral("Nick") + serial;
    state.model = model;
    state.version = 4.51;
    state.status = QStringLiteral("PrintStatus_Ready");
    state.resins = resins;
    state.wifiNames = QStringList {QStringLiteral("wifiA"), QStringLiteral("wifiB")};
    state.gParameter = 7;
    return state;
}

// Layer `layer` of the test jobs: black, with one white bar 40 pixels high whose width
// grows with the layer, so that every layer differs.
inline QRect layerBar(int layer)
{
    return QRect(100, 100, 50 * (layer + 1), 40);
}

inline QImage layerImage(int layer)
{
    QImage image(1280, 800, QImage::Format_ARGB32);
    image.fill(0xFF000000u);
    QPainter painter(&image);
    painter.fillRect(layerBar(layer), Qt::white);
    return image;
}

// Writes a plain job of `layers` layers (layerImage) with the header the slicer writes.
inline bool writeJob(const QString &path, double thicknessMm, int layers, const QString &description)
{
    CrushedPrintJob job;
    job.setVersion(1);
    job.setName(QStringLiteral("jobname"));
    job.setDescription(description);
    job.setLayerThickness(thicknessMm);
    job.setReservedTexts({QStringLiteral("Reserved3"), QStringLiteral("Reserved2"), QStringLiteral("Reserved1")});
    job.clearAll(0);
    for (int layer = 0; layer < layers; ++layer) {
        QImage image = layerImage(layer);
        job.setCurrentLayer(layer);
        if (!job.addImage(&image))
            return false;
    }
    return job.saveCPJ(path);
}

// Pixels of the image that are opaque white.
inline int whitePixels(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            count += line[x] == 0xFFFFFFFFu;
    }
    return count;
}

} // namespace ControllerTesting
