// Replays inputs through a fuzz target's entry point without libFuzzer: the normal build's
// way of keeping the seed corpus and every input that once failed under test.
//
//     replay_<target> PATH...
//
// A PATH is a file or a folder (its files, not recursing, in name order; names starting
// with "." are skipped). The inputs run one after the other in this process, as libFuzzer
// runs a corpus: a broken rule, a crash, a sanitizer report (leaks included, at the end,
// when the build has LeakSanitizer) or more than FUZZ_REPLAY_TIMEOUT seconds (default
// 120) on one input end the program with a failure, the input it was at named last in
// its output. A PATH that does not exist is a failure too, so that a moved corpus is
// noticed.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    const int timeout = qEnvironmentVariableIntValue("FUZZ_REPLAY_TIMEOUT");
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo info(QString::fromLocal8Bit(argv[i]));
        if (!info.exists()) {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
            return 1;
        }
        // Absolute: a target may change its working folder.
        if (info.isDir()) {
            const QDir dir(info.absoluteFilePath());
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                files << dir.filePath(name);
        } else {
            files << info.absoluteFilePath();
        }
    }
    for (const QString &path : qAsConst(files)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "FAILED %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
            return 1;
        }
        const QByteArray data = file.readAll();
        std::fprintf(stderr, "input %s (%d bytes)\n", qPrintable(path), int(data.size()));
        std::fflush(stderr);
        // SIGALRM ends the program: the input named last took too long.
        alarm(unsigned(timeout > 0 ? timeout : 120));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
    }
    alarm(0);
    std::fprintf(stderr, "replayed %d inputs\n", int(files.size()));
    return files.isEmpty() ? 1 : 0;
}
