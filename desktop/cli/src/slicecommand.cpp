#include "slicecommand.h"

#include "cdlpmain.h"
#include "clicommands.h"
#include "footprintpacker.h"
#include "genslices.h"
#include "islandcheck.h"
#include "meshgeometry.h"
#include "meshimporter.h"
#include "platformmodel.h"
#include "progress.h"
#include "slicerasteriser.h"
#include "userimportedmeshsupports.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QQuaternion>
#include <QRectF>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>
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
    return QStringLiteral(
        "  tessora-cli slice MODEL... -o JOB [--layer 20|50|100] [--anti-aliased] [--printer-75]\n"
        "                    [--supports] [--density D] [--strength S] [--threads N] [--timings]\n"
        "                    [--scale F] [--inches] [--rotate AXIS:DEG]... [--arrange]\n"
        "                    [--no-lift] [--raft] [--aa-level 1|2|4|8]\n"
        "                    [--hollow WALL_MM [--drain-holes auto|X,Y,Z[;X,Y,Z...]]\n"
        "                    [--drain-hole X,Y[,Z]]... [--drain-diameter MM]]\n");
}

QString commandHelp()
{
    return commandUsage()
        + QStringLiteral("\nPreparing the models as the window does, before supports and placement:\n"
                         "  --scale F          every model F times larger (0.5 halves it)\n"
                         "  --inches           the files are in inches: every model 25.4 times larger\n"
                         "  --rotate AXIS:DEG  turn every model DEG degrees about AXIS, in the window's axes:\n"
                         "                     x left to right, y up (the vertical), z front to back;\n"
                         "                     repeat it for several turns, made in the order given\n"
                         "                     (--rotate y:90 turns a model a quarter turn on the platform)\n"
                         "  --arrange          pack the models on the platform as the window's Arrange does\n"
                         "                     (largest first, 2 mm apart and from the walls, centred)\n"
                         "\nSupports (either option also asks for --supports):\n"
                         "  --no-lift          the model's base stands on the platform; supports only under\n"
                         "                     its overhangs\n"
                         "  --raft             a thin plate under the model and its supports\n"
                         "\nHollowing (the models only, never their supports):\n"
                         "  --hollow WALL_MM   empty the inside of every model, keeping walls, roof and floor\n"
                         "                     WALL_MM thick (0.5 to 10; 2 is a good start)\n"
                         "  --drain-holes auto one drain hole at the lowest point of every cavity, through\n"
                         "                     the floor under it (up through the roof when that floor\n"
                         "                     stands on the platform, which would seal it)\n"
                         "  --drain-holes X,Y,Z[;X,Y,Z...], --drain-hole X,Y[,Z]\n"
                         "                     drain holes at platform positions in millimetres (X and Y as\n"
                         "                     the window shows a model's position, Z the height above the\n"
                         "                     platform): each goes straight down from Z to the platform,\n"
                         "                     through model layers only; without Z, from the lowest cavity\n"
                         "                     above X,Y down through its floor\n"
                         "  --drain-diameter MM the holes' diameter (default 3)\n"
                         "Supports under a drain hole lose their tips there.\n"
                         "\nAnti-aliasing (grey layers, job format version 3):\n"
                         "  --anti-aliased     grey edges: smoothed lines drawn along the contours\n"
                         "  --aa-level N       1: plain bit-map layers; 2, 4 or 8: each pixel's grey is the\n"
                         "                     share of it the model covers, measured exactly along N\n"
                         "                     sub-rows per pixel (with --anti-aliased too, N wins)\n");
}

// The turn of one --rotate: axis 0, 1 or 2 (x, y, z of the editor's frame) and degrees.
using Turn = std::pair<int, float>;

struct PlacedModel {
    QString path;
    std::unique_ptr<MeshGeometry> geometry;
    int modelTriangles = 0; // the first triangles; the supports follow
    QRectF footprint; // x and z on the platform, after placement
};

