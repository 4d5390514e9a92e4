#include "crushedprintjob.h"

#include "atomicfile.h"
#include "boundedstream.h"

#include <QDataStream>
#include <QDebug>
#include <QFile>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Smallest possible size in a file of one record of each kind, used to check a
// declared count against what the file still holds.
constexpr qint64 kMinBitMapRecord = 4 + 16 + 4; // white count, bounds, bit count
constexpr qint64 kMinAntiMapRecord = 4 + 16 + 4 + 4; // lit count, size, PNG length, PNG array
constexpr qint64 kSupportRecord = 6 * 4;
constexpr qint64 kMinStringRecord = 4;

constexpr int kBoundsReset = 65535;

inline int placement(int targetSize, int layerSize, int shift)
{
    return int(float(targetSize * 0.5) - float(layerSize * 0.5)) + shift;
}

QString numberText(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

CrushedPrintJob::CrushedPrintJob()
{
    resetTotals();
}

void CrushedPrintJob::setVersion(int version)
{
    m_version = version;
    m_versionText = QString::number(version);
}

void CrushedPrintJob::setReservedNumber(double value)
{
    m_reservedNumber = numberText(value);
}

void CrushedPrintJob::setLayerThickness(double millimetres)
{
    m_layerThickness = numberText(millimetres);
}

void CrushedPrintJob::resetTotals()
{
    m_totalWhitePixels = 0;
    m_whiteBounds = QRect(QPoint(kBoundsReset, kBoundsReset), QPoint(0, 0));
    m_largestWidth = 0;
    m_largestHeight = 0;
}

void CrushedPrintJob::takeLayerSize(int width, int height)
{
    m_largestWidth = std::max(m_largestWidth, width);
    m_largestHeight = std::max(m_largestHeight, height);
}

void CrushedPrintJob::widenBounds(const QRect &bounds)
{
    m_whiteBounds.setLeft(std::min(m_whiteBounds.left(), bounds.left()));
    m_whiteBounds.setTop(std::min(m_whiteBounds.top(), bounds.top()));
    m_whiteBounds.setRight(std::max(m_whiteBounds.right(), bounds.right()));
    m_whiteBounds.setBottom(std::max(m_whiteBounds.bottom(), bounds.bottom()));
}

void CrushedPrintJob::clearAll(int count)
{
    m_bitMaps.clear();
    m_antiMaps.clear();
    m_supports.clear();
    m_texts.clear();
    resetTotals();
    m_currentLayer = 0;
    if (count <= 0)
        return;
    if (m_version == 3)
        m_antiMaps.resize(size_t(count));
    else
        m_bitMaps.resize(size_t(count));
}

int CrushedPrintJob::storedLayers() const
{
    if (m_version == 1)
        return int(m_bitMaps.size());
    if (m_version == 3)
        return int(m_antiMaps.size());
    return 0;
}

int CrushedPrintJob::getTotalLayers() const
{
    if (m_version != 1 && m_version != 3)
        return 0;
    return int(std::min<qint64>(INT_MAX, qint64(storedLayers()) + m_leadingBlankLayers));
}

bool CrushedPrintJob::loadCPJ(QFile *file)
{
    m_error.clear();
    if (!file || !file->open(QIODevice::ReadOnly)) {
        m_error
            = file ? QStringLiteral("cannot open the file: %1").arg(file->errorString()) : QStringLiteral("no file");
        qDebug() << "ERROR. CrushedPrintJob::loadCPJ. Cannot open file:" << (file ? file->fileName() : QString());
        return false;
    }
    const bool ok = readFrom(file);
    file->close();
    return ok;
}

bool CrushedPrintJob::readFrom(QIODevice *device)
{
    m_error.clear();
    if (!device)
        return false;
    QDataStream in(device);
    return readVersion(in) && readHeader(in) && readLayers(in) && readSupports(in) && readTexts(in);
}

bool CrushedPrintJob::readVersion(QDataStream &in)
{
    QString versionText;
    if (!BoundedStream::readString(in, versionText)) {
        m_error = QStringLiteral("not a job file (no format version at its start)");
        return false;
    }
    const int version = versionText.toInt();
    if (version != 1 && version != 3) {
        m_error = QStringLiteral("not a job file of a known format (format version \"%1\"; 1 and 3 are known)")
                      .arg(versionText.left(16));
        qDebug() << "ERROR. CrushedPrintJob::loadCPJ. Unknown format version:" << versionText.left(32);
        return false;
    }
    setVersion(version);
    clearAll(0);
    m_versionText = versionText;
    return true;
}

bool CrushedPrintJob::readHeader(QDataStream &in)
{
    double reserved = 0.0;
    double thickness = 0.0;
    qint32 leading = 0;
    qint32 base = 0;
    QString reserved3, reserved2, reserved1;
    const bool header = BoundedStream::readString(in, m_name) && BoundedStream::readString(in, m_description)
        && BoundedStream::readDouble(in, reserved) && BoundedStream::readDouble(in, thickness)
        && BoundedStream::readInt32(in, leading) && BoundedStream::readInt32(in, base)
        && BoundedStream::readString(in, reserved3) && BoundedStream::readString(in, reserved2)
        && BoundedStream::readString(in, reserved1);
    m_reservedNumber = numberText(reserved);
    m_layerThickness = numberText(thickness);
    m_reservedTexts = QStringList {reserved3, reserved2, reserved1};
    if (!header) {
        m_error = QStringLiteral("damaged job file: it ends inside its header");
        qDebug() << "ERROR. CrushedPrintJob::loadCPJ. File ends inside the header";
        return false;
    }
    if (leading < 0 || base < 0) {
        m_error = QStringLiteral("damaged job file: negative layer count in its header");
        qDebug() << "ERROR. CrushedPrintJob::loadCPJ. Negative layer count in header. Leading blank:" << leading
                 << "Base:" << base;
        return false;
    }
    m_leadingBlankLayers = leading;
    m_baseLayers = base;
    return true;
}

bool CrushedPrintJob::readLayers(QDataStream &in)
{
    const bool layers = m_version == 1 ? streamInCPJ(&in) : streamInCPJAnti(&in);
    if (!layers) {
        m_error = QStringLiteral("damaged job file: it ends before its layers do (%1 layers read)").arg(storedLayers());
        qDebug() << "ERROR. CrushedPrintJob::loadCPJ. File ends inside the layers. Layers read:" << storedLayers();
        return false;
    }
    return true;
}

bool CrushedPrintJob::readSupports(QDataStream &in)
{
    qint32 supportCount = 0;
    if (!BoundedStream::readInt32(in, supportCount) || !BoundedStream::countFits(in, supportCount, kSupportRecord)) {
        m_error = QStringLiteral("damaged job file: it ends before its support list does");
        qDebug() << "ERROR. CrushedPrintJob::loadCPJ. Support count does not fit the file:" << supportCount;
        return false;
    }
    m_supports.reserve(size_t(supportCount));
    for (qint32 i = 0; i < supportCount; ++i) {
        SimpleSupport support;
        if (!support.streamInSupport(&in)) {
            m_error = QStringLiteral("damaged job file: it ends before its support list does");
            return false;
        }
        m_supports.push_back(support);
    }
    return true;
}

// The text list is optional: older writers end the file after the supports.
bool CrushedPrintJob::readTexts(QDataStream &in)
{
    if (in.atEnd())
        return true;
    qint32 textCount = 0;
    if (!BoundedStream::readInt32(in, textCount) || !BoundedStream::countFits(in, textCount, kMinStringRecord)) {
        m_error = QStringLiteral("damaged job file: it ends before its text list does");
        qDebug() << "ERROR. CrushedPrintJob::loadCPJ. Text count does not fit the file:" << textCount;
        return false;
    }
    for (qint32 i = 0; i < textCount; ++i) {
        QString text;
        if (!BoundedStream::readString(in, text)) {
            m_error = QStringLiteral("damaged job file: it ends before its text list does");
            return false;
        }
        m_texts.append(text);
    }
    return true;
}

bool CrushedPrintJob::streamInCPJ(QDataStream *in)
{
    if (!in)
        return false;
    qint32 count = 0;
    if (!BoundedStream::readInt32(*in, count) || !BoundedStream::countFits(*in, count, kMinBitMapRecord))
        return false;
    m_bitMaps.reserve(size_t(count));
    for (qint32 i = 0; i < count; ++i) {
        m_bitMaps.emplace_back();
        CrushedBitMap &map = m_bitMaps.back();
        if (!map.streamInCMB(in)) {
            m_bitMaps.pop_back();
            return false;
        }
        m_totalWhitePixels += map.whitePixels();
        if (map.width() >= 0 && map.height() >= 0) {
            widenBounds(map.whiteBounds());
            takeLayerSize(map.width(), map.height());
        }
        if (!canvasFits())
            return false;
    }
    m_blankBitMap.setBlank(m_largestWidth, m_largestHeight);
    return true;
}

bool CrushedPrintJob::streamInCPJAnti(QDataStream *in)
{
    if (!in)
        return false;
    qint32 count = 0;
    if (!BoundedStream::readInt32(*in, count) || !BoundedStream::countFits(*in, count, kMinAntiMapRecord))
        return false;
    m_antiMaps.reserve(size_t(count));
    for (qint32 i = 0; i < count; ++i) {
        m_antiMaps.emplace_back();
        CrushedAntiBitMap &map = m_antiMaps.back();
        if (!map.streamInCMB(in)) {
            m_antiMaps.pop_back();
            return false;
        }
        m_totalWhitePixels += map.whitePixels();
        // The largest layer over all layers, so that a job whose layers differ in
        // size is never clipped.
        if (map.width() > 0 && map.height() > 0 && map.width() <= 0xFFFF && map.height() <= 0xFFFF)
            takeLayerSize(map.width(), map.height());
        if (!canvasFits())
            return false;
    }
    return true;
}

bool CrushedPrintJob::canvasFits() const
{
    // Every layer is drawn on a canvas of the largest width and the largest height: a
    // damaged file must not make that canvas gigabytes large.
    if (qint64(m_largestWidth) * qint64(m_largestHeight) <= CrushedAntiBitMap::kMaxDecodedPixels)
        return true;
    qDebug() << "ERROR. CrushedPrintJob. Layers too large to draw:" << m_largestWidth << "x" << m_largestHeight;
    return false;
}

void CrushedPrintJob::streamOutCPJ(QDataStream *out) const
{
    *out << qint32(m_bitMaps.size());
    for (const CrushedBitMap &map : m_bitMaps)
        map.streamOutCMB(out);
}

void CrushedPrintJob::streamOutCPJAnti(QDataStream *out) const
{
    *out << qint32(m_antiMaps.size());
    for (const CrushedAntiBitMap &map : m_antiMaps)
        map.streamOutCMB(out);
}

bool CrushedPrintJob::writeTo(QIODevice *device)
{
    if (!device)
        return false;
    QDataStream out(device);
    const bool antiAliased = m_version == 3;
    out << QString(antiAliased ? QStringLiteral("3") : QStringLiteral("1")) << m_name << m_description
        << m_reservedNumber.toDouble() << m_layerThickness.toDouble() << qint32(m_leadingBlankLayers)
        << qint32(m_baseLayers) << QStringLiteral("Reserved3") << QStringLiteral("Reserved2")
        << QStringLiteral("Reserved1");
    if (antiAliased)
        streamOutCPJAnti(&out);
    else
        streamOutCPJ(&out);
    out << qint32(m_supports.size());
    for (const SimpleSupport &support : m_supports)
        support.streamOutSupport(&out);
    out << qint32(m_texts.size());
    for (const QString &text : m_texts)
        out << text;
    return out.status() == QDataStream::Ok;
}

bool CrushedPrintJob::saveCPJ(QFile *file)
{
    if (!file) {
        m_error = QStringLiteral("no file");
        qDebug() << "ERROR. CrushedPrintJob::saveCPJ. No file to write.";
        return false;
    }
    return saveCPJ(file->fileName());
}

bool CrushedPrintJob::saveCPJ(const QString &path)
{
    m_error.clear();
    if (AtomicFile::write(
            path, [this](QIODevice *device) { return writeTo(device); }, &m_error))
        return true;
    qDebug() << "ERROR. CrushedPrintJob::saveCPJ. Write failed:" << path << m_error;
    return false;
}

CrushedBitMap *CrushedPrintJob::getCBMSlice(int layer)
{
    if (layer < 0 || layer >= getTotalLayers() || m_version != 1)
        return nullptr;
    if (layer < m_leadingBlankLayers) {
        m_blankBitMap.setBlank(m_largestWidth, m_largestHeight);
        return &m_blankBitMap;
    }
    return &m_bitMaps[size_t(layer - m_leadingBlankLayers)];
}

CrushedAntiBitMap *CrushedPrintJob::getCBMSliceAnti(int layer)
{
    if (layer < 0 || layer >= getTotalLayers() || m_version != 3)
        return nullptr;
    if (layer < m_leadingBlankLayers)
        return &m_blankAntiMap;
    return &m_antiMaps[size_t(layer - m_leadingBlankLayers)];
}

void CrushedPrintJob::inflateCurrentSlice(QImage *image, int dx, int dy, bool create)
{
    if (!image || m_currentLayer < 0 || m_currentLayer >= getTotalLayers())
        return;
    if (m_version == 1) {
        if (CrushedBitMap *map = getCBMSlice(m_currentLayer)) {
            map->inflateSlice(image, dx, dy, create);
            if (m_overlay)
                drawOverlay(image, dx, dy);
        }
    } else if (m_version == 3) {
        if (CrushedAntiBitMap *map = getCBMSliceAnti(m_currentLayer))
            map->inflateSlice(image, dx, dy, create);
    }
}

void CrushedPrintJob::drawOverlay(QImage *image, int dx, int dy) const
{
    const int xOffset = placement(image->width(), m_largestWidth, dx);
    const int yOffset = placement(image->height(), m_largestHeight, dy);
    if (m_currentLayer < m_baseLayers) {
        const QRect base = m_whiteBounds.translated(xOffset, yOffset);
        QPainter painter(image);
        painter.setPen(Qt::white);
        painter.setBrush(QBrush(Qt::white, Qt::SolidPattern));
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.drawRect(base);
        return;
    }
    for (const SimpleSupport &support : m_supports) {
        const bool inRange = m_leadingBlankLayers + qint64(support.bottom) <= m_currentLayer
            && m_currentLayer <= m_leadingBlankLayers + qint64(support.top);
        const bool reachesBlank = m_currentLayer < m_leadingBlankLayers && support.bottom == 0;
        if (inRange || reachesBlank) {
            const qint64 px = qint64(support.x) + xOffset;
            const qint64 py = qint64(support.y) + yOffset;
            if (px < INT_MIN || px > INT_MAX || py < INT_MIN || py > INT_MAX)
                continue; // far outside the image
            SimpleSupport placed = support;
            placed.x = int(px);
            placed.y = int(py);
            placed.draw(image);
        }
    }
}

bool CrushedPrintJob::addImage(QImage *image)
{
    if (m_version == 3)
        return true;
    CrushedBitMap map;
    if (!map.crushSlice(image))
        return false;
    addBitMap(std::move(map));
    return true;
}

bool CrushedPrintJob::addAntiImage(QImage *image)
{
    if (m_version != 3)
        return true;
    CrushedAntiBitMap map;
    if (!map.crushSlice(image))
        return false;
    addAntiBitMap(std::move(map));
    return true;
}

void CrushedPrintJob::addBitMap(CrushedBitMap &&map)
{
    if (m_version == 3)
        return;
    m_totalWhitePixels += map.whitePixels();
    widenBounds(map.whiteBounds());
    takeLayerSize(map.width(), map.height());
    m_bitMaps.push_back(std::move(map));
}

void CrushedPrintJob::addAntiBitMap(CrushedAntiBitMap &&map)
{
    if (m_version != 3)
        return;
    m_totalWhitePixels += map.whitePixels();
    takeLayerSize(map.width(), map.height());
    m_antiMaps.push_back(std::move(map));
}

bool CrushedPrintJob::crushCurrentSlice(QImage *image)
{
    if (m_currentLayer < m_leadingBlankLayers || m_currentLayer >= getTotalLayers())
        return false;
    const size_t index = size_t(m_currentLayer - m_leadingBlankLayers);
    if (m_version == 1) {
        CrushedBitMap &map = m_bitMaps[index];
        const qint32 before = map.whitePixels();
        if (!map.crushSlice(image))
            return false;
        m_totalWhitePixels += map.whitePixels() - before;
        widenBounds(map.whiteBounds());
        takeLayerSize(map.width(), map.height());
        return true;
    }
    CrushedAntiBitMap &map = m_antiMaps[index];
    const qint32 before = map.whitePixels();
    if (!map.crushSlice(image))
        return false;
    m_totalWhitePixels += map.whitePixels() - before;
    takeLayerSize(map.width(), map.height());
    return true;
}

bool CrushedPrintJob::isWhitePixel(QPoint point, int layer)
{
    if (layer < 0)
        layer = m_currentLayer;
    if (m_version == 1) {
        CrushedBitMap *map = getCBMSlice(layer);
        return map && map->isWhitePixel(point);
    }
    CrushedAntiBitMap *map = getCBMSliceAnti(layer);
    return map && map->isWhitePixel(point);
}

qint64 CrushedPrintJob::getTotalWhitePixels(int from, int to) const
{
    if (from > to || (m_version != 1 && m_version != 3))
        return 0;
    const int first = std::max(0, from);
    const int last = std::min(to, storedLayers() - 1);
    qint64 total = 0;
    for (int i = first; i <= last; ++i)
        total += m_version == 1 ? m_bitMaps[size_t(i)].whitePixels() : m_antiMaps[size_t(i)].whitePixels();
    return total;
}

bool CrushedPrintJob::AddSupport(int layer, QPoint point, int size, SupportType type, int searchDown)
{
    const int top = layer - m_leadingBlankLayers;
    int bottom = -m_leadingBlankLayers;
    if (searchDown) {
        for (int l = layer; l >= 0; --l) {
            if (isWhitePixel(point, l)) {
                bottom = l - m_leadingBlankLayers;
                break;
            }
        }
    }
    m_supports.emplace_back(point.x(), point.y(), type, size, bottom, top);
    return true;
}

bool CrushedPrintJob::DeleteSupport(int layer, QPoint point, int maxDistance)
{
    const qint64 storedLayer = qint64(layer) - m_leadingBlankLayers;
    float best = 1000.0f;
    int chosen = -1;
    for (size_t i = 0; i < m_supports.size(); ++i) {
        const SimpleSupport &support = m_supports[i];
        if (support.bottom > storedLayer || storedLayer > qint64(support.top) + 1)
            continue;
        const double dx = double(support.x) - point.x();
        const double dy = double(support.y) - point.y();
        const float distance = float(std::sqrt(dx * dx + dy * dy));
        if (distance < best) {
            best = distance;
            chosen = int(i);
        }
    }
    if (float(maxDistance) < best)
        return false;
    if (chosen >= 0)
        m_supports.erase(m_supports.begin() + chosen);
    return true;
}
