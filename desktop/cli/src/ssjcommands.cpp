#include "ssjcommands.h"

#include "atomicfile.h"
#include "clicommands.h"
#include "crushedprintjob.h"
#include "islandcheck.h"
#include "jobvolume.h"
#include "printrule.h"
#include "printtime.h"
#include "progress.h"
#include "resincatalogue.h"
#include "ssj.h"
#include "trapcheck.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace SsjCommands {

namespace {

using TessoraCli::ExitFailure;
using TessoraCli::ExitSuccess;
using TessoraCli::ExitUsage;

constexpr double kDefaultThicknessMm = 0.05;

QString infoUsage()
{
    return QStringLiteral("  tessora-cli ssj info JOB [--json] [--printer-time] [--resin NAME] [--printer-75]\n");
}
QString exportUsage()
{
    return QStringLiteral("  tessora-cli ssj export JOB DIR\n");
}
QString islandsUsage()
{
    return QStringLiteral("  tessora-cli ssj islands JOB [--json] [--reach]\n");
}
QString trapsUsage()
{
    return QStringLiteral(
        "  tessora-cli ssj traps JOB [--json] [--min-volume MM3]\n"
        "      cavities that trap resin or suck at the platform; exit 1 when one holds more than\n"
        "      MM3 cubic millimetres (default 1: a microlitre neither bursts a part nor pulls it off)\n");
}
QString packUsage()
{
    return QStringLiteral(
        "  tessora-cli ssj pack IMAGE... -o JOB [--anti-aliased] [--thickness MM] [--description TEXT]\n");
}

int usageError(QTextStream &err, const QString &message, const QString &commandUsage)
{
    return TessoraCli::usageError(err, QStringLiteral("tessora-cli ssj"), message, commandUsage);
}

using TessoraCli::failure;

// Parses "ssj <command>" arguments; false (after the usage text) on bad usage.
bool parse(QCommandLineParser &parser, const QString &command, const QStringList &arguments,
    const QString &commandUsage, QTextStream &err)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList {QStringLiteral("tessora-cli ssj ") + command} + arguments)) {
        usageError(err, parser.errorText(), commandUsage);
        return false;
    }
    return true;
}

// Loads the job into the holder the printer uses; on failure the error line.
bool loadJob(const QString &path, QTextStream &err)
{
    if (!QFileInfo(path).isFile()) {
        failure(err, QStringLiteral("%1: no such job file").arg(path));
        return false;
    }
    if (!SSJ::loadCPJ(path)) {
        failure(err, QStringLiteral("%1: %2").arg(path, SSJ::m_pJob->errorString()));
        SSJ::releaseCPJ();
        return false;
    }
    return true;
}

// Lit-pixel bounding box over every stored layer of a grey job (these layers
// carry no bounds of their own). Null when nothing is lit. Adds the grey-weighted
// lit pixels to *litPixels on the way.
QRect greyBounds(CrushedPrintJob &job, QTextStream &err, double *litPixels)
{
    QRect bounds;
    Progress progress(err, QStringLiteral("reading layers"), job.storedLayers(), Progress::stderrIsTerminal());
    for (int i = 0; i < job.storedLayers(); ++i) {
        const CrushedAntiBitMap *map = job.getCBMSliceAnti(job.leadingBlankLayers() + i);
        const QImage decoded = map ? CrushedAntiBitMap::decodePng(map->png()) : QImage();
        *litPixels += JobVolume::greyPixels(decoded);
        const QImage layer = decoded.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < layer.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(layer.constScanLine(y));
            int first = -1;
            int last = -1;
            for (int x = 0; x < layer.width(); ++x) {
                if (line[x] != 0xFF000000u) {
                    if (first < 0)
                        first = x;
                    last = x;
                }
            }
            if (first >= 0)
                bounds |= QRect(QPoint(first, y), QPoint(last, y));
        }
        progress.update(i + 1);
    }
    return bounds;
}

// What a print of the job with one resin takes on the printer.
struct PrinterTime {
    PrintJob record; // the job line the desktop would send
    PrintTimeEstimate estimate;
};

