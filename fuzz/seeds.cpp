// Writes the seed inputs of the fuzz targets that are built from messages and small records,
// with the programs' own writers: Protocol::frame and jobStreamHeader for the link, the
// handshake reply, PrintJob::toString, Resin::toString, ResinV3::toString,
// GrayscaleGrid::getJSONString and CrushedPrintJob::writeTo.
//
//     fuzz-seeds OUTDIR [JOB...]
//
// writes OUTDIR/<target>/<name> for the targets jobfile, resinlist, grayscale, printerlink
// and desktoplink. Each JOB (a job file, e.g. from "tessora-cli ssj pack" or "slice") is
// cut to its first three layers for the jobfile seeds and sent in a job stream in a
// printerlink seed. fuzz/make-corpus.sh runs it; mesh seeds come from tests/data/meshes.
#include "crushedprintjob.h"
#include "grayscalegrid.h"
#include "printjob.h"
#include "protocol.h"
#include "resin.h"
#include "resinv3.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

QDir g_out;
int g_written = 0;

void write(const QString &target, const QString &name, const QByteArray &bytes)
{
    QDir dir(g_out.filePath(target));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(dir.path()));
        std::exit(1);
    }
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    ++g_written;
}

// The options byte of the link targets, then the stream.
QByteArray withOptions(quint8 options, const QByteArray &stream)
{
    return QByteArray(1, char(options)) + stream;
}

QByteArray message(const QString &text)
{
    return Protocol::frame(QLatin1String(Protocol::kMarker) + text);
}

QByteArray rawMessage(const QString &text)
{
    return Protocol::rawFrame(QLatin1String(Protocol::kMarker) + text);
}

QByteArray greeting()
{
    return rawMessage(QLatin1String(Message::kGreeting));
}

QByteArray jobBytes(CrushedPrintJob &job)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    job.writeTo(&buffer);
    return bytes;
}

QImage squareLayer(int width, int height, int step)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.fillRect(QRect(width / 4 + step, height / 4, width / 3, height / 3), Qt::white);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPoint(width * 3 / 4, height * 3 / 4), width / 10, height / 10);
    return image;
}

QImage greyLayer(int width, int height, int step)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    image.fill(0);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(255, 255, 255));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(width / 2.0 + step, height / 2.0), width / 4.3, height / 4.3);
    return image;
}

// A small bit-map job: three layers of 64 x 40, with the fields the desktop leaves at 0
// filled in (leading blank layers, base layers, supports, texts).
QByteArray smallBitMapJob(bool extras)
{
    CrushedPrintJob job;
    job.setVersion(1);
    job.setName(QStringLiteral("jobname"));
    job.setDescription(QStringLiteral("jobdesc"));
    job.setLayerThickness(0.05);
    for (int i = 0; i < 3; ++i) {
        QImage layer = squareLayer(64, 40, i);
        job.addImage(&layer);
    }
    if (extras) {
        job.setLeadingBlankLayers(2);
        job.setBaseLayers(1);
        job.AddSupport(3, QPoint(20, 12), 6, SupportType(0), 1);
        job.AddSupport(4, QPoint(40, 30), 5, SupportType(2), 0);
        job.AddSupport(2, QPoint(10, 10), 4, SupportType(3), 0);
        job.setTexts({QStringLiteral("first line"), QStringLiteral("second")});
    }
    return jobBytes(job);
}

QByteArray smallAntiAliasedJob()
{
    CrushedPrintJob job;
    job.setVersion(3);
    job.setName(QStringLiteral("jobname"));
    job.setDescription(QStringLiteral("sliced at 100 microns"));
    job.setLayerThickness(0.1);
    for (int i = 0; i < 2; ++i) {
        QImage layer = greyLayer(48, 30, i);
        job.addAntiImage(&layer);
    }
    QImage colour(16, 10, QImage::Format_ARGB32);
    colour.fill(qRgba(200, 100, 50, 128));
    job.addAntiImage(&colour);
    job.setLeadingBlankLayers(1);
    return jobBytes(job);
}

