#include "logcapture.h"

namespace {

QStringList capturedLines;

void captureLine(QtMsgType, const QMessageLogContext &, const QString &message)
{
    capturedLines.append(message);
}

} // namespace

LogCapture::LogCapture()
{
    capturedLines.clear();
    m_previous = qInstallMessageHandler(&captureLine);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    capturedLines.clear();
}

QStringList LogCapture::lines() const
{
    return capturedLines;
}