// The corners of a triangle list's box (the list stays its owner's: MeshGeometry would
// take it).
std::pair<QVector3D, QVector3D> boxOf(const QList<MeshTriangle *> &triangles)
{
    QVector3D low(1e30f, 1e30f, 1e30f);
    QVector3D high(-1e30f, -1e30f, -1e30f);
    for (const MeshTriangle *t : triangles) {
        for (const QVector3D *v : {&t->a, &t->b, &t->c}) {
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = std::min(low[axis], (*v)[axis]);
                high[axis] = std::max(high[axis], (*v)[axis]);
            }
        }
    }
    return {low, high};
}

// The middle of the box of a model's own triangles, without its supports.
QVector3D ownCentre(const PlacedModel &model)
{
    const std::pair<QVector3D, QVector3D> box = boxOf(model.geometry->triangles().mid(0, model.modelTriangles));
    return (box.first + box.second) / 2;
}

// Moves a model so that its footprint is centred on `centre` (x and z) and it sits on the
// platform (y = 0).
void moveTo(PlacedModel &model, const QPointF &centre)
{
    const MeshGeometry &g = *model.geometry;
    const QVector3D shift(
        float(centre.x() - (g.minX() + g.maxX()) / 2), float(-g.minY()), float(centre.y() - (g.minZ() + g.maxZ()) / 2));
    for (MeshTriangle *t : g.triangles()) {
        t->a += shift;
        t->b += shift;
        t->c += shift;
    }
    const QSizeF size(g.extent(0), g.extent(2));
    model.footprint
        = QRectF(centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height());
}

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
            // The model's own footprint in the middle, wherever its supports reach: with
            // or without them it lies on the same pixels.
            const QVector3D own = ownCentre(model);
            centre = QPointF((g.minX() + g.maxX()) / 2 - own.x(), (g.minZ() + g.maxZ()) / 2 - own.z());
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
            *error = QStringLiteral("%1 does not fit on the platform next to the other models (--arrange packs "
                                    "them closer)")
                         .arg(QFileInfo(model.path).fileName());
            return false;
        }
        moveTo(model, centre);
        taken.push_back(model.footprint);
    }
    return true;
}

// Where the window's Arrange puts models: packed largest first, apart from each other
// and from the walls, the group centred on the platform.
bool arrange(std::vector<PlacedModel> &models, double platformWidth, double platformDepth, QString *error)
{
    const double margin = PlatformModel::kWallMargin;
    const QRectF area(-platformWidth / 2 + margin, -platformDepth / 2 + margin, platformWidth - 2 * margin,
        platformDepth - 2 * margin);
    std::vector<QSizeF> sizes;
    for (const PlacedModel &model : models)
        sizes.emplace_back(model.geometry->extent(0), model.geometry->extent(2));
    const std::vector<std::optional<QRectF>> places = FootprintPacker::pack(sizes, area, PlatformModel::kPlacementGap);
    const auto withoutRoom = std::count(places.begin(), places.end(), std::nullopt);
    if (withoutRoom > 0) {
        *error = QStringLiteral("%1 of %2 models do not fit on the platform even when arranged")
                     .arg(withoutRoom)
                     .arg(models.size());
        return false;
    }
    for (size_t i = 0; i < models.size(); ++i)
        moveTo(models[i], places[i]->center());
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

// What the island repair after support generation did.
void reportRepair(const IslandCheck::Repair &repair, QTextStream &err)
{
    err << "island repair: " << repair.added << " supports added (" << repair.onModel << " on the model) in "
        << repair.rounds << " rounds, " << repair.remaining.size() << " islands left, " << repair.ms << " ms\n";
    for (const QVector3D &p : repair.unplaced) {
        // Millimetres as the platform shows them, about the model's footprint centre.
        const QVector3D at = QVector3D(p.x(), -p.y(), p.z()) * 25.4f;
        err << "no support could be placed under the island at " << QString::number(at.x(), 'f', 2) << ","
            << QString::number(at.y(), 'f', 2) << "," << QString::number(at.z(), 'f', 2) << "\n";
    }
    for (const IslandCheck::Island &island : repair.remaining)
        err << "island left in layer " << island.layer << ": " << island.pixels << " pixels\n";
}

// Supports for one model, centred on the origin in the editor's frame (millimetres, y
// up): the engine gets it in inches with z up, the model is raised by the engine's lift
// and the supports are added to its triangles, with more under whatever they leave as an
// island in layers of layerThickness (horizontal distances times horizontalScale on the
// printer). Returns the number of supports. `platform` is the engine's no-lift and raft
// choice.
int addSupports(QList<MeshTriangle *> &triangles, int density, int strength, std::pair<bool, bool> platform,
    double layerThickness, double horizontalScale, QTextStream &err, bool terminal, bool timings)
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
    reportRepair(IslandCheck::repairSupports(engine, layerThickness, horizontalScale), err);
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
    int supersampling = 0; // with antiAliased: sub-rows per pixel (2, 4, 8), 0 smoothed edges
    bool printer75 = false;
    bool timings = false;
    double scale = 1.0; // --scale and --inches together
    std::vector<Turn> turns;
    bool arrange = false;
    bool noLift = false; // with supports: the model's base on the platform
    bool raft = false;
    double hollow = 0.0; // wall thickness in millimetres; 0: solid models
    bool autoDrainHoles = false;
    std::vector<QVector3D> drainHoles; // X, Y on the platform, Z the height (NaN: none)
    double drainDiameter = 3.0;

    // The 75-micron printer's platform is three quarters of the 100-micron one.
    double platformScale() const { return printer75 ? 0.75 : 1.0; }
};

