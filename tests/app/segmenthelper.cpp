// Leaves a shared segment behind the way a crashed process does: creates it,
// optionally fills it, and ends without letting go of it.
//
//   app_segmenthelper KEY SIZE [CONTENT]
//
// Exit status 0 when the segment was left behind, 1 otherwise.
#include <QByteArray>
#include <QSharedMemory>
#include <QString>

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: app_segmenthelper KEY SIZE [CONTENT]\n");
        return 2;
    }
    const QString key = QString::fromLocal8Bit(argv[1]);
    const int size = QByteArray(argv[2]).toInt();
    const QByteArray content = argc > 3 ? QByteArray(argv[3]) : QByteArray();

    auto *segment = new QSharedMemory(key); // never destroyed: it would detach
    if (!segment->create(size, QSharedMemory::ReadWrite)) {
        std::fprintf(stderr, "error: %s\n", qPrintable(segment->errorString()));
        return 1;
    }
    std::memcpy(segment->data(), content.constData(), static_cast<size_t>(qMin(size, content.size())));
    std::fflush(stdout);
    _exit(0); // no destructors, no detach: the segment outlives the process
}
