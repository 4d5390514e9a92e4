#include "basiclogging.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Sends file descriptor 2 to a file while it lives; text() gives what was
// written there.
class StderrCapture
{
public:
    explicit StderrCapture(const QString &path)
        : capturePath(path)
    {
        fflush(stderr);
        savedFd = dup(STDERR_FILENO);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrCapture() { restore(); }

    QString text()
    {
        restore();
        QFile file(capturePath);
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

private:
    void restore()
    {
        if (savedFd < 0)
            return;
        fflush(stderr);
        dup2(savedFd, STDERR_FILENO);
        ::close(savedFd);
        savedFd = -1;
    }

    QString capturePath;
    int savedFd = -1;
};

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        return {QStringLiteral("<last line without line feed>")};
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.removeLast(); // after the final line feed
    return lines;
}

const QRegularExpression fileLinePattern(
    QStringLiteral("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d\\.\\d\\d\\d (QDebug|QWarning|QCritical|QFatal): (.*)$"));

void makeSparseFile(const QString &path, qint64 size)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(size));
}

} // namespace

// The logging facility: the size check at start, the stderr and file lines
// per message type, and whole lines under concurrent logging. Every log file
// lives in a temporary directory. (The programs' own log files, by their
// default names, are read by the session and instance tests.)
class TestBasicLogging : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        tempDir = std::make_unique<QTemporaryDir>();
        QVERIFY(tempDir->isValid());
        logPath = tempDir->filePath(QStringLiteral("LogFile_Vatnode"));
        BasicLogging::setLogFilePath(logPath);
        previousHandler = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(previousHandler);
    }

    void cleanup()
    {
        qInstallMessageHandler(previousHandler);
        // Nothing may be written outside the temporary directory after a test.
        BasicLogging::setLogFilePath(QString());
        tempDir.reset();
    }

    void sizeCheck_deletesOnlyFilesAboveLimit_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("survives");
        QTest::newRow("exactly 50,000,000 bytes") << qint64(50000000) << true;
        QTest::newRow("50,000,001 bytes") << qint64(50000001) << false;
        QTest::newRow("3 GB") << qint64(3000000000) << false;
    }

    void sizeCheck_deletesOnlyFilesAboveLimit()
    {
        QFETCH(qint64, size);
        QFETCH(bool, survives);
        makeSparseFile(logPath, size);
        {
            StderrCapture capture(tempDir->filePath(QStringLiteral("stderr")));
            BasicLogging logging(logPath);
            logging.setupBasicLogging();
            qDebug("first message after start");
            qInstallMessageHandler(previousHandler);
        }
        // A file above the limit is replaced by the next message; one below keeps growing.
        const qint64 lineSize = QStringLiteral("00:00:00.000 QDebug: first message after start\n").size();
        QCOMPARE(QFileInfo(logPath).size(), (survives ? size : 0) + lineSize);
        if (!survives)
            QVERIFY(fileLines(logPath).value(0).endsWith(QStringLiteral(" QDebug: first message after start")));
    }

    void messageTypes_giveStderrAndFileLine_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("stderrPrefix");
        QTest::addColumn<QString>("label");
        QTest::newRow("debug") << int(QtDebugMsg) << "Debug: " << "QDebug";
        QTest::newRow("warning") << int(QtWarningMsg) << "Warning: " << "QWarning";
        QTest::newRow("critical") << int(QtCriticalMsg) << "Critical: " << "QCritical";
        QTest::newRow("info gives neither line") << int(QtInfoMsg) << "" << "";
    }

    void messageTypes_giveStderrAndFileLine()
    {
        QFETCH(int, type);
        QFETCH(QString, stderrPrefix);
        QFETCH(QString, label);
        const QString text = QStringLiteral("ERROR. Terminal::open. Port busy: ttyUSB0");

        StderrCapture capture(tempDir->filePath(QStringLiteral("stderr")));
        const QMessageLogContext context("terminal.cpp", 42, "Terminal::open", "default");
        BasicLogging::messageHandlerPointer(QtMsgType(type), context, text);
        if (label.isEmpty()) {
            QCOMPARE(capture.text(), QString());
            QVERIFY(!QFile::exists(logPath));
            return;
        }
        QCOMPARE(capture.text(), stderrPrefix + text + QLatin1Char('\n'));
        const QStringList lines = fileLines(logPath);
        QCOMPARE(lines.size(), 1);
        const QRegularExpressionMatch match = fileLinePattern.match(lines.first());
        QVERIFY2(match.hasMatch(), qPrintable(lines.first()));
        QCOMPARE(match.captured(2), label);
        QCOMPARE(match.captured(3), text); // the context is not written
    }

    void fatalMessage_isLoggedThenAborts()
    {
        const QString stderrPath = tempDir->filePath(QStringLiteral("stderr"));
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            StderrCapture capture(stderrPath);
            BasicLogging::messageHandlerPointer(QtFatalMsg, QMessageLogContext(), QStringLiteral("board lost"));
            _exit(0); // only reached if the handler returned
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGABRT);

        QCOMPARE(fileLines(stderrPath).value(0), QStringLiteral("Fatal: board lost"));
        const QStringList lines = fileLines(logPath);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().endsWith(QStringLiteral(" QFatal: board lost")));
    }

    void writeMessageToLogFile_appendsVerbatim_orLosesLineSilently()
    {
        const QString text = QStringLiteral("100% done %1 %2 %s \u00e9");
        BasicLogging::writeMessageToLogFile(QStringLiteral("QDebug"), text);
        BasicLogging::writeMessageToLogFile(QStringLiteral("QWarning"), QStringLiteral("second"));
        const QStringList lines = fileLines(logPath);
        QCOMPARE(lines.size(), 2); // appended, not overwritten
        QCOMPARE(fileLinePattern.match(lines.at(0)).captured(3), text);
        QCOMPARE(fileLinePattern.match(lines.at(1)).captured(2), QStringLiteral("QWarning"));

        BasicLogging::setLogFilePath(tempDir->filePath(QStringLiteral("missing-dir/LogFile_Vatnode")));
        BasicLogging::writeMessageToLogFile(QStringLiteral("QDebug"), QStringLiteral("lost"));
        BasicLogging::setLogFilePath(QString());
        BasicLogging::writeMessageToLogFile(QStringLiteral("QDebug"), QStringLiteral("lost"));
        QVERIFY(!QFile::exists(tempDir->filePath(QStringLiteral("missing-dir"))));
    }

    void concurrentThreads_writeOnlyWholeLines()
    {
        constexpr int threadCount = 8;
        constexpr int messagesPerThread = 300;
        // Long lines make a torn write likely if lines were written in pieces.
        const QString padding(3000, QLatin1Char('x'));

        StderrCapture capture(tempDir->filePath(QStringLiteral("stderr")));
        BasicLogging logging(logPath);
        logging.setupBasicLogging();
        std::vector<std::unique_ptr<QThread>> threads;
        for (int thread = 0; thread < threadCount; ++thread) {
            threads.emplace_back(QThread::create([thread, &padding] {
                for (int message = 0; message < messagesPerThread; ++message) {
                    const QString text = QStringLiteral("thread %1 message %2 ").arg(thread).arg(message) + padding;
                    if (message % 2 == 0)
                        qDebug().noquote() << text;
                    else
                        qWarning().noquote() << text;
                }
            }));
            threads.back()->start();
        }
        for (auto &thread : threads)
            QVERIFY(thread->wait(60000));
        qInstallMessageHandler(previousHandler);

        // Every message once, whole, with the label of its type; on stderr as in the file.
        const QRegularExpression textPattern(QStringLiteral("^thread (\\d+) message (\\d+) x{3000}$"));
        QSet<QString> seen;
        for (const QString &line : fileLines(logPath)) {
            const QRegularExpressionMatch match = fileLinePattern.match(line);
            const QRegularExpressionMatch textMatch = textPattern.match(match.captured(3));
            QVERIFY2(match.hasMatch() && textMatch.hasMatch(), qPrintable(line.left(80)));
            QCOMPARE(match.captured(2), textMatch.captured(2).toInt() % 2 == 0 ? "QDebug" : "QWarning");
            seen.insert(textMatch.captured(1) + QLatin1Char('/') + textMatch.captured(2));
        }
        QCOMPARE(seen.size(), threadCount * messagesPerThread);
        QCOMPARE(fileLines(logPath).size(), threadCount * messagesPerThread);

        const QStringList stderrLines = capture.text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QRegularExpression stderrPattern(QStringLiteral("^(Debug|Warning): thread \\d+ message \\d+ x{3000}$"));
        QCOMPARE(stderrLines.filter(stderrPattern).size(), threadCount * messagesPerThread);
    }

private:
    std::unique_ptr<QTemporaryDir> tempDir;
    QString logPath;
    QtMessageHandler previousHandler = nullptr;
};

QTEST_GUILESS_MAIN(TestBasicLogging)
#include "tst_basiclogging.moc"
