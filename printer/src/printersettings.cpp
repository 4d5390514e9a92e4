#include "printersettings.h"

#include "atomicfile.h"
#include "resin.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

namespace {

const QString serialKey = QStringLiteral("printerSerial");
const QString nicknameKey = QStringLiteral("printerNickName");
const QString broadcastingDirectKey = QStringLiteral("broadcastingDirect");
const QString broadcastingAdhocKey = QStringLiteral("broadcastingAdhoc");
const QString enableResinSettleTimeKey = QStringLiteral("enableResinSettleTime");
const QString resinSettleTimeKey = QStringLiteral("resinSettleTime");
const QString modelKey = QStringLiteral("printerModel");
const QString gParameterKey = QStringLiteral("gParameter");
const QString factoryGParameterKey = QStringLiteral("factoryGParameter");
const QString grayscaleKey = QStringLiteral("grayscale");
const QString resinDataKey = QStringLiteral("resinData");

// Qt writes INI files as printable text; control bytes (NUL and the like) mean the file was
// damaged, even where Qt's own reader reports no error.
bool hasControlBytes(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0x7f)
            return true;
    }
    return false;
}

void logMissing(const QString &key)
{
    qDebug().noquote() << QStringLiteral("Client::readSettingsFromFile - Error. No ") + key;
}

// QSettings writes its INI text only to a file, and cannot tell when that file was cut short:
// the bytes it had buffered last are lost on a full disk without a word. So the text is made
// in a scratch file with one more key, in a section of its own that QSettings writes last;
// the text is whole when it ends with that section.
#ifdef Q_OS_WIN
const QByteArray eol = "\r\n";
#else
const QByteArray eol = "\n";
#endif
const QString endKey = QStringLiteral("~end/complete");
const QByteArray endSection = "[%7Eend]" + eol + "complete=true" + eol;

bool iniText(const QString &scratchPath, const QMap<QString, QVariant> &values, QByteArray *text, QString *error)
{
    QSettings::Status status = QSettings::NoError;
    {
        QSettings scratch(scratchPath, QSettings::IniFormat);
        scratch.clear(); // QSettings may remember keys of an earlier file of this name
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            scratch.setValue(it.key(), it.value());
        scratch.setValue(endKey, true);
        scratch.sync();
        status = scratch.status();
    }
    QFile file(scratchPath);
    const bool read = file.open(QIODevice::ReadOnly);
    *text = file.readAll();
    file.close();

    if (status != QSettings::NoError || !read) {
        *error = QStringLiteral("could not write %1 (status %2)").arg(scratchPath).arg(int(status));
        return false;
    }
    if (*text == endSection) {
        text->clear();
        return true;
    }
    // Between the sections: an empty line.
    if (!text->endsWith(eol + endSection)) {
        *error = QStringLiteral("could not write all of %1").arg(scratchPath);
        return false;
    }
    text->chop(eol.size() + endSection.size());
    return true;
}

} // namespace

PrinterSettings::PrinterSettings(const QString &fileName)
    : m_fileName(fileName)
{
    load();
}

PrinterSettings::~PrinterSettings() = default;

bool PrinterSettings::exists() const
{
    return QFileInfo::exists(m_fileName);
}

bool PrinterSettings::writeInitial(PrinterSettingsValues &values)
{
    qDebug() << "Client::writeInitialSettings";
    values.broadcastingDirect = true;
    values.resinData = Resin::toString(Resin::defaultResinList());

    QMap<QString, QVariant> next = m_values;
    next.insert(serialKey, values.serial);
    next.insert(nicknameKey, values.nickname);
    next.insert(broadcastingDirectKey, true);
    next.insert(enableResinSettleTimeKey, false);
    next.insert(resinSettleTimeKey, 0);
    next.insert(modelKey, values.model);
    next.insert(gParameterKey, QStringLiteral("g0"));
    next.insert(resinDataKey, values.resinData);
    return save(next, "writeInitial");
}

