#include "standardinput.h"

#include <QSocketNotifier>

#include <unistd.h>

std::unique_ptr<QSocketNotifier> readStandardInputLines(
    QObject *context, const std::function<void(const QByteArray &line)> &line)
{
    auto input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QSocketNotifier *notifier = input.get();
    QObject::connect(notifier, &QSocketNotifier::activated, context, [notifier, line] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            notifier->setEnabled(false);
            return;
        }
        for (const QByteArray &typed : QByteArray(buffer, int(got)).split('\n'))
            line(typed.trimmed());
    });
    return input;
}
