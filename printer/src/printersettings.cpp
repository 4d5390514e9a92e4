#include "printersettings.h"

#include "resin.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <utility>

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

} // namespace

PrinterSettings::PrinterSettings(const QString &fileName)
    : m_fileName(fileName)
    , m_settings(std::make_unique<QSettings>(fileName, QSettings::IniFormat))
{
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

    m_settings->setValue(serialKey, values.serial);
    m_settings->setValue(nicknameKey, values.nickname);
    m_settings->setValue(broadcastingDirectKey, true);
    m_settings->setValue(enableResinSettleTimeKey, false);
    m_settings->setValue(resinSettleTimeKey, 0);
    m_settings->setValue(modelKey, values.model);
    m_settings->setValue(gParameterKey, QStringLiteral("g0"));
    m_settings->setValue(resinDataKey, values.resinData);
    return syncAndCheck("writeInitial");
}

void PrinterSettings::read(PrinterSettingsValues &values)
{
    m_settings->sync();
    if (m_settings->status() == QSettings::FormatError || hasControlBytes(m_fileName))
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
    m_settings->setValue(key, newValue);
    return syncAndCheck("setValue");
}

QVariant PrinterSettings::value(const QString &key, const QVariant &defaultValue) const
{
    return m_settings->value(key, defaultValue);
}

bool PrinterSettings::contains(const QString &key) const
{
    return m_settings->contains(key);
}

bool PrinterSettings::syncAndCheck(const char *operation)
{
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError)
        return true;
    qDebug().noquote() << QStringLiteral("ERROR. PrinterSettings::%1. Could not write the "
                                         "settings file %2 (status %3)")
                              .arg(QLatin1String(operation), m_fileName)
                              .arg(int(m_settings->status()));
    return false;
}

// QSettings keeps the first error it met, so a file that was damaged when read would make
// every later write look failed; and its damaged parts would be carried along. Keep the
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
    QList<std::pair<QString, QVariant>> readable;
    for (const QString &key : knownKeys) {
        if (m_settings->contains(key))
            readable.append({key, m_settings->value(key)});
    }

    m_settings.reset();
    QFile::remove(damagedName);
    if (!QFile::rename(m_fileName, damagedName)) {
        qDebug().noquote() << QStringLiteral("ERROR. PrinterSettings::read. Could not move the "
                                             "damaged settings file aside: ")
                + m_fileName;
        QFile::remove(m_fileName);
    }
    m_settings = std::make_unique<QSettings>(m_fileName, QSettings::IniFormat);
    for (const auto &entry : qAsConst(readable))
        m_settings->setValue(entry.first, entry.second);
    syncAndCheck("read");
}

// A text value written unquoted with commas reads back as a list; join it again.
QString PrinterSettings::textValue(const QString &key) const
{
    const QVariant stored = m_settings->value(key);
    if (stored.type() == QVariant::StringList)
        return stored.toStringList().join(QLatin1Char(','));
    return stored.toString();
}
