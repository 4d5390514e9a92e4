#pragma once

#include "crushedantibitmap.h"
#include "crushedbitmap.h"
#include "simplesupport.h"

#include <QRect>
#include <QString>
#include <QStringList>

#include <vector>

class QDataStream;
class QFile;
class QIODevice;

// A print job: the layers of one print and a small header, as kept in a job
// file (".ssj"). The file is a big-endian QDataStream of, in order:
//
//   format version (string: "1" bit-map layers, "3" anti-aliased layers),
//   job name (string), description (string), reserved number (double),
//   layer thickness in millimetres (double), leading blank layers (qint32),
//   base layers (qint32), three reserved strings, layer count (qint32) and the
//   layer records, support count (qint32) and the support records, and
//   optionally a text count (qint32) and that many strings.
//
// Leading blank layers are all-black layers that precede the stored ones; they
// are not stored. The job keeps both layer lists but uses only the one of its
// format version.
class CrushedPrintJob
{
public:
    CrushedPrintJob();

    // Opens the file read-only, reads the whole job, closes the file.
    // False for a file that cannot be opened, an unknown format version, or a
    // file that ends before the counts and lengths it declares are satisfied;
    // the reader never reads or allocates more than the file holds.
    bool loadCPJ(QFile *file);
    bool readFrom(QIODevice *device);
    // Why the last load or save failed, in words for a user; empty after a success.
    QString errorString() const { return m_error; }

    // Writes the whole job to the file's name as saveCPJ(path) does; the QFile
    // itself is left closed. False when anything could not be written.
    bool saveCPJ(QFile *file);
    // Writes through a temporary file that replaces `path` only when complete,
    // so a failed write (a full disk too) never leaves a damaged job behind. A
    // path that names a device or a pipe is written in place.
    bool saveCPJ(const QString &path);
    bool writeTo(QIODevice *device);

    bool streamInCPJ(QDataStream *in);
    bool streamInCPJAnti(QDataStream *in);
    void streamOutCPJ(QDataStream *out) const;
    void streamOutCPJAnti(QDataStream *out) const;

    // Stored layers of the active flavour plus the leading blank layers.
    int getTotalLayers() const;
    int storedLayers() const;

    // The map of a layer: the shared blank map for a leading blank layer, the
    // stored map after them, none beyond. Pointers stay valid until the layer
    // list changes.
    CrushedBitMap *getCBMSlice(int layer);
    CrushedAntiBitMap *getCBMSliceAnti(int layer);

    // Draws the current layer into the image: bit-map layers centred and shifted
    // by (dx, dy), anti-aliased layers at (dx, dy). With the overlay on, base
    // layers and supports are drawn over bit-map layers.
    void inflateCurrentSlice(QImage *image, int dx, int dy, bool create);

    // Packs an image and appends it as the next bit-map layer (an anti-aliased
    // job is left unchanged, with true). False when the image cannot be packed.
    bool addImage(QImage *image);
    // Stores an image as the next anti-aliased layer (a bit-map job is left
    // unchanged, with true).
    bool addAntiImage(QImage *image);
    // Appends a layer packed elsewhere (by a slicing thread), with the same bookkeeping
    // as addImage() and addAntiImage(); a layer of the other flavour is ignored.
    void addBitMap(CrushedBitMap &&map);
    void addAntiBitMap(CrushedAntiBitMap &&map);
    // Re-packs the current layer from an image; false for a leading blank layer
    // or a layer that does not exist.
    bool crushCurrentSlice(QImage *image);

    // Empties the job (layers, supports, texts, totals) and appends `count`
    // empty maps of the active flavour.
    void clearAll(int count);

    // A negative layer means the current layer.
    bool isWhitePixel(QPoint point, int layer);
    // Sum of the white counts of stored layers from..to (stored-layer indices,
    // without the leading blank layers); 0 when from > to or the version is
    // unknown.
    qint64 getTotalWhitePixels(int from, int to) const;

    bool AddSupport(int layer, QPoint point, int size, SupportType type, int searchDown);
    bool DeleteSupport(int layer, QPoint point, int maxDistance);

    // Header.
    int version() const { return m_version; }
    void setVersion(int version);
    QString versionText() const { return m_versionText; }
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    QString description() const { return m_description; }
    void setDescription(const QString &description) { m_description = description; }
    QString reservedNumberText() const { return m_reservedNumber; }
    void setReservedNumber(double value);
    // Layer thickness in millimetres, kept as text with 6 significant digits.
    QString layerThicknessText() const { return m_layerThickness; }
    void setLayerThickness(double millimetres);
    QStringList reservedTexts() const { return m_reservedTexts; }
    void setReservedTexts(const QStringList &texts) { m_reservedTexts = texts; }
    int leadingBlankLayers() const { return m_leadingBlankLayers; }
    void setLeadingBlankLayers(int count) { m_leadingBlankLayers = qMax(0, count); }
    int baseLayers() const { return m_baseLayers; }
    void setBaseLayers(int count) { m_baseLayers = qMax(0, count); }
    QStringList texts() const { return m_texts; }
    void setTexts(const QStringList &texts) { m_texts = texts; }

    // Totals.
    qint64 totalWhitePixels() const { return m_totalWhitePixels; }
    QRect whiteBounds() const { return m_whiteBounds; }
    int largestWidth() const { return m_largestWidth; }
    int largestHeight() const { return m_largestHeight; }

    const std::vector<SimpleSupport> &supports() const { return m_supports; }
    void addSupportRecord(const SimpleSupport &support) { m_supports.push_back(support); }

    int currentLayer() const { return m_currentLayer; }
    void setCurrentLayer(int layer) { m_currentLayer = layer; }
    bool overlay() const { return m_overlay; }
    void setOverlay(bool on) { m_overlay = on; }

private:
    // The parts of readFrom(), in file order; each sets m_error when it fails.
    bool readVersion(QDataStream &in);
    bool readHeader(QDataStream &in);
    bool readLayers(QDataStream &in);
    bool readSupports(QDataStream &in);
    bool readTexts(QDataStream &in);
    void resetTotals();
    bool canvasFits() const;
    void takeLayerSize(int width, int height);
    void widenBounds(const QRect &bounds);
    void drawOverlay(QImage *image, int dx, int dy) const;

    int m_version = 1;
    QString m_versionText = QStringLiteral("1");
    QString m_name;
    QString m_description;
    QString m_reservedNumber = QStringLiteral("0");
    QString m_layerThickness = QStringLiteral("0");
    QStringList m_reservedTexts;
    int m_leadingBlankLayers = 0;
    int m_baseLayers = 0;
    QStringList m_texts;

    std::vector<CrushedBitMap> m_bitMaps;
    std::vector<CrushedAntiBitMap> m_antiMaps;
    std::vector<SimpleSupport> m_supports;
    CrushedBitMap m_blankBitMap;
    CrushedAntiBitMap m_blankAntiMap;

    qint64 m_totalWhitePixels = 0;
    QRect m_whiteBounds;
    int m_largestWidth = 0;
    int m_largestHeight = 0;
    int m_currentLayer = 0;
    bool m_overlay = false;
    QString m_error;
};
