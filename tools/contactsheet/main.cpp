// Draws the contact sheet of a print: a few layers of a job, each as vatnode
// projected it (its saved frame) next to the sliced layer, for the demo and for
// anyone checking a print by eye.
#include "contactsheet.h"

#include "crushedprintjob.h"
#include "ssj.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "error: %s\n", qPrintable(message));
    SSJ::releaseCPJ();
    return 1;
}

// Pairs `count` lit layers, spread over the print, with their lit frames.
QList<ContactSheet::Pair> pairs(const QList<int> &layers, const QStringList &frames, const QList<int> &lit, int count)
{
    QList<ContactSheet::Pair> result;
    for (const int i : ContactSheet::spread(qMin(layers.size(), lit.size()), count)) {
        ContactSheet::Pair pair;
        pair.layer = layers.at(i);
        pair.frame = lit.at(i) + 1;
        pair.frameImage = QImage(frames.at(lit.at(i)));
        pair.layerImage = SSJ::getOneImage(pair.layer);
        result << pair;
    }
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // draws into an image only: no display needed
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws a contact sheet of a print from its job and frames."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("JOB"), QStringLiteral("the printed job file"));
    parser.addPositionalArgument(QStringLiteral("FRAMES"), QStringLiteral("vatnode's --frames-dir folder"));
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("The sheet (PNG)."),
        QStringLiteral("SHEET")});
    parser.addOption({QStringLiteral("count"), QStringLiteral("Layers shown (default 8)."), QStringLiteral("N"),
        QStringLiteral("8")});
    parser.process(app);
    bool ok = false;
    const int count = parser.value(QStringLiteral("count")).toInt(&ok);
    if (parser.positionalArguments().size() != 2 || !parser.isSet(QStringLiteral("output")) || !ok || count < 1
        || count > 64) {
        std::fprintf(stderr, "usage: ssj-contact-sheet JOB FRAMES -o SHEET [--count N (1 to 64)]\n");
        return 2;
    }
    const QString jobPath = parser.positionalArguments().at(0);
    const QString framesDir = parser.positionalArguments().at(1);
    if (!QFileInfo(jobPath).isFile())
        return fail(QStringLiteral("%1: no such job file").arg(jobPath));
    if (!SSJ::loadCPJ(jobPath))
        return fail(QStringLiteral("%1: %2").arg(jobPath, SSJ::m_pJob->errorString()));

    const QList<int> layers = ContactSheet::litLayers(*SSJ::m_pJob);
    const QStringList frames = ContactSheet::frameFiles(framesDir);
    QString error;
    const QList<int> lit = ContactSheet::litFrames(frames, &error);
    if (!error.isEmpty())
        return fail(error);
    if (layers.isEmpty() || lit.isEmpty())
        return fail(QStringLiteral("no lit %1 to show").arg(layers.isEmpty() ? QStringLiteral("layer in %1").arg(jobPath)
                                                                             : QStringLiteral("frame in %1").arg(framesDir)));
    if (layers.size() != lit.size())
        std::fprintf(stderr, "note: %d lit layers but %d lit frames: the print did not show every layer once\n",
            int(layers.size()), int(lit.size()));

    const QString title = QStringLiteral("%1: %2 layers of %3 mm, %4 frames (layers counted from 0)")
                              .arg(QFileInfo(jobPath).fileName())
                              .arg(SSJ::getNumImages())
                              .arg(SSJ::m_pJob->layerThicknessText())
                              .arg(frames.size());
    const QImage sheet = ContactSheet::draw(title, pairs(layers, frames, lit, count));
    const QString output = parser.value(QStringLiteral("output"));
    if (!sheet.save(output, "PNG"))
        return fail(QStringLiteral("cannot write %1").arg(output));
    std::printf("contact sheet: %s (%d x %d)\n", qPrintable(output), sheet.width(), sheet.height());
    SSJ::releaseCPJ();
    return 0;
}