void addPreparationOptions(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("scale"), QString(), QStringLiteral("F"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("inches"), QString()});
    parser.addOption({QStringLiteral("rotate"), QString(), QStringLiteral("AXIS:DEG")});
    parser.addOption({QStringLiteral("arrange"), QString()});
    parser.addOption({QStringLiteral("hollow"), QString(), QStringLiteral("WALL_MM")});
    parser.addOption({QStringLiteral("drain-holes"), QString(), QStringLiteral("auto|X,Y,Z[;X,Y,Z...]")});
    parser.addOption({QStringLiteral("drain-hole"), QString(), QStringLiteral("X,Y[,Z]")});
    parser.addOption({QStringLiteral("drain-diameter"), QString(), QStringLiteral("MM"), QStringLiteral("3")});
}

// A drain hole's position, X,Y or X,Y,Z in millimetres; false when it is not one.
bool readDrainHole(const QString &text, bool heightRequired, std::vector<QVector3D> *holes)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3 && (heightRequired || parts.size() != 2))
        return false;
    QVector3D hole(0, 0, std::numeric_limits<float>::quiet_NaN());
    for (int axis = 0; axis < parts.size(); ++axis) {
        bool ok = false;
        hole[axis] = parts[axis].trimmed().toFloat(&ok);
        if (!ok || !std::isfinite(hole[axis]))
            return false;
    }
    holes->push_back(hole);
    return true;
}

// The hollowing options; what is wrong with them, or nothing.
QString readHollowingOptions(const QCommandLineParser &parser, SliceOptions *options)
{
    const bool holes = parser.isSet(QStringLiteral("drain-holes")) || parser.isSet(QStringLiteral("drain-hole"))
        || parser.isSet(QStringLiteral("drain-diameter"));
    if (!parser.isSet(QStringLiteral("hollow")))
        return holes ? QStringLiteral("drain holes need --hollow") : QString();
    bool ok = false;
    options->hollow = parser.value(QStringLiteral("hollow")).toDouble(&ok);
    if (!ok || !(options->hollow >= 0.5 && options->hollow <= 10.0))
        return QStringLiteral("--hollow takes a wall thickness of 0.5 to 10 mm");
    options->drainDiameter = parser.value(QStringLiteral("drain-diameter")).toDouble(&ok);
    if (!ok || !(options->drainDiameter > 0.0 && options->drainDiameter <= 20.0))
        return QStringLiteral("--drain-diameter takes 0 to 20 mm");
    const QString list = parser.value(QStringLiteral("drain-holes"));
    options->autoDrainHoles = list == QLatin1String("auto");
    if (!list.isEmpty() && !options->autoDrainHoles) {
        for (const QString &hole : list.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (!readDrainHole(hole, true, &options->drainHoles))
                return QStringLiteral("--drain-holes takes auto or X,Y,Z[;X,Y,Z...] in millimetres");
        }
    }
    for (const QString &hole : parser.values(QStringLiteral("drain-hole"))) {
        if (!readDrainHole(hole, false, &options->drainHoles))
            return QStringLiteral("--drain-hole takes X,Y or X,Y,Z in millimetres");
    }
    return QString();
}

