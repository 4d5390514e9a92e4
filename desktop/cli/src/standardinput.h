#pragma once

#include <QByteArray>

#include <functional>
#include <memory>

class QObject;
class QSocketNotifier;

// The lines typed on standard input, each handed trimmed to `line` (in `context`'s thread) as
// it comes, for as long as the returned notifier lives; the end of the input stops it.
std::unique_ptr<QSocketNotifier> readStandardInputLines(
    QObject *context, const std::function<void(const QByteArray &line)> &line);
