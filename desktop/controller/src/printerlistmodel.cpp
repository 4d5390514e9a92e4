#include "printerlistmodel.h"

#include <QStringList>

namespace {

using Activity = PrinterState::Activity;

int percentOf(qint64 part, qint64 total)
{
    return total > 0 ? static_cast<int>(qBound<qint64>(0, part * 100 / total, 100)) : 0;
}

// The activity for the pages' conditions: "Ready", "Sending", "Printing", "Pausing",
// "Paused", "Resuming" or "Cancelling".
QString activityName(Activity activity)
{
    switch (activity) {
    case Activity::Ready:
        return QStringLiteral("Ready");
    case Activity::Sending:
        return QStringLiteral("Sending");
    case Activity::Printing:
        return QStringLiteral("Printing");
    case Activity::Pausing:
        return QStringLiteral("Pausing");
    case Activity::Paused:
        return QStringLiteral("Paused");
    case Activity::Resuming:
        return QStringLiteral("Resuming");
    case Activity::Cancelling:
        return QStringLiteral("Cancelling");
    }
    return QString();
}

QString nameOf(const PrinterState &state)
{
    return state.nickname.isEmpty() ? state.serial : state.nickname;
}

} // namespace

PrinterListModel::PrinterListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int PrinterListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_printers.size();
}

QHash<int, QByteArray> PrinterListModel::roleNames() const
{
    return {{SerialRole, "serial"}, {NicknameRole, "nickname"}, {ModelRole, "printerModel"}, {VersionRole, "version"},
        {StatusRole, "status"}, {ActivityRole, "activity"}, {ActivityTextRole, "activityText"},
        {OutcomeTextRole, "outcomeText"}, {ErrorTextRole, "errorText"}, {LastErrorRole, "lastError"},
        {JobNameRole, "jobName"}, {LayerRole, "layer"}, {PercentRole, "percent"}, {TimeLeftRole, "timeLeft"},
        {TransferPercentRole, "transferPercent"}, {BusyRole, "busy"}, {PrintingRole, "printing"},
        {CommandsWaitRole, "commandsWait"}, {Is75Role, "is75"}, {GParameterRole, "gParameter"},
        {GParameterResetRole, "gParameterReset"}};
}

QVariant PrinterListModel::roleValue(const PrinterState &state, int role) const
{
    switch (role) {
    case SerialRole:
        return state.serial;
    case NicknameRole:
        return state.nickname;
    case ModelRole:
        return state.model;
    case VersionRole:
        return state.version;
    case StatusRole:
        return state.status;
    case ActivityRole:
        return activityName(state.activity);
    case ActivityTextRole:
        return state.activityText();
    case OutcomeTextRole:
        return state.outcomeText();
    case ErrorTextRole:
        return state.errorText();
    case LastErrorRole:
        return state.lastError;
    case JobNameRole:
        return state.jobName;
    case LayerRole:
        return state.layer;
    case PercentRole:
        return state.percent;
    case TimeLeftRole:
        return state.timeLeft;
    case TransferPercentRole:
        return percentOf(state.bytesSent, state.bytesTotal);
    case BusyRole:
        return state.isBusy();
    case PrintingRole:
        return state.isPrinting();
    case CommandsWaitRole:
        return state.commandsWait;
    case Is75Role:
        return state.is75MicronModel();
    case GParameterRole:
        return state.gParameter;
    case GParameterResetRole:
        return state.gParameterReset;
    default:
        return {};
    }
}

QVariant PrinterListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_printers.size())
        return {};
    return roleValue(m_printers.at(index.row()), role);
}

QVariantMap PrinterListModel::rowMap(const PrinterState &state) const
{
    QVariantMap map;
    const QHash<int, QByteArray> roles = roleNames();
    for (auto it = roles.cbegin(); it != roles.cend(); ++it)
        map.insert(QString::fromLatin1(it.value()), roleValue(state, it.key()));
    return map;
}

QVariantMap PrinterListModel::get(int row) const
{
    return row >= 0 && row < m_printers.size() ? rowMap(m_printers.at(row)) : QVariantMap();
}

QVariantMap PrinterListModel::bySerial(const QString &serial) const
{
    const PrinterState *state = find(serial);
    return state ? rowMap(*state) : QVariantMap();
}

int PrinterListModel::indexOf(const QString &serial) const
{
    for (int row = 0; row < m_printers.size(); ++row) {
        if (m_printers.at(row).serial == serial)
            return row;
    }
    return -1;
}

const PrinterState *PrinterListModel::find(const QString &serial) const
{
    const int row = serial.isEmpty() ? -1 : indexOf(serial);
    return row >= 0 ? &m_printers.at(row) : nullptr;
}

QString PrinterListModel::activitySummary() const
{
    QStringList parts;
    for (const PrinterState &state : m_printers) {
        if (state.activity == Activity::Sending)
            parts << QStringLiteral("Sending %1 to %2 (%3 %)")
                         .arg(state.jobName, nameOf(state))
                         .arg(percentOf(state.bytesSent, state.bytesTotal));
        else if (state.isPrinting())
            parts << QStringLiteral("%1: %2, layer %3, %4 %")
                         .arg(nameOf(state), state.activityText())
                         .arg(state.layer)
                         .arg(state.percent);
    }
    return parts.join(QStringLiteral(" · "));
}

int PrinterListModel::transferPercent() const
{
    for (const PrinterState &state : m_printers) {
        if (state.activity == Activity::Sending)
            return percentOf(state.bytesSent, state.bytesTotal);
    }
    return -1;
}

void PrinterListModel::updatePrinter(const PrinterState &state)
{
    if (state.serial.isEmpty())
        return;
    const int row = indexOf(state.serial);
    if (row < 0) {
        beginInsertRows(QModelIndex(), m_printers.size(), m_printers.size());
        m_printers.append(state);
        endInsertRows();
        emit countChanged();
        changed();
        emit printerAdded(state.serial);
        return;
    }
    const bool ended
        = m_printers.at(row).outcome == PrinterState::Outcome::None && state.outcome != PrinterState::Outcome::None;
    m_printers[row] = state;
    emit dataChanged(index(row), index(row));
    changed();
    if (ended)
        emit printEnded(state.serial, QStringLiteral("%1: %2").arg(nameOf(state), state.outcomeText()));
}

void PrinterListModel::removePrinter(const QString &serial)
{
    const int row = indexOf(serial);
    if (row < 0)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_printers.removeAt(row);
    endRemoveRows();
    emit countChanged();
    changed();
}

void PrinterListModel::changed()
{
    ++m_revision;
    emit revisionChanged();
}
