#pragma once

#include <QString>
#include <QtGlobal>

// Logging facility of both programs.
//
// Every Qt debug, warning, critical and fatal message is copied to standard
// error and appended, with the time of day, to a log file as one line
// "hh:mm:ss.zzz <label>: <text>". The printer writes "LogFile_Vatnode", the
// desktop "LogFile_Tessora", both relative to the working directory.
//
// One object is created on the stack of main() before the application object:
//
//     BasicLogging logging;                          // printer
//     BasicLogging logging(QStringLiteral("LogFile_Tessora")); // desktop
//     logging.setupBasicLogging();
class BasicLogging
{
public:
    // Sets the process-wide log file path (see setLogFilePath()).
    explicit BasicLogging(const QString &path = QStringLiteral("LogFile_Vatnode"));

    // Installs messageHandlerPointer() as the Qt message handler, then
    // deletes an oversized log file (clearLogFileIfTooBig()).
    void setupBasicLogging();

    // Deletes the log file when it is larger than the maximum log size
    // (50,000,000 bytes). Runs once per start; the file may grow past the
    // limit while the program runs.
    void clearLogFileIfTooBig();

    // The Qt message handler: one stderr line and one log file line per debug,
    // warning, critical or fatal message; a fatal message then aborts the
    // process. Other message types (info) are dropped. Callable from any thread.
    static void messageHandlerPointer(QtMsgType type, const QMessageLogContext &context, const QString &message);

    // Appends "hh:mm:ss.zzz <label>: <message>" and a line feed to the log
    // file. A file that cannot be opened loses the line silently. Callable
    // from any thread.
    static void writeMessageToLogFile(const QString &label, const QString &message);

    // The log file path, "LogFile_Vatnode" unless set otherwise. Safe to call
    // from any thread.
    static QString logFilePath();
    static void setLogFilePath(const QString &path);

    static constexpr double defaultMaxLogSize = 50000000.0;

private:
    double maxLogSize = defaultMaxLogSize; // bytes
};

// Logs `line` as it stands, without the quotes and spaces qDebug() adds around a QString:
// the way both programs write their "ERROR. Class::method. ..." lines.
void logLine(const QString &line);
