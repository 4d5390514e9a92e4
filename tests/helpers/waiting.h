#pragma once

// Waiting for a condition with the event loop running, and the small file chores of the
// tests that drive sessions and programs.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <functional>

// How long a test waits for a condition before it fails: long enough for a machine loaded
// by parallel builds and tests, which is no cost when the condition comes at once.
namespace TestPatience {
inline constexpr int kWaitMs = 60000;
} // namespace TestPatience

// Runs the event loop until `condition` holds or `ms` passed. The condition is asked once
// a round (it may act, as a desktop announcing itself does), every 20 ms: a condition that
// reads a whole log file must leave the event loop time for the work it waits for.
inline bool waitFor(const std::function<bool()> &condition, int ms = 10000)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (condition())
            return true;
        if (clock.elapsed() >= ms)
            return false;
        QTest::qWait(20);
    }
}

// The whole file, empty when it cannot be read.
inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes `bytes` as the whole file, making its folder first.
inline bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
