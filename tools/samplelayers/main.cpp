// Writes the layer images of a sample part as PNG files, for the demo and for
// anyone trying the job file commands without a slicer.
#include "samplelayers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes DIR/layer_00000.png ... of a sample part."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("folder for the images"));
    parser.addOption({QStringLiteral("count"), QStringLiteral("Number of layers (default 40)."), QStringLiteral("N"),
        QStringLiteral("40")});
    parser.addOption({QStringLiteral("anti-aliased"), QStringLiteral("Grey edges.")});
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);

    bool ok = false;
    const int count = parser.value(QStringLiteral("count")).toInt(&ok);
    if (!ok || count < 1 || count > 100000) {
        std::fprintf(stderr, "error: --count takes a number from 1 to 100000\n");
        return 2;
    }
    const QDir dir(parser.positionalArguments().first());
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "error: cannot create %s\n", qPrintable(dir.path()));
        return 1;
    }
    const bool antiAliased = parser.isSet(QStringLiteral("anti-aliased"));
    for (int i = 0; i < count; ++i) {
        const QString file = dir.filePath(QStringLiteral("layer_%1.png").arg(i, 5, 10, QLatin1Char('0')));
        if (!SampleLayers::layer(i, count, antiAliased).save(file, "PNG")) {
            std::fprintf(stderr, "error: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    std::printf("wrote %d layers to %s\n", count, qPrintable(dir.path()));
    return 0;
}
