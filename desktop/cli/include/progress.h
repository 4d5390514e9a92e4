#pragma once

#include <QElapsedTimer>
#include <QString>

class QTextStream;

// Progress of long work on standard error: a redrawn bar on a terminal, plain
// lines (at most one per tenth of the work) otherwise.
class Progress
{
public:
    Progress(QTextStream &stream, const QString &label, qint64 total, bool terminal);
    ~Progress();

    void update(qint64 done);
    void finish();

    // Whether standard error is a terminal.
    static bool stderrIsTerminal();

private:
    QTextStream &m_stream;
    QString m_label;
    qint64 m_total;
    bool m_terminal;
    bool m_finished = false;
    int m_lastTenth = -1;
    int m_lastPercent = -1;
};
