#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

class PrinterErrorWatchdog;
class QThread;

// The link to the motor and projector board over a USB serial port.
//
// Commands go out as short ASCII lines (one write per character, then a line
// feed). Replies are not assembled into lines: each chunk that arrives is
// searched for fixed substrings ("P0", "P1", "WSNSD", "BP", "BR", "Pause1",
// "Pause0", "Z<g>", "F\r\n", "F") and turned into signals.
//
// The port is found by a scan every second: the last port listed is the board
// when its description is "Duvu Ruvaz COM Port" or its USB vendor id is 9808.
// setFixedPortName() names the port instead (a simulated board on a
// pseudo-terminal is not listed).
class Terminal : public QObject
{
    Q_OBJECT

public:
    struct Settings {
        QString name;
        qint32 baudRate = QSerialPort::Baud9600;
        QString stringBaudRate = QStringLiteral("9600");
        QSerialPort::DataBits dataBits = QSerialPort::Data8;
        QString stringDataBits = QStringLiteral("8");
        QSerialPort::Parity parity = QSerialPort::NoParity;
        QString stringParity = QStringLiteral("None");
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;
        QString stringStopBits = QStringLiteral("1");
        QSerialPort::FlowControl flowControl = QSerialPort::NoFlowControl;
        QString stringFlowControl = QStringLiteral("None");
        bool localEchoEnabled = true;
    };

    // One entry of the system's port list, as discovery sees it.
    struct PortListing {
        QString description;
        QString systemLocation;
        QString vendorIdentifier; // decimal text, empty when unknown
    };

    explicit Terminal(QObject *parent = nullptr);
    ~Terminal() override;

    // Process-wide state shared by every caller of the board link.
    static QSerialPort *serial;
    static PrinterErrorWatchdog *watchDog;
    static bool printOrPauseInProgress;
    static QString d_param;
    static QString e_param;
    static QString j_param;
    static QString k_param;
    static QString l_param;
    static QString w_param;
    static QString x_param;
    static QString g_param;
    // The number of g_param ("g-5" gives -5). The parameters belong to the main thread:
    // a print takes the G number at its start (PrintingThread::setGParameter).
    static int gParameterNumber() { return g_param.mid(1).toInt(); }

    // Creates the error watchdog on a thread of its own (replacing an earlier one).
    PrinterErrorWatchdog *beginWatchdog();

    // Names the board's port: discovery is skipped and the scan (re)opens this
    // port until it is open.
    void setFixedPortName(const QString &portName);
    QString fixedPortName() const { return m_fixedPortName; }

    // Boards of the older generation have no motor power command.
    void setRetrofitBoard(bool retrofit) { m_retrofitBoard = retrofit; }

    // Whether a port listing holds the board: only the last port listed counts.
    static bool lastPortIsBoard(const QList<PortListing> &ports);

    bool boardResetFlag() const { return m_boardReset; }
    const Settings &settings() const { return m_settings; }

public slots:
    void resetPlatformAndTank();
    void sendInitParams();
    void resetPrinter();
    void sendGCommand_forQA();
    void setPrinterBaselineToCurrentPosition();
    void goToLayerHeight(int z);
    void goToLayerHeight_G(int z);
    void pausePrinter();
    void resumePrinter();
    void finishPrint();
    void turnOnProjector();
    void turnOffProjector();
    void turnOnMotors();
    void turnOffMotors();
    void movePlatformUp_Start();
    void movePlatformDown_Start();
    void tiltTankUp_Start();
    void tiltTankDown_Start();
    void movePlatformUp_Stop();
    void movePlatformDown_Stop();
    void tiltTankUp_Stop();
    void tiltTankDown_Stop();
    void cutoffPowerIn30Seconds();
    void runBuzzer(int a, int b);
    void blinkLED(int a, int b);
    void fadeLED(int x);

    void writeOnSerial(const QString &command);
    void updateSettings();
    void openSerialPort();
    void scanSerialPorts();
    void handleSerialError(QSerialPort::SerialPortError error);
    void processSerialData();
    // The reply rules applied to one chunk of received bytes.
    void processChunk(const QByteArray &chunk);

signals:
    void printerConnected();
    void printerResetDone();
    void printerTiltCycleDone();
    void g_movementDone(QString data);
    void f_movementDone();
    void dataReceived_projectorOn();
    void dataReceived_projectorOff();
    void usbConnectionClosed();
    void buttonPressed();
    void buttonReleased();
    void pauseMovementDone();
    void resumeMovementDone();

private:
    void tellWatchdog(const char *slot);
    // The port is open and no error was reported on it since it was opened.
    bool linkUp() const;
    // Ends the watchdog thread of this Terminal and deletes its watchdog.
    void stopWatchdog();

    QSerialPort *m_serial = nullptr; // this Terminal's port (also Terminal::serial)
    PrinterErrorWatchdog *m_watchdog = nullptr; // this Terminal's watchdog (also Terminal::watchDog)
    QThread *m_watchdogThread = nullptr;
    bool m_linkStale = false; // an error was reported on the open port

    QTimer *m_scanTimer = nullptr;
    QString m_description;
    QString m_systemLocation;
    QString m_vendorIdentifier;
    bool m_boardReset = false;
    Settings m_settings;
    QString m_fixedPortName;
    bool m_retrofitBoard = false;
};