// The first `layers` layers of a job file, written again.
QByteArray firstLayers(const QString &path, int layers)
{
    CrushedPrintJob job;
    QFile file(path);
    if (!job.loadCPJ(&file)) {
        std::fprintf(stderr, "cannot read job %s: %s\n", qPrintable(path), qPrintable(job.errorString()));
        std::exit(1);
    }
    CrushedPrintJob cut;
    cut.setVersion(job.version());
    cut.setName(job.name());
    cut.setDescription(job.description());
    cut.setLayerThickness(job.layerThicknessText().toDouble());
    for (int layer = 0; layer < std::min(layers, job.storedLayers()); ++layer) {
        if (job.version() == 1)
            cut.addBitMap(CrushedBitMap(*job.getCBMSlice(layer)));
        else
            cut.addAntiBitMap(CrushedAntiBitMap(*job.getCBMSliceAnti(layer)));
    }
    return jobBytes(cut);
}

QString jobLine()
{
    PrintJob job;
    job.numAdhesionLayers = 3;
    job.adhesionLayerCureTime = 20;
    job.cureTime = 10;
    job.layerThickness = 50;
    job.adhesionThickness = 20;
    job.numImages = 3;
    job.resinName = QStringLiteral("Gray");
    job.fineTuneFactor = 0.9;
    return QStringLiteral("Status_SendingPrintJob,") + job.toString();
}

QByteArray jobStream(const QString &name, const QByteArray &file)
{
    return Protocol::jobStreamHeader(name, file.size()) + file;
}

// A version 3 list as a later program version stores it: known and unknown ids.
QString v3List()
{
    struct Entry {
        const char *id;
        const char *name;
        const char *version;
        double c20, c50, c100, adhesion;
    };
    static const Entry entries[] = {
        {"1001", "Gray V3", "1.0", 6, 10, 14, 45},
        {"1005", "Surgical", "1.0", -1, 2.2, 3.6, 20},
        {"2002", "Model Plus", "2.0", -1, 6, 7.2, 35},
        {"3006", "Cast", "1.0", -1, 4.4, 8, 25},
        {"4007", "Corvantis Tough", "1.0", 3.5, 5, 7, 30},
        {"5001", "Outside", "1.0", 4, 6, 12, 30},
    };
    QString text;
    for (const Entry &e : entries) {
        ResinV3 resin;
        resin.resinId = QString::fromLatin1(e.id);
        resin.name = QString::fromLatin1(e.name);
        resin.userFacingVersion = QString::fromLatin1(e.version);
        resin.c20 = e.c20;
        resin.c50 = e.c50;
        resin.c100 = e.c100;
        resin.a20 = resin.a50 = resin.a100 = e.adhesion;
        if (resin.resinId == QLatin1String("4007")) {
            resin.scaleX50 = 0.9;
            resin.fineTuneFactor50 = 0.7;
            resin.fineTuneFactor100 = 1.1;
        }
        text += QLatin1Char('*') + resin.toString();
    }
    return text;
}

QList<Resin> calibratedList()
{
    QList<Resin> resins = Resin::defaultResinList();
    resins[3].fineTuneFactor50 = 0.85;
    resins[3].scaleX100 = 1.013;
    resins[3].scaleY100 = 0.991;
    resins[4].aThickness = 50;
    resins[4].numAdhesionLayers = 5;
    return resins;
}

void resinSeeds()
{
    const QString v2 = Resin::toString(Resin::defaultResinList());
    const QString old = QStringLiteral("*Red!5!10!15!3!20!20!20!20!1!1!1*Gray!8!9!10!4!20!21!22!50!1.01!.99!.85");
    write(QStringLiteral("resinlist"), QStringLiteral("v2-default"), v2.toUtf8());
    write(QStringLiteral("resinlist"), QStringLiteral("v2-calibrated"), Resin::toString(calibratedList()).toUtf8());
    write(QStringLiteral("resinlist"), QStringLiteral("old"), old.toUtf8());
    write(QStringLiteral("resinlist"), QStringLiteral("v3"), v3List().toUtf8());
    // A damaged list: a version 2 entry followed by an old one and one of numbers only.
    const QString damaged = Resin::toString({Resin::defaultResinList().first()})
        + QStringLiteral("*Clear!4!7!11!3!20!20!20!20!1!1!1*5!10!15");
    write(QStringLiteral("resinlist"), QStringLiteral("damaged"), damaged.toUtf8());
    write(QStringLiteral("resinlist"), QStringLiteral("no-entry"), QByteArrayLiteral("ResinFormatVersion:2"));
}