void PrinterSettings::read(PrinterSettingsValues &values)
{
    if (!load() || hasControlBytes(m_fileName))
        setAsideDamagedFile();

    if (contains(serialKey))
        values.serial = textValue(serialKey);
    else
        logMissing(serialKey);

    if (contains(nicknameKey))
        values.nickname = textValue(nicknameKey);
    else
        logMissing(nicknameKey);

    if (contains(broadcastingDirectKey)) {
        values.broadcastingDirect = value(broadcastingDirectKey).toBool();
    } else {
        qDebug() << "Client::readSettingsFromFile. BroadcastingDirect not found in existing "
                    "settings file.";
        values.broadcastingDirect = value(broadcastingAdhocKey, false).toBool();
        setValue(broadcastingDirectKey, values.broadcastingDirect);
    }
    qDebug().noquote() << QStringLiteral("readSettingsFromFile.isBroadcastingDirect: ")
            + (values.broadcastingDirect ? QStringLiteral("true") : QStringLiteral("false"));

    if (contains(grayscaleKey))
        values.grayscale = textValue(grayscaleKey);

    if (contains(enableResinSettleTimeKey))
        values.enableResinSettleTime = value(enableResinSettleTimeKey).toBool();
    else
        logMissing(enableResinSettleTimeKey);

    // A number that does not convert reads as 0, like every reader of the system.
    if (contains(resinSettleTimeKey))
        values.resinSettleTime = value(resinSettleTimeKey).toInt();
    else
        logMissing(resinSettleTimeKey);

    if (contains(modelKey))
        values.model = textValue(modelKey);
    else
        logMissing(modelKey);

    if (contains(gParameterKey))
        values.gParameter = textValue(gParameterKey);

    qDebug().noquote() << QStringLiteral("Client::readSettingsFromFile(). Serial: ") + values.serial
            + QStringLiteral(" Nickname: ") + values.nickname;

    if (contains(resinDataKey))
        values.resinData = textValue(resinDataKey);
}

bool PrinterSettings::setValue(const QString &key, const QVariant &newValue)
{
    QMap<QString, QVariant> next = m_values;
    next.insert(key, newValue);
    return save(next, "setValue");
}

QVariant PrinterSettings::value(const QString &key, const QVariant &defaultValue) const
{
    return m_values.value(key, defaultValue);
}

bool PrinterSettings::contains(const QString &key) const
{
    return m_values.contains(key);
}

bool PrinterSettings::load()
{
    const QSettings file(m_fileName, QSettings::IniFormat);
    m_values.clear();
    for (const QString &key : file.allKeys())
        m_values.insert(key, file.value(key));
    return file.status() != QSettings::FormatError;
}

// The whole file is written anew through a temporary file beside it, so a failed write keeps
// it as it was, and what this object answers stays what the file holds.
bool PrinterSettings::save(const QMap<QString, QVariant> &values, const char *operation)
{
    // The scratch file gets a folder of its own away from the settings file: a program killed
    // while writing leaves nothing beside it.
    const QTemporaryDir scratch;
    QByteArray text;
    QString error = scratch.errorString();
    if (!scratch.isValid() || !iniText(scratch.filePath(QStringLiteral("settings.ini")), values, &text, &error)
        || !AtomicFile::write(m_fileName, text, &error)) {
        qDebug().noquote() << QStringLiteral("ERROR. PrinterSettings::%1. Could not write the settings file %2: %3")
                                  .arg(QLatin1String(operation), m_fileName, error);
        return false;
    }
    m_values = values;
    return true;
}

// A damaged file's unreadable parts would be carried along by every later write. Keep the
// damaged file for inspection and start a clean one with what could be read.
void PrinterSettings::setAsideDamagedFile()
{
    const QString damagedName = m_fileName + QStringLiteral(".damaged");
    qDebug().noquote() << QStringLiteral("ERROR. PrinterSettings::read. The settings file is not "
                                         "valid INI; reading what can be read, the file is kept "
                                         "as ")
            + damagedName;

    static const QString knownKeys[] = {
        serialKey,
        nicknameKey,
        broadcastingDirectKey,
        broadcastingAdhocKey,
        enableResinSettleTimeKey,
        resinSettleTimeKey,
        modelKey,
        gParameterKey,
        factoryGParameterKey,
        grayscaleKey,
        resinDataKey,
    };
    QMap<QString, QVariant> readable;
    for (const QString &key : knownKeys) {
        if (m_values.contains(key))
            readable.insert(key, m_values.value(key));
    }

    QFile::remove(damagedName);
    if (!QFile::rename(m_fileName, damagedName)) {
        qDebug().noquote() << QStringLiteral("ERROR. PrinterSettings::read. Could not move the "
                                             "damaged settings file aside: ")
                + m_fileName;
        QFile::remove(m_fileName);
    }
    // Reading goes on with what could be read, stored or not.
    save(readable, "read");
    m_values = readable;
}

// A text value written unquoted with commas reads back as a list; join it again.
QString PrinterSettings::textValue(const QString &key) const
{
    const QVariant stored = m_values.value(key);
    if (stored.type() == QVariant::StringList)
        return stored.toStringList().join(QLatin1Char(','));
    return stored.toString();
}
