#pragma once

#include <QStringList>
#include <QtGlobal>

// Captures the log lines (qDebug, qWarning, ...) written while it is alive, instead of
// printing them. Only one may be alive at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;

private:
    QtMessageHandler m_previous = nullptr;
};
