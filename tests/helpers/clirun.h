#pragma once

// Runs tessora-cli as a user runs it and keeps what it printed.

#include "testpaths.h"

#include <QProcess>
#include <QStringList>

struct CliRun {
    int exitCode = -1; // -1 when it crashed or ran longer than two minutes
    QString out;
    QString err;

    QStringList errorLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

inline CliRun runCli(const QStringList &arguments)
{
    QProcess process;
    process.start(TestPaths::executable(QStringLiteral("tessora-cli")), arguments);
    CliRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
