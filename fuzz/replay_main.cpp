// Replays inputs through a fuzz target's entry point without libFuzzer: the normal build's
// way of keeping the seed corpus and every input that once failed under test.
//
//     replay_<target> PATH...
//
// A PATH is a file or a folder (its files, not recursing, in name order; names starting
// with "." are skipped). Each input runs once, in a child process of its own, so that one
// failing input does not hide the next: a broken rule, a crash, a sanitizer report (leaks
// included, when the build has LeakSanitizer) or more than FUZZ_REPLAY_TIMEOUT seconds
// (default 120) fail that input. The program names every failed input and fails when
// there was one. A PATH that does not exist is a failure too, so that a moved corpus is
// noticed.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// Runs in the child: 0 when the input went through.
int runFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return 1;
    }
    const QByteArray data = file.readAll();
    QElapsedTimer clock;
    clock.start();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
    const qint64 ms = clock.elapsed();
    if (ms > 1000)
        std::fprintf(stderr, "  slow: %lld ms\n", static_cast<long long>(ms));
    return 0;
}

// True when the input went through; otherwise says how it failed.
bool replay(const QString &path, unsigned timeoutSeconds)
{
    std::fprintf(stderr, "input %s (%lld bytes)\n", qPrintable(path), static_cast<long long>(QFileInfo(path).size()));
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return false;
    }
    if (child == 0) {
        alarm(timeoutSeconds);
        const int status = runFile(path);
        std::fflush(stderr);
        // A normal exit, so that LeakSanitizer looks for leaks.
        std::exit(status);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) {
        std::perror("waitpid");
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        std::fprintf(stderr, "FAILED %s: more than %u s\n", qPrintable(path), timeoutSeconds);
    else if (WIFSIGNALED(status))
        std::fprintf(stderr, "FAILED %s: signal %d\n", qPrintable(path), WTERMSIG(status));
    else
        std::fprintf(stderr, "FAILED %s: exit status %d\n", qPrintable(path), WEXITSTATUS(status));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    const int timeout
        = qEnvironmentVariableIsSet("FUZZ_REPLAY_TIMEOUT") ? qEnvironmentVariableIntValue("FUZZ_REPLAY_TIMEOUT") : 120;
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        const QFileInfo info(path);
        if (!info.exists()) {
            std::fprintf(stderr, "no such file or folder: %s\n", qPrintable(path));
            return 1;
        }
        if (info.isDir()) {
            const QDir dir(path);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                files << dir.filePath(name);
        } else {
            files << path;
        }
    }
    QStringList failed;
    for (const QString &file : files) {
        if (!replay(file, unsigned(timeout > 0 ? timeout : 120)))
            failed << file;
    }
    std::fprintf(stderr, "replayed %d inputs, %d failed\n", int(files.size()), int(failed.size()));
    for (const QString &file : failed)
        std::fprintf(stderr, "  failed: %s\n", qPrintable(file));
    return files.isEmpty() || !failed.isEmpty() ? 1 : 0;
}