void grayscaleSeeds()
{
    GrayscaleGrid grid;
    grid.setNumRowsAndColumns(GrayscaleGrid::defaultNumRows, GrayscaleGrid::defaultNumColumns);
    write(QStringLiteral("grayscale"), QStringLiteral("default-whole"), grid.getJSONString().toUtf8());
    for (int row = 0; row < grid.getNumRows(); ++row)
        for (int column = 0; column < grid.getNumColumns(); ++column)
            grid.setValue(row, column, (row * 31 + column * 7) % 256);
    write(QStringLiteral("grayscale"), QStringLiteral("default-chunks"),
        grid.getJSONChunks().join(QLatin1Char('\0')).toUtf8());

    GrayscaleGrid larger;
    larger.setNumRowsAndColumns(10, 13);
    larger.setValue(4, 5, 128);
    write(QStringLiteral("grayscale"), QStringLiteral("resize-10x13"), larger.getJSONString(3, 6).toUtf8());

    QString asText = grid.getJSONString(0, 1);
    asText.replace(QStringLiteral("\"r0c3\":"), QStringLiteral("\"r0c3\":\"128\",\"x\":"));
    write(QStringLiteral("grayscale"), QStringLiteral("string-level"), asText.toUtf8());
    write(QStringLiteral("grayscale"), QStringLiteral("no-rows"), grid.getJSONString(4, 4).toUtf8());
    write(QStringLiteral("grayscale"), QStringLiteral("array"), QByteArrayLiteral("[1,2,3]\0{\"numRows\":2}"));
}

void jobSeeds(const QStringList &jobs)
{
    write(QStringLiteral("jobfile"), QStringLiteral("bitmap-64x40"), smallBitMapJob(false));
    write(QStringLiteral("jobfile"), QStringLiteral("bitmap-64x40-supports"), smallBitMapJob(true));
    write(QStringLiteral("jobfile"), QStringLiteral("anti-48x30"), smallAntiAliasedJob());
    for (const QString &path : jobs)
        write(QStringLiteral("jobfile"), QFileInfo(path).completeBaseName() + QStringLiteral("-3layers"),
            firstLayers(path, 3));
}