// The job line that `tessora-cli print` would send for the resin to an uncalibrated printer of
// the job's pixel size (or a 75-micron one), timed as the printer runs it. False, with the
// refusal's words, when the job could not be printed so.
bool printerTime(const QString &path, const QString &resinName, bool printer75, PrinterTime *time, QString *refusal)
{
    PrintRule::JobFacts facts;
    if (!PrintRule::readJob(path, &facts, refusal))
        return false;
    PrinterState printer;
    printer.nickname = QStringLiteral("the printer");
    printer.model = printer75 || PrintRule::slicedForMicrons(facts.description) == 75 ? QStringLiteral("75")
                                                                                      : QStringLiteral("100");
    printer.resins = {Resin(resinName)}; // every calibration factor 1
    const PrintRule::Decision decision = PrintRule::jobForPrint(ResinCatalogue::builtIn(), printer, facts, resinName);
    if (!decision.accepted()) {
        *refusal = decision.refusal;
        return false;
    }
    time->record = decision.job;
    time->estimate = PrintTimeEstimate::of(decision.job);
    return true;
}

QJsonObject printerTimeJson(const PrinterTime &time)
{
    const PrintTimeEstimate &e = time.estimate;
    return QJsonObject {
        {QStringLiteral("resin"), time.record.resinName},
        {QStringLiteral("job"), time.record.toString()},
        {QStringLiteral("seconds"), e.totalSeconds()},
        {QStringLiteral("exposureSeconds"), e.exposureSeconds},
        {QStringLiteral("motionSeconds"), e.motionSeconds},
        {QStringLiteral("resetSeconds"), e.resetSeconds},
        {QStringLiteral("firstLayerWaitSeconds"), e.firstLayerWaitSeconds},
        {QStringLiteral("finishSeconds"), e.finishSeconds},
    };
}

QString printerTimeText(const PrinterTime &time)
{
    const PrintTimeEstimate &e = time.estimate;
    const auto number = [](double seconds) { return QString::number(seconds, 'f', 0); };
    return QStringLiteral("%1 with %2 (%3 s: exposures %4 s, tilts and moves %5 s, reset, first-layer wait and "
                          "finish %6 s)")
        .arg(e.text(), time.record.resinName, number(e.totalSeconds()), number(e.exposureSeconds),
            number(e.motionSeconds), number(e.resetSeconds + e.firstLayerWaitSeconds + e.finishSeconds));
}

// The resin the job cures, for the pixel size it was sliced for.
double volumeMl(const CrushedPrintJob &job, double litPixels)
{
    return JobVolume::millilitres(
        litPixels, PrintRule::pixelMillimetres(job.description()), job.layerThicknessText().toDouble());
}

QJsonObject infoJson(const CrushedPrintJob &job, const QRect &bounds)
{
    QJsonObject object;
    object.insert(QStringLiteral("version"), job.version());
    object.insert(QStringLiteral("name"), job.name());
    object.insert(QStringLiteral("description"), job.description());
    object.insert(QStringLiteral("layerThickness"), job.layerThicknessText().toDouble());
    object.insert(QStringLiteral("totalLayers"), job.getTotalLayers());
    object.insert(QStringLiteral("storedLayers"), job.storedLayers());
    object.insert(QStringLiteral("leadingBlankLayers"), job.leadingBlankLayers());
    object.insert(QStringLiteral("baseLayers"), job.baseLayers());
    object.insert(QStringLiteral("width"), job.largestWidth());
    object.insert(QStringLiteral("height"), job.largestHeight());
    object.insert(QStringLiteral("whitePixels"), double(job.totalWhitePixels()));
    // No lit pixel in any layer: no bounds.
    object.insert(QStringLiteral("bounds"),
        bounds.isNull() ? QJsonValue(QJsonValue::Null)
                        : QJsonValue(QJsonArray {bounds.left(), bounds.top(), bounds.right(), bounds.bottom()}));
    object.insert(QStringLiteral("supports"), int(job.supports().size()));
    object.insert(QStringLiteral("texts"), job.texts().size());
    return object;
}