// The options that prepare the models; what is wrong with them, or nothing.
QString readPreparationOptions(const QCommandLineParser &parser, SliceOptions *options)
{
    bool ok = false;
    options->scale = parser.value(QStringLiteral("scale")).toDouble(&ok);
    if (!ok || !std::isfinite(options->scale) || options->scale <= 0.0)
        return QStringLiteral("--scale takes a number above 0");
    if (parser.isSet(QStringLiteral("inches")))
        options->scale *= ImportChecks::kMillimetresPerInch;
    for (const QString &turn : parser.values(QStringLiteral("rotate"))) {
        const QStringList parts = turn.split(QLatin1Char(':'));
        const int axis = QStringLiteral("xyz").indexOf(parts.value(0).toLower());
        const float degrees = parts.value(1).toFloat(&ok);
        if (parts.size() != 2 || parts.first().size() != 1 || axis < 0 || !ok || !std::isfinite(degrees))
            return QStringLiteral("--rotate takes AXIS:DEGREES, AXIS x, y or z (y is the vertical)");
        options->turns.emplace_back(axis, degrees);
    }
    options->arrange = parser.isSet(QStringLiteral("arrange"));
    return readHollowingOptions(parser, options);
}

// --anti-aliased keeps its smoothed edges; --aa-level 1 is the bit map, 2, 4 and 8
// supersample (and imply grey layers).
QString readAntiAliasingOptions(const QCommandLineParser &parser, SliceOptions *options)
{
    options->antiAliased = parser.isSet(QStringLiteral("anti-aliased"));
    if (!parser.isSet(QStringLiteral("aa-level")))
        return QString();
    bool ok = false;
    const int level = parser.value(QStringLiteral("aa-level")).toInt(&ok);
    if (!ok || (level != 1 && !SliceRasteriser::isSupersampling(level)))
        return QStringLiteral("--aa-level takes 1, 2, 4 or 8");
    if (level == 1 && options->antiAliased)
        return QStringLiteral("--aa-level 1 is the bit map: it cannot go with --anti-aliased");
    options->antiAliased = level > 1;
    options->supersampling = level > 1 ? level : 0;
    return QString();
}

// Reads the command line into `options`; false, with the usage text written and the
// exit status in `exitStatus`, when it is wrong.
bool parseOptions(const QStringList &arguments, QTextStream &err, SliceOptions *options, int *exitStatus)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("JOB")});
    parser.addOption({QStringLiteral("layer"), QString(), QStringLiteral("MICRONS"), QStringLiteral("50")});
    parser.addOption({QStringLiteral("anti-aliased"), QString()});
    parser.addOption({QStringLiteral("aa-level"), QString(), QStringLiteral("N")});
    parser.addOption({QStringLiteral("printer-75"), QString()});
    parser.addOption({QStringLiteral("supports"), QString()});
    parser.addOption({QStringLiteral("density"), QString(), QStringLiteral("D"), QStringLiteral("50")});
    parser.addOption({QStringLiteral("strength"), QString(), QStringLiteral("S"), QStringLiteral("50")});
    parser.addOption({QStringLiteral("threads"), QString(), QStringLiteral("N"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("timings"), QString()});
    parser.addOption({QStringLiteral("help"), QString()});
    parser.addOption({QStringLiteral("no-lift"), QString()});
    parser.addOption({QStringLiteral("raft"), QString()});
    const QString name = QStringLiteral("tessora-cli slice");
    const auto refuse = [&](const QString &message) {
        *exitStatus = TessoraCli::usageError(err, name, message, commandUsage());
        return false;
    };
    addPreparationOptions(parser);
    if (!parser.parse(QStringList {name} + arguments))
        return refuse(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        *exitStatus = -1;
        return false;
    }
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
    const QString aaProblem = readAntiAliasingOptions(parser, options);
    if (!aaProblem.isEmpty())
        return refuse(aaProblem);
    options->printer75 = parser.isSet(QStringLiteral("printer-75"));
    options->timings = parser.isSet(QStringLiteral("timings"));
    const QString problem = readPreparationOptions(parser, options);
    if (!problem.isEmpty())
        return refuse(problem);
    return true;
}