// What the desktop sends a printer (target printerlink).
void printerLinkSeeds(const QStringList &jobs)
{
    const QString target = QStringLiteral("printerlink");
    const QByteArray job = smallBitMapJob(false);
    const QByteArray alive = message(QLatin1String(Message::kKeepAlive));

    write(target, QStringLiteral("greeting"), withOptions(0, greeting()));
    write(target, QStringLiteral("greeting-in-pieces"), withOptions(4, greeting() + alive));
    write(target, QStringLiteral("print-job"),
        withOptions(0,
            greeting() + message(jobLine()) + jobStream(QStringLiteral("C:/Users/me/part.ssj"), job)
                + message(QStringLiteral("Request_PrintProgress"))));
    write(target, QStringLiteral("print-job-keepalive-first"),
        withOptions(0, greeting() + message(jobLine()) + alive + jobStream(QStringLiteral("/home/me/part.ssj"), job)));
    write(target, QStringLiteral("print-job-pieces"),
        withOptions(6, greeting() + message(jobLine()) + jobStream(QStringLiteral("part.ssj"), job)));
    for (const QString &path : jobs) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            write(target, QStringLiteral("print-") + QFileInfo(path).completeBaseName(),
                withOptions(0x08,
                    message(jobLine())
                        + jobStream(QStringLiteral("C:/Users/me/Documents/") + QFileInfo(path).fileName(),
                            firstLayers(path, 2))));
    }
    write(target, QStringLiteral("update"),
        withOptions(0x18,
            message(QStringLiteral("Send_UpdatedClient"))
                + jobStream(QStringLiteral("Vatnode"), QByteArrayLiteral("#!/bin/sh\n"))));
    write(target, QStringLiteral("resins"),
        withOptions(0x08, message(QStringLiteral("Send_ResinData") + Resin::toString(calibratedList()))));
    write(target, QStringLiteral("resins-v3"), withOptions(0x08, message(QStringLiteral("Send_ResinData") + v3List())));
    write(target, QStringLiteral("resins-old"),
        withOptions(0x08, message(QStringLiteral("Send_ResinData*Red!5!10!15!3!20!20!20!20!1!1!1"))));

    GrayscaleGrid grid;
    grid.setNumRowsAndColumns(GrayscaleGrid::defaultNumRows, GrayscaleGrid::defaultNumColumns);
    grid.setValue(3, 4, 100);
    QByteArray grayscale = greeting();
    for (const QString &chunk : grid.getJSONChunks())
        grayscale += message(QStringLiteral("Send_NewGrayscale,") + chunk);
    grayscale += message(QStringLiteral("Request_Grayscale"));
    write(target, QStringLiteral("grayscale"), withOptions(0, grayscale));

    QByteArray commands = greeting();
    for (const QString &text : {QStringLiteral("Server_NewNickname,Workshop printer"),
             QStringLiteral("Send_NewSerialAndModel,OBW-1234,OBP75V1"),
             QStringLiteral("Send_NetworkInfoHomeSend_NetworkInfosecret passSend_NetworkInfoJunk Type Name"),
             QStringLiteral("Send_GParameter,12"), QStringLiteral("Send_FactoryGParameter,-3"),
             QStringLiteral("Send_ResetGParameterToFactory"), QStringLiteral("Send_PiToBoardCommand,d1500"),
             QStringLiteral("Request_PausePrint"), QStringLiteral("Request_ResumePrint"),
             QStringLiteral("Request_CancelPrint"), QStringLiteral("Request_PlatformUp"),
             QStringLiteral("Request_Reprint"), QStringLiteral("Request_QA_TurnOffProjector"),
             QStringLiteral("Unknown_Message")})
        commands += message(text);
    write(target, QStringLiteral("commands"), withOptions(0, commands));
    // Several messages in one frame, an empty one among them; then two frames at once.
    write(target, QStringLiteral("messages-in-one-frame"),
        withOptions(0x08,
            Protocol::frame(QStringLiteral("*header*Request_PrintProgress*header**header*Connection-Alive"))
                + message(QStringLiteral("Request_Grayscale"))));
    write(target, QStringLiteral("raw-after-greeting"),
        withOptions(0, greeting() + rawMessage(QStringLiteral("Request_PrintProgress"))));

    write(
        target, QStringLiteral("datagram"), withOptions(0x80, Protocol::datagram(QStringLiteral("10.0.0.20"), 50501)));
    write(target, QStringLiteral("datagram-zero"),
        withOptions(0x80, Protocol::datagram(QStringLiteral("192.168.1.7"), 50550) + QByteArray(1, '\0') + "junk"));
}