void infoRow(QTextStream &out, const char *label, const QString &value)
{
    out << QStringLiteral("%1 %2\n").arg(QString::fromLatin1(label), -18).arg(value);
}

void writeInfoText(QTextStream &out, const QString &path, const CrushedPrintJob &job, const QRect &bounds)
{
    infoRow(out, "job file:", path);
    infoRow(out, "format version:",
        job.version() == 3 ? QStringLiteral("3 (anti-aliased grey layers, PNG)")
                           : QStringLiteral("1 (black-and-white bit-map layers)"));
    infoRow(out, "name:", job.name());
    infoRow(out, "description:", job.description());
    infoRow(out, "layer thickness:",
        QStringLiteral("%1 mm (%2 microns)")
            .arg(job.layerThicknessText())
            .arg(qRound(job.layerThicknessText().toDouble() * 1000)));
    infoRow(out, "layers:",
        QStringLiteral("%1 (%2 stored, %3 leading blank)")
            .arg(job.getTotalLayers())
            .arg(job.storedLayers())
            .arg(job.leadingBlankLayers()));
    infoRow(out, "base layers:", QString::number(job.baseLayers()));
    infoRow(out, "largest layer:", QStringLiteral("%1 x %2 pixels").arg(job.largestWidth()).arg(job.largestHeight()));
    infoRow(out, job.version() == 3 ? "lit pixels:" : "white pixels:", QString::number(job.totalWhitePixels()));
    infoRow(out, "bounds:",
        bounds.isNull() ? QStringLiteral("none (no lit pixel)")
                        : QStringLiteral("left %1, top %2, right %3, bottom %4")
                              .arg(bounds.left())
                              .arg(bounds.top())
                              .arg(bounds.right())
                              .arg(bounds.bottom()));
    infoRow(out, "supports:", QString::number(job.supports().size()));
    infoRow(out, "texts:", QString::number(job.texts().size()));
}

int info(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("JOB"), QStringLiteral("job file"));
    parser.addOption({QStringLiteral("json"), QStringLiteral("One JSON object.")});
    parser.addOption({QStringLiteral("printer-time"), QStringLiteral("The print's time on the printer.")});
    parser.addOption({QStringLiteral("resin"), QStringLiteral("Resin of the printer time (Clear)."),
        QStringLiteral("NAME"), QStringLiteral("Clear")});
    parser.addOption({QStringLiteral("printer-75"), QStringLiteral("Time it on a 75-micron printer.")});
    if (!parse(parser, QStringLiteral("info"), arguments, infoUsage(), err))
        return ExitUsage;
    if (parser.positionalArguments().size() != 1)
        return usageError(err, QStringLiteral("info takes one job file"), infoUsage());
    const QString path = parser.positionalArguments().first();
    if (!loadJob(path, err))
        return ExitFailure;
    const bool withTime = parser.isSet(QStringLiteral("printer-time")) || parser.isSet(QStringLiteral("resin"));
    PrinterTime time;
    QString refusal;
    if (withTime
        && !printerTime(
            path, parser.value(QStringLiteral("resin")), parser.isSet(QStringLiteral("printer-75")), &time, &refusal)) {
        SSJ::releaseCPJ();
        return failure(err, refusal);
    }

    CrushedPrintJob &job = *SSJ::m_pJob;
    QRect bounds;
    double litPixels = 0.0;
    if (job.version() == 3)
        bounds = greyBounds(job, err, &litPixels);
    else if (job.totalWhitePixels() > 0)
        bounds = job.whiteBounds();
    if (job.version() != 3)
        litPixels = JobVolume::litPixels(job);
    const double volume = volumeMl(job, litPixels);
    if (parser.isSet(QStringLiteral("json"))) {
        QJsonObject object = infoJson(job, bounds);
        object.insert(QStringLiteral("volumeMl"), volume);
        if (withTime)
            object.insert(QStringLiteral("printerTime"), printerTimeJson(time));
        out << QJsonDocument(object).toJson(QJsonDocument::Compact) << "\n";
    } else {
        writeInfoText(out, path, job, bounds);
        infoRow(out, "resin volume:", QStringLiteral("%1 ml").arg(volume, 0, 'f', 2));
        if (withTime)
            infoRow(out, "printer time:", printerTimeText(time));
    }
    SSJ::releaseCPJ();
    return ExitSuccess;
}

