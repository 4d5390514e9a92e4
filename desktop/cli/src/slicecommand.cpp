#include "slicecommand.h"

#include "cdlpmain.h"
#include "clicommands.h"
#include "genslices.h"
#include "meshgeometry.h"
#include "meshimporter.h"
#include "progress.h"
#include "userimportedmeshsupports.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRectF>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <vector>

namespace SliceCommand {

namespace {

using TessoraCli::ExitFailure;
using TessoraCli::ExitSuccess;
using TessoraCli::ExitUsage;

// The build platform, in millimetres: 128 x 80 on the 100-micron printer, 96 x 60 on
// the 75-micron one (the same 1280 x 800 pixels).
constexpr double kPlatformWidth100 = 128.0;
constexpr double kPlatformDepth100 = 80.0;
constexpr double kPlacementStep = 10.0;
constexpr double kModelGap = 2.0;

QString commandUsage()
{
    return QStringLiteral("  tessora-cli slice MODEL... -o JOB [--layer 20|50|100] [--anti-aliased] [--printer-75]\n"
                          "                    [--supports] [--density D] [--strength S] [--threads N] [--timings]\n"
                          "                    [--no-lift] [--raft]\n");
}

struct PlacedModel {
    QString path;
    std::unique_ptr<MeshGeometry> geometry;
    QRectF footprint; // x and z on the platform, after placement
};

// Where the editor puts models: a single model in the middle of the platform; several
// at the first free spot of a 10 mm grid from the platform's corner.
bool place(std::vector<PlacedModel> &models, double platformWidth, double platformDepth, QString *error)
{
    const QRectF platform(-platformWidth / 2, -platformDepth / 2, platformWidth, platformDepth);
    std::vector<QRectF> taken;
    for (PlacedModel &model : models) {
        const MeshGeometry &g = *model.geometry;
        const QSizeF size(g.extent(0), g.extent(2));
        QPointF centre;
        bool found = false;
        if (models.size() == 1) {
            found = true;
        } else {
            for (double z = platform.top() + size.height() / 2; !found && z + size.height() / 2 <= platform.bottom();
                 z += kPlacementStep) {
                for (double x = platform.left() + size.width() / 2; x + size.width() / 2 <= platform.right();
                     x += kPlacementStep) {
                    const QRectF box(x - size.width() / 2, z - size.height() / 2, size.width(), size.height());
                    bool free = true;
                    for (const QRectF &other : taken)
                        free = free && !box.adjusted(-kModelGap, -kModelGap, kModelGap, kModelGap).intersects(other);
                    if (free) {
                        centre = QPointF(x, z);
                        found = true;
                        break;
                    }
                }
            }
        }
        if (!found) {
            *error = QStringLiteral("%1 does not fit on the platform next to the other models")
                         .arg(QFileInfo(model.path).fileName());
            return false;
        }
        // Centre the box over the spot and sit the model on the platform (y = 0).
        const QVector3D shift(float(centre.x() - (g.minX() + g.maxX()) / 2), float(-g.minY()),
            float(centre.y() - (g.minZ() + g.maxZ()) / 2));
        for (MeshTriangle *t : g.triangles()) {
            t->a += shift;
            t->b += shift;
            t->c += shift;
        }
        model.footprint
            = QRectF(centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height());
        taken.push_back(model.footprint);
    }
    return true;
}

// The process's peak resident memory so far, in MB (Linux; -1 elsewhere).
double peakMemoryMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1.0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1.0;
}

// Supports for one model, centred on the origin in the editor's frame (millimetres, y
// up): the engine gets it in inches with z up, the model is raised by the engine's lift
// and the supports are added to its triangles. Returns the number of supports.
// `platform` is the engine's no-lift and raft choice.
int addSupports(QList<MeshTriangle *> &triangles, int density, int strength, std::pair<bool, bool> platform,
    QTextStream &err, bool terminal, bool timings)
{
    std::vector<MeshTriangle> engineFrame;
    engineFrame.reserve(size_t(triangles.size()));
    for (const MeshTriangle *t : triangles) {
        MeshTriangle e;
        e.a = UserImportedMeshSupports::toEngineFrame(t->a);
        e.b = UserImportedMeshSupports::toEngineFrame(t->b);
        e.c = UserImportedMeshSupports::toEngineFrame(t->c);
        e.normal = MeshImporter::facetNormal(e.a, e.b, e.c);
        engineFrame.push_back(e);
    }
    QList<MeshTriangle *> input;
    for (MeshTriangle &t : engineFrame)
        input << &t;
    // The command line takes the engine's levels themselves (the editor's density is
    // turned into a level first).
    CDLPMain engine;
    engine.setPlatformOptions(platform.first, platform.second);
    Progress bar(err, QStringLiteral("supports"), 100, terminal);
    engine.generate(input, QVector3D(1, 1, 1), QVector3D(), QVector3D(), 0.1, 0.5, density, strength, false,
        [&](int percent) { bar.update(percent); });
    bar.finish();
    if (timings) {
        const CDLPMain::Timings &t = engine.timings();
        err << "support timings (ms): model " << QString::number(t.modelMs, 'f', 1) << ", sampling "
            << QString::number(t.samplingMs, 'f', 1) << " (" << t.surfels << " samples), depth images "
            << QString::number(t.depthImagesMs, 'f', 1) << ", layer sweep " << QString::number(t.sweepMs, 'f', 1)
            << ", columns " << QString::number(t.columnsMs, 'f', 1) << "\n";
    }

    const float lift = float(engine.liftHeight() * 25.4);
    for (MeshTriangle *t : triangles) {
        t->a.setY(t->a.y() + lift);
        t->b.setY(t->b.y() + lift);
        t->c.setY(t->c.y() + lift);
    }
    for (const MeshTriangle &s : engine.supportMesh()) {
        auto *t = new MeshTriangle;
        t->a = UserImportedMeshSupports::fromEngineFrame(s.a);
        t->b = UserImportedMeshSupports::fromEngineFrame(s.b);
        t->c = UserImportedMeshSupports::fromEngineFrame(s.c);
        t->normal = MeshImporter::facetNormal(t->a, t->b, t->c);
        triangles << t;
    }
    return int(engine.supports().size());
}

// What the command line asks for.
struct SliceOptions {
    QStringList modelPaths;
    QString jobPath;
    int microns = 50;
    bool supports = false;
    int density = 50;
    int strength = 50;
    int threads = 0;
    bool antiAliased = false;
    bool printer75 = false;
    bool timings = false;
    bool noLift = false; // with supports: the model's base on the platform
    bool raft = false;