// What a printer sends the desktop (target desktoplink).
void desktopLinkSeeds()
{
    const QString target = QStringLiteral("desktoplink");
    const QString resins = Resin::toString(Resin::defaultResinList());
    const QStringList wifi = {QStringLiteral("Workshop"), QStringLiteral("Office 2")};
    const auto reply = [&](const QString &version, const QString &status, const QString &list, const QString &model) {
        return Protocol::handshakeReply(QStringLiteral("OBW-1234"), QStringLiteral("Workshop printer"), model, version,
            status, list, wifi, QStringLiteral("g7"));
    };
    const QString ready = QLatin1String(Protocol::kStatusReady);
    const QString printing = QLatin1String(Protocol::kStatusPrinting);

    write(target, QStringLiteral("handshake"),
        withOptions(0, message(reply(QStringLiteral("4.51"), ready, resins, QStringLiteral("OBP100V1")))));
    write(target, QStringLiteral("handshake-no-resins"),
        withOptions(0, message(reply(QStringLiteral("4.51"), ready, QString(), QStringLiteral("OBP75V1")))));
    write(target, QStringLiteral("handshake-v3-resins"),
        withOptions(0,
            message(reply(QStringLiteral("4.51"), QLatin1String(Protocol::kStatusPaused), v3List(),
                QStringLiteral("OBP100V1")))));
    QString eightFields = reply(QStringLiteral("4.6"), ready, resins, QStringLiteral("OBP100V1"));
    eightFields.truncate(eightFields.lastIndexOf(QLatin1Char(',')));
    write(target, QStringLiteral("handshake-8-fields"), withOptions(0, message(eightFields)));
    write(target, QStringLiteral("handshake-old-version"),
        withOptions(0, message(reply(QStringLiteral("4.3"), ready, resins, QStringLiteral("OBP100V1")))));
    write(target, QStringLiteral("handshake-new-version-printing"),
        withOptions(0, message(reply(QStringLiteral("5.1"), printing, resins, QStringLiteral("OBP100V1")))));
    write(target, QStringLiteral("handshake-pro"),
        withOptions(0, message(reply(QStringLiteral("4.51"), ready, resins, QStringLiteral("OBPro100")))));
    write(target, QStringLiteral("legacy"),
        withOptions(0,
            rawMessage(reply(QStringLiteral("4.51"), ready, resins, QStringLiteral("OBP100V1")))
                + rawMessage(QStringLiteral("Connection-Alive"))));
    write(target, QStringLiteral("legacy-pieces"),
        withOptions(5,
            rawMessage(reply(QStringLiteral("4.51"), printing, resins, QStringLiteral("OBP100V1")))
                + rawMessage(QStringLiteral("Send_PrintProgress,3,10,42,part.ssj,Gray,50"))));

    QByteArray print = message(reply(QStringLiteral("4.51"), ready, resins, QStringLiteral("OBP100V1")));
    for (const QString &text :
        {QStringLiteral("Client_Request_FileTransfer"), QStringLiteral("Connection-Alive"),
            QStringLiteral("Send_PrintProgress,1,33,120,part.ssj,Gray,50"), QStringLiteral("Send_PauseMovementDone"),
            QStringLiteral("Request_PausePrint"), QStringLiteral("Send_ResumeMovementDone"),
            QStringLiteral("Request_ResumePrint"), QStringLiteral("Send_PrintingError,203"),
            QStringLiteral("Request_CancelPrint"), QStringLiteral("Send_PrintDone"), QStringLiteral("Request_Update"),
            QStringLiteral("Send_NewGrayscale,{\"numRows\":1,\"numColumns\":1,\"startRow\":0,\"endRow\":1,\"r0c0\":9}"),
            QStringLiteral("Something_Else")})
        print += message(text);
    write(target, QStringLiteral("print-reports"), withOptions(0x08, print));
    write(target, QStringLiteral("print-reports-pieces"), withOptions(0x08 | 3, print));
    write(target, QStringLiteral("two-messages-one-frame"),
        withOptions(0,
            Protocol::frame(QStringLiteral("*header*")
                + reply(QStringLiteral("4.51"), ready, resins, QStringLiteral("OBP100V1"))
                + QStringLiteral("*header*Send_PrintDone"))));
}

} // namespace

int main(int argc, char *argv[])
{
    // The writers' debug lines are of no use here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: fuzz-seeds OUTDIR [JOB...]\n");
        return 2;
    }
    g_out = QDir(args.first());
    const QStringList jobs = args.mid(1);
    resinSeeds();
    grayscaleSeeds();
    jobSeeds(jobs);
    printerLinkSeeds(jobs);
    desktopLinkSeeds();
    std::printf("wrote %d seeds below %s\n", g_written, qPrintable(g_out.path()));
    return 0;
}
