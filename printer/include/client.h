#pragma once

#include "printjob.h"

#include <QImage>
#include <QObject>
#include <QQueue>
#include <QString>

class PrinterErrorWatchdog;
class PrintingThread;
class QThread;
class QTimer;
class SSJ;
class Terminal;

// What the printer program was started with, read by the session that the
// projection scene creates.
struct ClientOptions {
    QString serialPort;  // names the board's port; empty: discover it
    QString framesDir;   // save every projected frame here; empty: do not
    QString printFile;   // print this job from disk without a desktop
    QString jobFields;   // the ten fields of the job's exposure line
    int discoveryPort = 49958;
    QString systemRoot;
    bool liveSystem = false;
};

// The printer's session: owns the board link, the printing thread and the
// error watchdog, and projects images. Created by the projection scene as the
// QML type "ImageClient" (module "MyClient" 1.0).
class Client : public QObject
{
    Q_OBJECT

public:
    explicit Client(QObject *parent = nullptr);
    ~Client() override;

    static void setOptions(const ClientOptions &options);
    static const ClientOptions &options();

    Terminal *terminal() const { return m_terminal; }
    PrintingThread *printingThread() const { return m_printingThread; }
    double globalScaleX() const { return m_globalScaleX; }
    double globalScaleY() const { return m_globalScaleY; }
    int framesSaved() const { return m_framesSaved; }

public slots:
    // Scales the image to the projector's raster times the global scale, shows
    // it at the top-left corner of the black scene, and repaints at once.
    void projectImage(QImage image);
    void setGlobalScale(double scaleX, double scaleY);
    void printerUSBConnected();
    void doneWithFMovement();
    void printingErrorDetected(int code);
    void sendCurrentPrintProgress(int layer, int percent, int remainingMinutes);
    void screenCountChanged();

signals:
    void sendRunPrintJob(PrintJob *job, SSJ *ssj);
    void pausePrint();
    void resumePrint();
    void cancelPrint();

private:
    void showImage(const QImage &image);
    void saveFrame();
    void startPrintFromFile();
    void endPrintFromFile(int exitCode, const QString &message);

    Terminal *m_terminal = nullptr;
    PrinterErrorWatchdog *m_watchdog = nullptr;
    PrintingThread *m_printingThread = nullptr;
    QThread *m_printingQThread = nullptr;
    PrintJob m_currentJob;
    double m_globalScaleX = 1.0;
    double m_globalScaleY = 1.0;
    int m_framesSaved = 0;
    bool m_printFileStarted = false;
    bool m_printFileEnded = false;
    QTimer *m_boardWaitTimer = nullptr;
    QQueue<QImage> m_pendingImages;
    bool m_projecting = false;
};