int exportLayers(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("JOB"), QStringLiteral("job file"));
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("folder for the layer images"));
    if (!parse(parser, QStringLiteral("export"), arguments, exportUsage(), err))
        return ExitUsage;
    if (parser.positionalArguments().size() != 2)
        return usageError(err, QStringLiteral("export takes a job file and a folder"), exportUsage());
    const QString path = parser.positionalArguments().at(0);
    const QDir dir(parser.positionalArguments().at(1));
    if (!loadJob(path, err))
        return ExitFailure;
    if (!QDir().mkpath(dir.path())) {
        SSJ::releaseCPJ();
        return failure(err, QStringLiteral("cannot create folder %1").arg(dir.path()));
    }

    const int total = SSJ::getNumImages();
    Progress progress(err, QStringLiteral("exporting layers"), total, Progress::stderrIsTerminal());
    for (int layer = 0; layer < total; ++layer) {
        const QImage image = SSJ::getOneImage(layer);
        const QString file = dir.filePath(QStringLiteral("layer_%1.png").arg(layer, 5, 10, QLatin1Char('0')));
        if (image.isNull()) {
            SSJ::releaseCPJ();
            return failure(err, QStringLiteral("layer %1 of %2 has no size to draw").arg(layer).arg(path));
        }
        const QImage opaque = image.convertToFormat(QImage::Format_RGB32);
        QString error;
        if (!AtomicFile::write(
                file, [&opaque](QIODevice *device) { return opaque.save(device, "PNG"); }, &error)) {
            SSJ::releaseCPJ();
            return failure(err, QStringLiteral("cannot write %1: %2").arg(file, error));
        }
        progress.update(layer + 1);
    }
    progress.finish();
    SSJ::releaseCPJ();
    out << "exported " << total << " layers to " << dir.path() << "\n";
    return ExitSuccess;
}

int pack(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("layer images, bottom first"));
    parser.addOption(
        {{QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("Job file to write."), QStringLiteral("JOB")});
    parser.addOption({QStringLiteral("anti-aliased"), QStringLiteral("Grey layers (format version 3).")});
    parser.addOption({QStringLiteral("thickness"), QStringLiteral("Layer thickness in millimetres."),
        QStringLiteral("MM"), QString::number(kDefaultThicknessMm)});
    parser.addOption({QStringLiteral("description"), QStringLiteral("Job description."), QStringLiteral("TEXT")});
    if (!parse(parser, QStringLiteral("pack"), arguments, packUsage(), err))
        return ExitUsage;
    const QStringList images = parser.positionalArguments();
    if (images.isEmpty())
        return usageError(err, QStringLiteral("pack needs at least one layer image"), packUsage());
    if (!parser.isSet(QStringLiteral("o")))
        return usageError(err, QStringLiteral("pack needs -o JOB"), packUsage());
    bool numeric = false;
    const double thickness = parser.value(QStringLiteral("thickness")).toDouble(&numeric);
    if (!numeric || thickness <= 0.0 || thickness > 1.0)
        return usageError(
            err, QStringLiteral("--thickness takes millimetres above 0 and at most 1, such as 0.05"), packUsage());

    const bool antiAliased = parser.isSet(QStringLiteral("anti-aliased"));
    CrushedPrintJob job;
    job.setVersion(antiAliased ? 3 : 1);
    job.setName(QStringLiteral("jobname"));
    const QString description = parser.value(QStringLiteral("description"));
    job.setDescription(description.isEmpty() ? QStringLiteral("jobdesc") : description);
    job.setReservedNumber(0.0);
    job.setLayerThickness(thickness);
    job.clearAll(0);

    Progress progress(err, QStringLiteral("packing layers"), images.size(), Progress::stderrIsTerminal());
    for (int i = 0; i < images.size(); ++i) {
        QImage image(images.at(i));
        if (image.isNull())
            return failure(err, QStringLiteral("cannot read image %1").arg(images.at(i)));
        const bool packed = antiAliased ? job.addAntiImage(&image) : job.addImage(&image);
        if (!packed)
            return failure(err,
                QStringLiteral("cannot pack image %1 (%2 x %3 pixels; at most 65535 x 65535)")
                    .arg(images.at(i))
                    .arg(image.width())
                    .arg(image.height()));
        progress.update(i + 1);
    }
    progress.finish();

    const QString target = parser.value(QStringLiteral("o"));
    if (!job.saveCPJ(target))
        return failure(err, QStringLiteral("cannot write %1: %2").arg(target, job.errorString()));
    out << "packed " << images.size() << " layers into " << target << " (format version " << job.version() << ", "
        << job.layerThicknessText() << " mm layers)\n";
    return ExitSuccess;
}

} // namespace