    // The 75-micron printer's platform is three quarters of the 100-micron one.
    double platformScale() const { return printer75 ? 0.75 : 1.0; }
};

// Reads the command line into `options`; false, with the usage text written and the
// exit status in `exitStatus`, when it is wrong.
bool parseOptions(const QStringList &arguments, QTextStream &err, SliceOptions *options, int *exitStatus)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("JOB")});
    parser.addOption({QStringLiteral("layer"), QString(), QStringLiteral("MICRONS"), QStringLiteral("50")});
    parser.addOption({QStringLiteral("anti-aliased"), QString()});
    parser.addOption({QStringLiteral("printer-75"), QString()});
    parser.addOption({QStringLiteral("supports"), QString()});
    parser.addOption({QStringLiteral("density"), QString(), QStringLiteral("D"), QStringLiteral("50")});
    parser.addOption({QStringLiteral("strength"), QString(), QStringLiteral("S"), QStringLiteral("50")});
    parser.addOption({QStringLiteral("threads"), QString(), QStringLiteral("N"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("timings"), QString()});
    parser.addOption({QStringLiteral("no-lift"), QString()});
    parser.addOption({QStringLiteral("raft"), QString()});
    const QString name = QStringLiteral("tessora-cli slice");
    const auto refuse = [&](const QString &message) {
        *exitStatus = TessoraCli::usageError(err, name, message, commandUsage());
        return false;
    };
    if (!parser.parse(QStringList {name} + arguments))
        return refuse(parser.errorText());
    options->modelPaths = parser.positionalArguments();
    if (options->modelPaths.isEmpty())
        return refuse(QStringLiteral("no model given"));
    if (!parser.isSet(QStringLiteral("o")))
        return refuse(QStringLiteral("-o JOB is required"));
    options->jobPath = parser.value(QStringLiteral("o"));
    options->microns = parser.value(QStringLiteral("layer")).toInt();
    if (options->microns != 20 && options->microns != 50 && options->microns != 100)
        return refuse(QStringLiteral("--layer takes 20, 50 or 100"));
    options->noLift = parser.isSet(QStringLiteral("no-lift"));
    options->raft = parser.isSet(QStringLiteral("raft"));
    // Both shape the supports, and ask for them.
    options->supports = parser.isSet(QStringLiteral("supports")) || options->noLift || options->raft;
    bool levelsOk = false;
    options->density = parser.value(QStringLiteral("density")).toInt(&levelsOk);
    if (!levelsOk || options->density < 0 || options->density > 100)
        return refuse(QStringLiteral("--density takes 0 to 100"));
    options->strength = parser.value(QStringLiteral("strength")).toInt(&levelsOk);
    if (!levelsOk || options->strength < 0 || options->strength > 100)
        return refuse(QStringLiteral("--strength takes 0 to 100"));
    bool threadsOk = false;
    options->threads = parser.value(QStringLiteral("threads")).toInt(&threadsOk);
    if (!threadsOk || options->threads < 0)
        return refuse(QStringLiteral("--threads takes a count"));
    options->antiAliased = parser.isSet(QStringLiteral("anti-aliased"));
    options->printer75 = parser.isSet(QStringLiteral("printer-75"));
    options->timings = parser.isSet(QStringLiteral("timings"));
    return true;
}

