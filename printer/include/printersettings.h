#pragma once

#include <QMap>
#include <QString>
#include <QVariant>

// The printer's settings file: Qt's INI format, all keys top-level, "Tessora_Client_Config"
// in the working folder by default.
//
// Keys: "printerSerial", "printerNickName", "broadcastingDirect" (true: access point mode),
// "broadcastingAdhoc" (older programs' name of broadcastingDirect, only read),
// "enableResinSettleTime", "resinSettleTime", "printerModel", "gParameter",
// "factoryGParameter", "grayscale" (grid JSON), "resinData" (resin list text).
//
// Log lines keep the session's operation names ("Client::readSettingsFromFile ..."), since
// the session is what reads and writes the file.
//
// Every write stores the whole file anew through a temporary file beside it: a write that
// fails (a full disk too) reports itself and leaves both the file and the values answered
// here as they were.

// The session's in-memory settings, with its values before the file is read.
struct PrinterSettingsValues {
    QString serial; // the session sets "OBW-TEST" + its random number
    QString nickname; // the session sets "Test Client" + the same number
    QString model = QStringLiteral("OBP100V1");
    bool broadcastingDirect = false;
    bool enableResinSettleTime = false;
    int resinSettleTime = 2000000;
    QString gParameter; // empty: not stored, the board link keeps its own value
    QString grayscale; // empty: not stored, the session sizes the grid and stores its JSON
    QString resinData; // empty when not stored; the session logs that and reads the list
};

class PrinterSettings
{
public:
    static inline const QString defaultFileName = QStringLiteral("Tessora_Client_Config");

    explicit PrinterSettings(const QString &fileName = defaultFileName);
    ~PrinterSettings();
    PrinterSettings(const PrinterSettings &) = delete;
    PrinterSettings &operator=(const PrinterSettings &) = delete;

    QString fileName() const { return m_fileName; }
    bool exists() const;

    // First start: logs "Client::writeInitialSettings" and writes the initial keys: the
    // serial, nickname and model of `values`, "broadcastingDirect" = true,
    // "enableResinSettleTime" = false, "resinSettleTime" = 0, "gParameter" = "g0" and
    // "resinData" = the default resin list. In `values`, broadcastingDirect becomes true and
    // resinData the default list text; the other in-memory values stay. False (logged) when
    // the file could not be written.
    bool writeInitial(PrinterSettingsValues &values);

    // Reads the keys in the session's order, each into `values` when present: printerSerial,
    // printerNickName, broadcastingDirect (when missing: logged, then "broadcastingAdhoc",
    // false when missing too, is used and stored as "broadcastingDirect"; then the value is
    // logged), grayscale, enableResinSettleTime, resinSettleTime, printerModel, gParameter,
    // resinData. A missing serial, nickname, settle flag, settle time or model is logged as
    // "Client::readSettingsFromFile - Error. No <key>". Ends with the serial and nickname
    // line. The retrofit flag is the caller's, from values.model.
    //
    // A file that is not valid INI is logged, moved aside to fileName() + ".damaged", and
    // written anew with the keys that could be read from it; reading then goes on as usual.
    void read(PrinterSettingsValues &values);

    // Stores one key at once (written to disk before returning). False (logged) when the
    // file could not be written; the key then keeps its previous value.
    bool setValue(const QString &key, const QVariant &value);
    QVariant value(const QString &key, const QVariant &defaultValue = QVariant()) const;
    bool contains(const QString &key) const;

private:
    // Reads the whole file into m_values; false when it is not valid INI.
    bool load();
    bool save(const QMap<QString, QVariant> &values, const char *operation);
    void setAsideDamagedFile();
    QString textValue(const QString &key) const;

    QString m_fileName;
    QMap<QString, QVariant> m_values; // what the file holds
};