QString usage()
{
    return infoUsage() + exportUsage() + packUsage() + islandsUsage() + trapsUsage();
}

int islands(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("JOB"), QStringLiteral("job file"));
    parser.addOption({QStringLiteral("json"), QStringLiteral("One JSON array.")});
    parser.addOption({QStringLiteral("reach"), QStringLiteral("Also the largest reach beyond the layer below.")});
    if (!parse(parser, QStringLiteral("islands"), arguments, islandsUsage(), err))
        return ExitUsage;
    if (parser.positionalArguments().size() != 1)
        return usageError(err, QStringLiteral("islands takes one job file"), islandsUsage());
    const QString path = parser.positionalArguments().first();
    if (!loadJob(path, err))
        return ExitFailure;
    CrushedPrintJob &job = *SSJ::m_pJob;
    std::vector<IslandCheck::Island> found;
    IslandCheck::Reach reach;
    {
        Progress progress(err, QStringLiteral("checking layers"), job.getTotalLayers(), Progress::stderrIsTerminal());
        found = IslandCheck::find(job, parser.isSet(QStringLiteral("reach")) ? &reach : nullptr,
            [&](int done) { progress.update(done); });
    }
    int large = 0;
    for (const IslandCheck::Island &island : found)
        large += island.pixels > IslandCheck::kMinimumIslandPixels ? 1 : 0;

    if (parser.isSet(QStringLiteral("json"))) {
        QJsonArray array;
        for (const IslandCheck::Island &island : found) {
            QJsonObject object;
            object.insert(QStringLiteral("layer"), island.layer);
            object.insert(QStringLiteral("pixels"), double(island.pixels));
            object.insert(QStringLiteral("x"), island.x);
            object.insert(QStringLiteral("y"), island.y);
            array.append(object);
        }
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
    } else {
        for (const IslandCheck::Island &island : found) {
            out << "layer " << island.layer << ": " << island.pixels << " pixels at ("
                << QString::number(island.x, 'f', 1) << ", " << QString::number(island.y, 'f', 1) << ")\n";
        }
        out << found.size() << " island(s), " << large << " larger than " << IslandCheck::kMinimumIslandPixels
            << " pixels\n";
    }
    if (parser.isSet(QStringLiteral("reach"))) {
        // On standard error with --json, so that the array stays the whole output.
        QTextStream &stream = parser.isSet(QStringLiteral("json")) ? err : out;
        stream << "largest reach beyond the layer below: " << QString::number(reach.pixels, 'f', 1) << " pixels";
        if (reach.layer >= 0)
            stream << " (layer " << reach.layer << ")";
        stream << "\n";
    }
    SSJ::releaseCPJ();
    return large > 0 ? ExitFailure : ExitSuccess;
}