// Scales and turns a model as the options ask, about its centre, and centres it on the
// origin again.
void prepareModel(QList<MeshTriangle *> &triangles, const SliceOptions &options)
{
    QQuaternion rotation;
    for (const Turn &turn : options.turns) {
        QVector3D axis;
        axis[turn.first] = 1.0f;
        rotation = QQuaternion::fromAxisAndAngle(axis, turn.second) * rotation;
    }
    const auto scaled = [&](const QVector3D &v) { return rotation.rotatedVector(v * float(options.scale)); };
    for (MeshTriangle *t : triangles) {
        t->a = scaled(t->a);
        t->b = scaled(t->b);
        t->c = scaled(t->c);
        t->normal = MeshImporter::facetNormal(t->a, t->b, t->c);
    }
    const std::pair<QVector3D, QVector3D> box = boxOf(triangles);
    const QVector3D centre = (box.first + box.second) / 2;
    for (MeshTriangle *t : triangles) {
        t->a -= centre;
        t->b -= centre;
        t->c -= centre;
    }
}

// Why the model's footprint (x and z) cannot lie on the platform, wherever it is placed,
// with the turn that would make it fit when there is one; nothing when it fits.
QString platformProblem(const QList<MeshTriangle *> &triangles, const SliceOptions &options, const QString &path)
{
    const std::pair<QVector3D, QVector3D> box = boxOf(triangles);
    const double width = box.second.x() - box.first.x();
    const double depth = box.second.z() - box.first.z();
    const double platformWidth = kPlatformWidth100 * options.platformScale();
    const double platformDepth = kPlatformDepth100 * options.platformScale();
    if (width <= platformWidth && depth <= platformDepth)
        return QString();
    QString problem = QStringLiteral("%1 does not fit on the platform: it is %2 x %3 mm, the platform %4 x %5 mm")
                          .arg(QFileInfo(path).fileName())
                          .arg(width, 0, 'f', 1)
                          .arg(depth, 0, 'f', 1)
                          .arg(platformWidth)
                          .arg(platformDepth);
    if (depth <= platformWidth && width <= platformDepth)
        problem += QStringLiteral("; it would fit turned 90 degrees about the vertical: --rotate y:90");
    return problem;
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
    prepareModel(triangles, options);
    PlacedModel model;
    model.path = path;
    // A model too large for the platform is refused, and before its supports are built.
    const QString problem = platformProblem(triangles, options, path);
    if (!problem.isEmpty()) {
        qDeleteAll(triangles);
        return problem;
    }
    model.modelTriangles = int(triangles.size());
    if (options.supports) {
        const int count = addSupports(triangles, options.density, options.strength, {options.noLift, options.raft},
            options.microns * 0.001, 1.0 / options.platformScale(), err, terminal, options.timings);
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

// The scene's print triangles, the models' before the supports'. On the 75-micron
// printer horizontal distances are counted in 0.075 mm units; heights stay in
// millimetres.
QList<MeshTriangle *> printTriangles(const std::vector<PlacedModel> &models, bool printer75)
{
    QList<MeshTriangle *> scene;
    for (const PlacedModel &model : models)
        scene += model.geometry->triangles().mid(0, model.modelTriangles);
    for (const PlacedModel &model : models)
        scene += model.geometry->triangles().mid(model.modelTriangles);
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
// The platform's millimetres (X, Y as the window shows positions, Z up) in the slicer's
// frame, and back.
QVector3D toSlicerFrame(const QVector3D &platform, const SliceOptions &options)
{
    const float horizontal = float(1.0 / options.platformScale());
    return QVector3D(platform.x() * horizontal, -platform.y() * horizontal, platform.z());
}

QVector3D fromSlicerFrame(const QVector3D &slicer, const SliceOptions &options)
{
    const float horizontal = float(options.platformScale());
    return QVector3D(slicer.x() * horizontal, -slicer.y() * horizontal, slicer.z());
}

GenSlices::Hollowing hollowingOf(const SliceOptions &options)
{
    GenSlices::Hollowing hollowing;
    hollowing.wall = options.hollow;
    hollowing.pixelSize = 0.1 * options.platformScale();
    hollowing.drainDiameter = options.drainDiameter;
    hollowing.autoDrainHoles = options.autoDrainHoles;
    for (const QVector3D &hole : options.drainHoles)
        hollowing.drainHoles.push_back(toSlicerFrame(hole, options));
    return hollowing;
}

bool sliceScene(const QList<MeshTriangle *> &scene, int firstSupport, const SliceOptions &options, QTextStream &err,
    bool terminal, GenSlices &slicer)
{
    slicer.setThreadCount(options.threads);
    Progress bar(err, QStringLiteral("slicing"), 100, terminal);
    GenSlices::Settings settings;
    settings.layerThickness = options.microns * 0.001;
    settings.rotation = QVector3D(90, 0, 0);
    settings.antialias = options.antiAliased;
    settings.supersampling = options.supersampling;
    settings.jobDescription
        = options.printer75 ? QStringLiteral("sliced at 75 microns") : QStringLiteral("sliced at 100 microns");
    settings.firstSupportTriangle = firstSupport;
    settings.hollowing = hollowingOf(options);
    const bool ok = slicer.saveSlices(scene, options.jobPath, settings, [&](int percent) { bar.update(percent); });
    bar.finish();
    return ok;
}

void reportTimings(QTextStream &err, const GenSlices::Timings &t, qint64 importMs, double importPeakMb)
{
    err << "timings (ms): import " << importMs << ", preparation " << t.prepareMs << ", layers " << t.layersWallMs
        << " wall (slicing " << t.sliceMs << " and packing " << t.packMs << " over the threads), writing " << t.writeMs
        << "\n";
    if (t.hollowMs > 0)
        err << "hollowing (ms): " << t.hollowMs << " across the layers\n";
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
    if (!parseOptions(arguments, err, &options, &usageStatus)) {
        if (usageStatus >= 0)
            return usageStatus;
        out << commandHelp();
        return ExitSuccess;
    }
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
    const auto placement = options.arrange ? arrange : place;
    if (!placement(models, kPlatformWidth100 * platformScale, kPlatformDepth100 * platformScale, &placeError))
        return TessoraCli::failure(err, placeError);

    GenSlices slicer;
    int firstSupport = 0;
    for (const PlacedModel &model : models)
        firstSupport += model.modelTriangles;
    if (!sliceScene(printTriangles(models, options.printer75), firstSupport, options, err, terminal, slicer))
        return TessoraCli::failure(err, slicer.errorString());
    if (options.hollow > 0.0) {
        const GenSlices::HollowReport &hollowed = slicer.hollowReport();
        err << "hollowed with " << options.hollow << " mm walls: " << hollowed.cavities << " cavities, "
            << hollowed.holes.size() << " drain holes\n";
        for (const GenSlices::DrainHole &drain : hollowed.holes) {
            const QVector3D hole = fromSlicerFrame(drain.at, options);
            err << "drain hole at " << QString::number(hole.x(), 'f', 2) << "," << QString::number(hole.y(), 'f', 2)
                << "," << QString::number(hole.z(), 'f', 2)
                << (drain.up ? " up through the roof (the floor stands on the platform)\n" : " down\n");
        }
        if (hollowed.pillars > 0)
            err << hollowed.pillars << " pillars raised from cavity floors under roofs that hang down to a point\n";
        if (hollowed.unpropped > 0)
            err << hollowed.unpropped << " roofs hang down to a point over a drain hole, with no pillar\n";
    }
    err << "sliced " << slicer.layerCount() << " layers of " << options.microns << " microns into " << options.jobPath
        << " in " << QString::number(clock.elapsed() / 1000.0, 'f', 2) << " s\n";
    if (options.timings)
        reportTimings(err, slicer.timings(), importMs, importPeakMb);
    return ExitSuccess;
}

} // namespace SliceCommand