// Whether the model's footprint (x and z) fits on the platform, wherever it is placed.
bool fitsPlatform(const QList<MeshTriangle *> &triangles, double platformScale)
{
    float low[2] = {1e30f, 1e30f};
    float high[2] = {-1e30f, -1e30f};
    for (const MeshTriangle *t : triangles) {
        for (const QVector3D *v : {&t->a, &t->b, &t->c}) {
            low[0] = std::min(low[0], v->x());
            high[0] = std::max(high[0], v->x());
            low[1] = std::min(low[1], v->z());
            high[1] = std::max(high[1], v->z());
        }
    }
    return high[0] - low[0] <= kPlatformWidth100 * platformScale
        && high[1] - low[1] <= kPlatformDepth100 * platformScale;
}

// Imports one model in the editor's frame, with its supports when asked, and appends
// it to `models`; the reason when it cannot.
QString importModel(
    const QString &path, const SliceOptions &options, QTextStream &err, bool terminal, std::vector<PlacedModel> &models)
{
    if (!MeshImporter::isSupportedFile(path))
        return QStringLiteral("%1: not an STL or OBJ file").arg(path);
    std::unique_ptr<Progress> bar;
    MeshImporter importer(path, [&](int percent) {
        if (!bar)
            bar = std::make_unique<Progress>(
                err, QStringLiteral("importing ") + QFileInfo(path).fileName(), 100, terminal);
        bar->update(percent);
    });
    bar.reset();
    if (importer.error() != MeshImporter::Error::None)
        return QStringLiteral("%1: %2").arg(path, importer.errorString());
    QList<MeshTriangle *> triangles = importer.takeTriangles();
    MeshGeometry::orientForEditor(triangles);
    PlacedModel model;
    model.path = path;
    if (options.supports) {
        // A model too large for the platform is refused before its supports are built.
        if (!fitsPlatform(triangles, options.platformScale())) {
            qDeleteAll(triangles);
            return QStringLiteral("%1 does not fit on the platform").arg(path);
        }
        const int count = addSupports(triangles, options.density, options.strength, {options.noLift, options.raft}, err,
            terminal, options.timings);
        err << path << ": " << count << " supports\n";
    }
    model.geometry = std::make_unique<MeshGeometry>(triangles);
    err << path << ": " << model.geometry->triangles().size() << " triangles, "
        << QString::number(model.geometry->extent(0), 'f', 2) << " x "
        << QString::number(model.geometry->extent(2), 'f', 2) << " x "
        << QString::number(model.geometry->extent(1), 'f', 2) << " mm\n";
    models.push_back(std::move(model));
    return QString();
}

