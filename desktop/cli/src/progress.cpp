#include "progress.h"

#include <QTextStream>

#include <cstdio>
#include <unistd.h>

Progress::Progress(QTextStream &stream, const QString &label, qint64 total, bool terminal)
    : m_stream(stream)
    , m_label(label)
    , m_total(qMax<qint64>(0, total))
    , m_terminal(terminal)
{
}

Progress::~Progress()
{
    // Work that stopped early leaves its bar where it stood, on a line of its own.
    if (!m_finished && m_terminal && m_lastPercent >= 0) {
        m_stream << '\n';
        m_stream.flush();
    }
}

bool Progress::stderrIsTerminal()
{
    return isatty(fileno(stderr)) == 1;
}

void Progress::update(qint64 done)
{
    if (m_finished)
        return;
    done = qBound<qint64>(0, done, m_total);
    const int percent = m_total > 0 ? int(done * 100 / m_total) : 100;
    if (m_terminal) {
        if (percent == m_lastPercent)
            return;
        m_lastPercent = percent;
        constexpr int width = 30;
        const int filled = percent * width / 100;
        m_stream << '\r' << m_label << " [" << QString(filled, QLatin1Char('#'))
                 << QString(width - filled, QLatin1Char(' ')) << "] " << done << '/' << m_total;
        m_stream.flush();
        return;
    }
    const int tenth = percent / 10;
    if (tenth == m_lastTenth)
        return;
    m_lastTenth = tenth;
    m_stream << m_label << ": " << done << '/' << m_total << " (" << percent << "%)\n";
    m_stream.flush();
}

void Progress::finish()
{
    if (m_finished)
        return;
    update(m_total);
    m_finished = true;
    if (m_terminal) {
        m_stream << '\n';
        m_stream.flush();
    }
}
