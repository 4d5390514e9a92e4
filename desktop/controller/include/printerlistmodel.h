#pragma once

#include "printerstate.h"

#include <QAbstractListModel>
#include <QList>
#include <QString>
#include <QVariantMap>

// The connected printers as the window shows them: one row per printer, each the latest
// record its device session published (Server::printerStateChanged), in order of first
// appearance; a printer leaves with Server::printerDisconnected. Nothing else feeds it, so
// every page that shows printers shows the same, current truth.
//
// Pages use it as a list model (roles below), through `count` and get(row), and, outside
// delegates, through bySerial(serial) in a binding that also reads `revision`: revision
// changes with every record, so such bindings are evaluated again.
class PrinterListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(int revision READ revision NOTIFY revisionChanged)
    // What the printers do now, in words ("Sending part.ssj to Bench (40 %)", "Bench: printing
    // layer 12, 30 %"), printers that are ready left out; empty when every printer is ready.
    Q_PROPERTY(QString activitySummary READ activitySummary NOTIFY revisionChanged)
    // Percent of the job being sent to a printer, -1 while no job is being sent.
    Q_PROPERTY(int transferPercent READ transferPercent NOTIFY revisionChanged)
public:
    enum Role {
        SerialRole = Qt::UserRole + 1,
        NicknameRole,
        ModelRole, // "printerModel": a role "model" would hide the delegates' model object
        VersionRole,
        StatusRole,
        ActivityRole,
        ActivityTextRole,
        OutcomeTextRole,
        ErrorTextRole,
        LastErrorRole,
        JobNameRole,
        LayerRole,
        PercentRole,
        TimeLeftRole,
        TransferPercentRole,
        BusyRole,
        PrintingRole,
        CommandsWaitRole,
        Is75Role,
        GParameterRole,
        GParameterResetRole,
    };

    explicit PrinterListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return m_printers.size(); }
    int revision() const { return m_revision; }
    QString activitySummary() const;
    int transferPercent() const;

    // Every role of that row by its role name; empty for a row that does not exist.
    Q_INVOKABLE QVariantMap get(int row) const;
    // The row of that printer, empty when it is not connected.
    Q_INVOKABLE QVariantMap bySerial(const QString &serial) const;
    Q_INVOKABLE int indexOf(const QString &serial) const;

    // The record of a connected printer, nullptr otherwise.
    const PrinterState *find(const QString &serial) const;
    const QList<PrinterState> &printers() const { return m_printers; }

public slots:
    void updatePrinter(const PrinterState &state);
    void removePrinter(const QString &serial);

signals:
    void countChanged();
    void revisionChanged();
    void printerAdded(const QString &serial);
    // A print ended (finished, cancelled or failed): once per print, with the words for the
    // user ("Bench: Print cancelled").
    void printEnded(const QString &serial, const QString &message);

private:
    QVariant roleValue(const PrinterState &state, int role) const;
    QVariantMap rowMap(const PrinterState &state) const;
    void changed();

    QList<PrinterState> m_printers;
    int m_revision = 0;
};