// The scene's print triangles. On the 75-micron printer horizontal distances are
// counted in 0.075 mm units; heights stay in millimetres.
QList<MeshTriangle *> printTriangles(const std::vector<PlacedModel> &models, bool printer75)
{
    QList<MeshTriangle *> scene;
    for (const PlacedModel &model : models)
        scene += model.geometry->triangles();
    if (printer75) {
        const QVector3D factor(4.0f / 3.0f, 1.0f, 4.0f / 3.0f);
        for (MeshTriangle *t : scene) {
            t->a *= factor;
            t->b *= factor;
            t->c *= factor;
            t->normal = MeshImporter::facetNormal(t->a, t->b, t->c);
        }
    }
    return scene;
}

// Slices the scene as the editor does and writes the job; false with the slicer's
// errorString().
bool sliceScene(
    const QList<MeshTriangle *> &scene, const SliceOptions &options, QTextStream &err, bool terminal, GenSlices &slicer)
{
    slicer.setThreadCount(options.threads);
    Progress bar(err, QStringLiteral("slicing"), 100, terminal);
    GenSlices::Settings settings;
    settings.layerThickness = options.microns * 0.001;
    settings.rotation = QVector3D(90, 0, 0);
    settings.antialias = options.antiAliased;
    settings.jobDescription
        = options.printer75 ? QStringLiteral("sliced at 75 microns") : QStringLiteral("sliced at 100 microns");
    const bool ok = slicer.saveSlices(scene, options.jobPath, settings, [&](int percent) { bar.update(percent); });
    bar.finish();
    return ok;
}

void reportTimings(QTextStream &err, const GenSlices::Timings &t, qint64 importMs, double importPeakMb)
{
    err << "timings (ms): import " << importMs << ", preparation " << t.prepareMs << ", layers " << t.layersWallMs
        << " wall (slicing " << t.sliceMs << " and packing " << t.packMs << " over the threads), writing " << t.writeMs
        << "\n";
    err << "peak memory (MB): " << QString::number(importPeakMb, 'f', 1) << " after import, "
        << QString::number(peakMemoryMb(), 'f', 1) << " in all\n";
}

} // namespace

QString usage()
{
    return commandUsage();
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    SliceOptions options;
    int usageStatus = ExitUsage;
    if (!parseOptions(arguments, err, &options, &usageStatus))
        return usageStatus;
    const bool terminal = Progress::stderrIsTerminal();

    QElapsedTimer clock;
    clock.start();
    std::vector<PlacedModel> models;
    for (const QString &path : qAsConst(options.modelPaths)) {
        const QString problem = importModel(path, options, err, terminal, models);
        if (!problem.isEmpty())
            return TessoraCli::failure(err, problem);
    }
    const qint64 importMs = clock.elapsed();
    const double importPeakMb = peakMemoryMb();

    const double platformScale = options.platformScale();
    QString placeError;
    if (!place(models, kPlatformWidth100 * platformScale, kPlatformDepth100 * platformScale, &placeError))
        return TessoraCli::failure(err, placeError);

    GenSlices slicer;
    if (!sliceScene(printTriangles(models, options.printer75), options, err, terminal, slicer))
        return TessoraCli::failure(err, slicer.errorString());
    err << "sliced " << slicer.layerCount() << " layers of " << options.microns << " microns into " << options.jobPath
        << " in " << QString::number(clock.elapsed() / 1000.0, 'f', 2) << " s\n";
    if (options.timings)
        reportTimings(err, slicer.timings(), importMs, importPeakMb);
    Q_UNUSED(out)
    return ExitSuccess;
}

} // namespace SliceCommand