namespace {

QString kindName(TrapCheck::Kind kind)
{
    return kind == TrapCheck::Kind::SuctionCup ? QStringLiteral("suctionCup") : QStringLiteral("trappedResin");
}

void printCavities(const std::vector<TrapCheck::Cavity> &cavities, double minimum, bool json, QTextStream &out)
{
    if (json) {
        QJsonArray array;
        for (const TrapCheck::Cavity &cavity : cavities) {
            array.append(QJsonObject {{QStringLiteral("kind"), kindName(cavity.kind)},
                {QStringLiteral("volumeMm3"), cavity.volumeMm3}, {QStringLiteral("pixels"), double(cavity.pixels)},
                {QStringLiteral("firstLayer"), cavity.firstLayer}, {QStringLiteral("lastLayer"), cavity.lastLayer},
                {QStringLiteral("x"), cavity.x}, {QStringLiteral("y"), cavity.y}});
        }
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
        return;
    }
    // A mesh's own slivers leave specks of a pixel or two: only what holds more than the
    // minimum is listed, the rest counted.
    for (const TrapCheck::Cavity &cavity : cavities) {
        if (cavity.volumeMm3 <= minimum)
            continue;
        out << "layers " << cavity.firstLayer << "-" << cavity.lastLayer << ": "
            << (cavity.kind == TrapCheck::Kind::SuctionCup ? "suction cup" : "trapped resin") << ", "
            << QString::number(cavity.volumeMm3, 'f', 2) << " mm^3 (" << cavity.pixels << " pixels) at (" << cavity.x
            << ", " << cavity.y << ")\n";
    }
    const int larger = TrapCheck::countLarger(cavities, minimum);
    out << cavities.size() << " cavity(ies), " << larger << " larger than " << minimum << " mm^3";
    if (size_t(larger) < cavities.size())
        out << " (the " << cavities.size() - size_t(larger) << " others not listed; --min-volume 0 lists them)";
    out << "\n";
}

int traps(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("JOB"), QStringLiteral("job file"));
    parser.addOption({QStringLiteral("json"), QStringLiteral("One JSON array.")});
    parser.addOption({QStringLiteral("min-volume"), QStringLiteral("Cavities up to this volume pass."),
        QStringLiteral("MM3"), QString::number(TrapCheck::kMinimumVolumeMm3)});
    if (!parse(parser, QStringLiteral("traps"), arguments, trapsUsage(), err))
        return ExitUsage;
    if (parser.positionalArguments().size() != 1)
        return usageError(err, QStringLiteral("traps takes one job file"), trapsUsage());
    bool numeric = false;
    const double minimum = parser.value(QStringLiteral("min-volume")).toDouble(&numeric);
    if (!numeric || minimum < 0.0)
        return usageError(
            err, QStringLiteral("--min-volume takes cubic millimetres, 0 or more, such as 1"), trapsUsage());
    const QString path = parser.positionalArguments().first();
    if (!loadJob(path, err))
        return ExitFailure;
    CrushedPrintJob &job = *SSJ::m_pJob;
    const double pixel = PrintRule::pixelMillimetres(job.description());
    std::vector<TrapCheck::Cavity> found;
    {
        Progress progress(err, QStringLiteral("checking layers"), job.getTotalLayers(), Progress::stderrIsTerminal());
        found = TrapCheck::find(job, pixel, [&](int done) { progress.update(done); });
    }
    SSJ::releaseCPJ();
    printCavities(found, minimum, parser.isSet(QStringLiteral("json")), out);
    return TrapCheck::countLarger(found, minimum) > 0 ? ExitFailure : ExitSuccess;
}

} // namespace

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("info"))
        return info(rest, out, err);
    if (command == QLatin1String("export"))
        return exportLayers(rest, out, err);
    if (command == QLatin1String("pack"))
        return pack(rest, out, err);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out << "usage:\n" << usage();
        return ExitSuccess;
    }
    if (command == QLatin1String("islands"))
        return islands(rest, out, err);
    if (command == QLatin1String("traps"))
        return traps(rest, out, err);
    err << (command.isEmpty() ? QStringLiteral("tessora-cli ssj: missing command")
                              : QStringLiteral("tessora-cli ssj: unknown command '%1'").arg(command))
        << "\n\nusage:\n"
        << usage();
    return ExitUsage;
}

} // namespace SsjCommands
