#include "fleetrun.h"

#include "crushedprintjob.h"
#include "fleetprinter.h"
#include "printjob.h"
#include "protocol.h"
#include "samplelayers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QString kReady = QLatin1String(Protocol::kStatusReady);
const QString kPrinting = QLatin1String(Protocol::kStatusPrinting);

QString serialOf(int index)
{
    return QStringLiteral("FLT-%1").arg(index + 1, 4, 10, QLatin1Char('0'));
}

QString listed(QStringList serials)
{
    serials.sort();
    return serials.isEmpty() ? QStringLiteral("none") : serials.join(QLatin1Char(' '));
}

// Waits with the events running until the condition holds or the time is up.
template<typename Condition> bool waitUntil(Condition condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

class FleetRun
{
public:
    explicit FleetRun(const FleetOptions &options)
        : m_o(options)
    {
    }

    FleetResult run()
    {
        m_r.printers = m_o.printers;
        if (prepare() && startDesktop() && connectFleet()) {
            loadPhase();
            killPhase();
            rejoinPhase();
        }
        endPhase();
        return m_r;
    }

private:
    enum class Group { Job, Pause, Cancel, Printing };

    bool check(bool ok, const QString &problem)
    {
        ++m_r.checks;
        if (!ok)
            m_r.problems << problem;
        return ok;
    }

    void note(const QString &text)
    {
        if (m_o.note)
            m_o.note(text);
    }

    // The desktop's figures, keeping track of the highest memory seen.
    DesktopProcess::Figures figures()
    {
        const DesktopProcess::Figures f = m_desktop.figures();
        m_r.peakRssKb = qMax(m_r.peakRssKb, qMax(f.vmRssKb, f.vmHwmKb));
        return f;
    }

    int scaled(int ms) const { return qMax(1, static_cast<int>(ms * m_o.timeScale)); }

    Group group(int index) const
    {
        if (index < m_jobs)
            return Group::Job;
        if (index < m_jobs + m_pauses)
            return Group::Pause;
        if (index < m_jobs + m_pauses + m_cancels)
            return Group::Cancel;
        return Group::Printing;
    }

    QStringList serialsOf(Group which) const
    {
        QStringList out;
        for (int i = 0; i < m_o.printers; ++i) {
            if (group(i) == which)
                out << serialOf(i);
        }
        return out;
    }

    // ---- preparation ---------------------------------------------------------------------

    bool prepare()
    {
        const int n = m_o.printers;
        if (!check(n >= 1, QStringLiteral("a fleet needs at least one printer")))
            return false;
        m_jobs = qBound(0, m_o.jobPrinters, n);
        m_pauses = qMin(qMax(1, n / 10), n - m_jobs);
        m_cancels = qMin(qMax(1, n / 20), n - m_jobs - m_pauses);

        if (m_o.workFolder.isEmpty()) {
            m_tempDir = std::make_unique<QTemporaryDir>();
            m_work = m_tempDir->path();
        } else {
            m_work = QDir(m_o.workFolder).absolutePath();
        }
        if (!check(QDir().mkpath(m_work + QStringLiteral("/desktop"))
                    && QDir().mkpath(m_work + QStringLiteral("/printers")),
                QStringLiteral("cannot create the work folder %1").arg(m_work)))
            return false;

        // A real job file, packed as tessora-cli ssj pack does, one copy per job printer
        // named after it: the name comes back in its progress reports.
        if (m_jobs > 0) {
            note(QStringLiteral("packing a job of %1 layers").arg(m_o.jobLayers));
            CrushedPrintJob job;
            job.setVersion(1);
            job.setName(QStringLiteral("fleet"));
            job.setDescription(QStringLiteral("fleet run"));
            job.setReservedNumber(0.0);
            job.setLayerThickness(0.05);
            job.clearAll(0);
            for (int i = 0; i < m_o.jobLayers; ++i) {
                QImage image = SampleLayers::layer(i, m_o.jobLayers, false);
                if (!check(job.addImage(&image), QStringLiteral("cannot pack layer %1 of the job").arg(i)))
                    return false;
            }
            const QString packed = m_work + QStringLiteral("/desktop/packed.ssj");
            if (!check(job.saveCPJ(packed), QStringLiteral("cannot write the job file: %1").arg(job.errorString())))
                return false;
            m_r.jobBytes = QFileInfo(packed).size();
            for (int i = 0; i < m_jobs; ++i) {
                const QString copy = jobFileOf(i);
                QFile::remove(copy);
                if (!check(QFile::copy(packed, copy), QStringLiteral("cannot copy the job to %1").arg(copy)))
                    return false;
            }
        }
        return true;
    }

    QString jobFileOf(int index) const { return m_work + QStringLiteral("/desktop/fleet-%1.ssj").arg(serialOf(index)); }

    bool startDesktop()
    {
        if (!check(m_discovery.bind(QHostAddress(QHostAddress::LocalHost), 0),
                QStringLiteral("cannot bind the discovery socket on 127.0.0.1: %1").arg(m_discovery.errorString())))
            return false;
        const int basePort
            = m_o.basePort > 0 ? m_o.basePort : 40000 + static_cast<int>(QCoreApplication::applicationPid() % 200) * 60;
        QStringList arguments = {QStringLiteral("--base-port"), QString::number(basePort),
            QStringLiteral("--discovery-port"), QString::number(m_discovery.localPort()),
            QStringLiteral("--time-scale"), QString::number(m_o.timeScale)};
        if (m_o.desktopLog)
            arguments << QStringLiteral("--log") << logPath();
        QFile::remove(logPath());
        note(QStringLiteral("starting %1").arg(m_o.desktopProgram));
        return check(m_desktop.start(m_o.desktopProgram, arguments), m_desktop.errorString());
    }

    QString logPath() const { return m_work + QStringLiteral("/desktop/LogFile_Tessora"); }

    // ---- connect -------------------------------------------------------------------------

    bool connectFleet()
    {
        const int n = m_o.printers;
        note(QStringLiteral("connecting %1 printers").arg(n));
        for (int i = 0; i < n; ++i) {
            FleetPrinter::Options options;
            options.serial = serialOf(i);
            options.nickname = QStringLiteral("Fleet printer %1").arg(i + 1);
            options.printingAtStart = group(i) != Group::Job;
            options.layerIntervalMs = m_o.layerIntervalMs;
            options.timeScale = m_o.timeScale;
            options.jobPath = m_work + QStringLiteral("/printers/MySSJFile-%1.ssj").arg(options.serial);
            if (group(i) == Group::Job)
                options.expectedJobPath = jobFileOf(i);
            m_printers.push_back(std::make_unique<FleetPrinter>(options));
        }

        // One socket receives the announcement for every printer; each printer that is not
        // connected then connects, as it would on its own datagram.
        QObject::connect(&m_discovery, &QUdpSocket::readyRead, &m_discovery, [this] {
            while (m_discovery.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = m_discovery.receiveDatagram();
                QString ip;
                int port = 0;
                ++m_datagrams;
                if (!check(Protocol::parseDatagram(datagram.data(), &ip, &port),
                        QStringLiteral("unreadable announcement: %1").arg(QString::fromLatin1(datagram.data()))))
                    continue;
                // Never connect anywhere but loopback.
                if (!check(ip == QLatin1String("127.0.0.1"),
                        QStringLiteral("the desktop announced %1 instead of 127.0.0.1").arg(ip)))
                    continue;
                for (const auto &printer : m_printers) {
                    if (!printer->isConnected() && !printer->isKilled() && !printer->isLost())
                        printer->connectTo(static_cast<quint16>(port));
                }
            }
        });

        QElapsedTimer clock;
        clock.start();
        for (int attempt = 0; attempt < 3 && m_datagrams == 0; ++attempt) {
            m_desktop.command({QStringLiteral("announce")});
            waitUntil([this] { return m_datagrams > 0 || !m_desktop.isRunning(); }, 5000);
        }
        if (!check(m_datagrams > 0, QStringLiteral("no announcement from the desktop reached 127.0.0.1")))
            return false;
        waitUntil(
            [this, n] { return m_desktop.connections.size() >= n || !m_desktop.isRunning(); }, qMax(30000, n * 500));
        m_r.connectSeconds = clock.elapsed() / 1000.0;
        m_r.connected = m_desktop.connections.size();
        m_r.afterConnect = figures();

        for (int i = 0; i < n; ++i) {
            const QString serial = serialOf(i);
            const QList<DesktopProcess::Connection> seen = m_desktop.connections.value(serial);
            if (!check(seen.size() == 1,
                    QStringLiteral("%1: handshake reported %2 times by the desktop").arg(serial).arg(seen.size())))
                continue;
            check(seen.first().nickname == m_printers[i]->nickname(),
                QStringLiteral("%1: nickname %2 reported, %3 sent")
                    .arg(serial, seen.first().nickname, m_printers[i]->nickname()));
            const QString status = group(i) == Group::Job ? kReady : kPrinting;
            check(seen.first().status == status,
                QStringLiteral("%1: status %2 reported, %3 sent").arg(serial, seen.first().status, status));
        }
        const QStringList all = allSerials();
        const QStringList unknown = QSet<QString>(m_desktop.connectedOrder.cbegin(), m_desktop.connectedOrder.cend())
                                        .subtract(QSet<QString>(all.cbegin(), all.cend()))
                                        .values();
        check(unknown.isEmpty(), QStringLiteral("handshakes of unknown serials: %1").arg(listed(unknown)));
        return check(m_r.connected == n,
            QStringLiteral("%1 of %2 printers completed their handshake within %3 s")
                .arg(m_r.connected)
                .arg(n)
                .arg(m_r.connectSeconds));
    }

    QStringList allSerials() const
    {
        QStringList out;
        for (int i = 0; i < m_o.printers; ++i)
            out << serialOf(i);
        return out;
    }

    // ---- load ----------------------------------------------------------------------------

    void setQuiet(bool quiet)
    {
        for (const auto &printer : m_printers)
            printer->setQuiet(quiet);
    }

    // Waits until the desktop counted, for every printer given, as many reports as it sent.
    QMap<QString, DesktopProcess::Progress> settle(const std::vector<FleetPrinter *> &which)
    {
        QMap<QString, DesktopProcess::Progress> progress;
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            if (!m_desktop.report(&progress, nullptr))
                return progress;
            const bool caughtUp = std::all_of(which.cbegin(), which.cend(),
                [&progress](const FleetPrinter *p) { return progress.value(p->serial()).count >= p->progressSent(); });
            if (caughtUp || clock.elapsed() > m_o.settleMs)
                return progress;
            QTest::qWait(300);
        }
    }

    std::vector<FleetPrinter *> printers(const std::function<bool(const FleetPrinter &)> &keep) const
    {
        std::vector<FleetPrinter *> out;
        for (const auto &printer : m_printers) {
            if (keep(*printer))
                out.push_back(printer.get());
        }
        return out;
    }

    void loadPhase()
    {
        note(QStringLiteral("load: %1 s of progress every %2 ms; jobs to %3 printers, pause and resume %4, cancel %5")
                 .arg(m_o.loadMs / 1000.0)
                 .arg(m_o.layerIntervalMs)
                 .arg(m_jobs)
                 .arg(m_pauses)
                 .arg(m_cancels));
        QElapsedTimer clock;
        clock.start();
        playLoadScript(clock);

        // The jobs must have been printed to the end before the printers fall quiet.
        waitUntil(
            [this] {
                return std::all_of(m_printers.cbegin(), m_printers.cbegin() + m_jobs,
                    [](const auto &p) { return p->printsDone() > 0 || p->isLost(); });
            },
            m_o.settleMs);
        setQuiet(true);
        m_r.loadSeconds = clock.elapsed() / 1000.0;
        note(QStringLiteral("load: quiet after %1 s; comparing the counts").arg(m_r.loadSeconds));

        const QMap<QString, DesktopProcess::Progress> progress
            = settle(printers([](const FleetPrinter &) { return true; }));
        // Events sent after the last report of a printer may still be on their way.
        waitUntil(
            [this] {
                return m_desktop.serialEvents.value(QStringLiteral("print-done")).size() >= m_jobs
                    && m_desktop.serialEvents.value(QStringLiteral("resume-done")).size() >= m_pauses;
            },
            5000);
        m_r.afterLoad = figures();

        QList<DesktopProcess::Device> devices;
        check(m_desktop.report(nullptr, &devices), QStringLiteral("the desktop did not answer a report"));
        checkLoadCounts(progress);
        checkLoadEvents();
        checkLoadDevices(devices);
    }

    // Jobs to the first printers at once; then, in tenths of the load, pause at 2, cancel at
    // 3, resume at 6; memory noted every second tenth.
    void playLoadScript(const QElapsedTimer &clock)
    {
        PrintJob job;
        job.numAdhesionLayers = 3;
        job.adhesionLayerCureTime = 30;
        job.cureTime = 8;
        job.layerThickness = 50;
        job.adhesionThickness = 50;
        job.resinName = QStringLiteral("Clear");
        for (int i = 0; i < m_jobs; ++i) {
            m_desktop.command({QStringLiteral("print"), serialOf(i), jobFileOf(i), job.toString()});
            ++m_r.jobsSent;
        }
        const int load = m_o.loadMs;
        for (int tenth = 1; tenth <= 10; ++tenth) {
            QTest::qWait(qMax<int>(1, static_cast<int>(static_cast<qint64>(load) * tenth / 10 - clock.elapsed())));
            if (tenth == 2) {
                for (const QString &serial : serialsOf(Group::Pause)) {
                    m_desktop.command({QStringLiteral("pause"), serial});
                    ++m_r.pausesSent;
                }
            } else if (tenth == 3) {
                for (const QString &serial : serialsOf(Group::Cancel)) {
                    m_desktop.command({QStringLiteral("cancel"), serial});
                    ++m_r.cancelsSent;
                }
            } else if (tenth == 6) {
                for (const QString &serial : serialsOf(Group::Pause))
                    m_desktop.command({QStringLiteral("resume"), serial});
            }
            if (tenth % 2 == 0)
                m_r.loadRssKb << figures().vmRssKb;
        }
    }

    // What each printer sent against what the desktop counted for it.
    void checkLoadCounts(const QMap<QString, DesktopProcess::Progress> &progress)
    {
        const int n = m_o.printers;
        for (int i = 0; i < n; ++i) {
            const FleetPrinter &p = *m_printers[i];
            const QString serial = p.serial();
            const DesktopProcess::Progress got = progress.value(serial);
            m_r.progressSent += p.progressSent();
            m_r.progressReceived += got.count;
            m_r.wrongSerial += got.wrongName;
            m_r.outOfOrder += got.outOfOrder;
            m_r.printerTimeouts += p.timeouts();
            m_r.heartbeatsToDesktop += p.heartbeatsSent();
            m_r.heartbeatsFromDesktop += p.heartbeatsReceived();
            m_r.jobsIntact += p.jobsIntact();
            check(got.count == p.progressSent(),
                QStringLiteral("%1: sent %2 progress reports, the desktop counted %3")
                    .arg(serial)
                    .arg(p.progressSent())
                    .arg(got.count));
            check(got.wrongName == 0,
                QStringLiteral("%1: %2 progress reports arrived under this serial with another printer's file name")
                    .arg(serial)
                    .arg(got.wrongName));
            check(got.outOfOrder == 0,
                QStringLiteral("%1: %2 progress reports arrived out of order").arg(serial).arg(got.outOfOrder));
            check(p.progressSent() == 0 || got.lastLayer == p.lastLayer(),
                QStringLiteral("%1: last layer %2 sent, %3 received")
                    .arg(serial)
                    .arg(p.lastLayer())
                    .arg(got.lastLayer));
            check(!p.isLost(), QStringLiteral("%1: connection lost during the load").arg(serial));
            const Group g = group(i);
            if (g == Group::Job) {
                check(p.jobsReceived() == 1 && p.jobsIntact() == 1,
                    QStringLiteral("%1: %2 jobs received, %3 intact (1 sent)")
                        .arg(serial)
                        .arg(p.jobsReceived())
                        .arg(p.jobsIntact()));
                check(p.printsDone() == 1, QStringLiteral("%1: the job was not printed to its end").arg(serial));
            } else {
                check(p.jobsReceived() == 0, QStringLiteral("%1: received a job sent to another printer").arg(serial));
            }
            check(p.pausesAnswered() == (g == Group::Pause ? 1 : 0) && p.resumesAnswered() == p.pausesAnswered(),
                QStringLiteral("%1: answered %2 pauses and %3 resumes")
                    .arg(serial)
                    .arg(p.pausesAnswered())
                    .arg(p.resumesAnswered()));
            check(p.cancels() == (g == Group::Cancel ? 1 : 0),
                QStringLiteral("%1: received %2 cancels").arg(serial).arg(p.cancels()));
        }
    }

    // The events the desktop reported, per serial, and what it should not have reported.
    void checkLoadEvents()
    {
        for (const auto &p : m_printers) {
            for (const QString &text : p->problems())
                check(false, text);
        }
        m_r.printsDone = m_desktop.serialEvents.value(QStringLiteral("print-done")).size();
        m_r.pausesDone = m_desktop.serialEvents.value(QStringLiteral("pause-done")).size();
        m_r.resumesDone = m_desktop.serialEvents.value(QStringLiteral("resume-done")).size();
        m_r.desktopTimeouts = m_desktop.timeouts.size();
        m_r.lostPrinters = static_cast<int>(printers([](const FleetPrinter &p) { return p.isLost(); }).size());

        const auto sameSerials = [this](const QString &event, const QStringList &expected) {
            const QStringList got = m_desktop.serialEvents.value(event);
            check(sorted(got) == sorted(expected),
                QStringLiteral("%1 reported by the desktop for %2; expected for %3")
                    .arg(event, listed(got), listed(expected)));
        };
        sameSerials(QStringLiteral("print-done"), serialsOf(Group::Job));
        sameSerials(QStringLiteral("pause-done"), serialsOf(Group::Pause));
        sameSerials(QStringLiteral("resume-done"), serialsOf(Group::Pause));
        for (const char *name : {"pause-started", "resume-started", "cancelled", "error"})
            sameSerials(QLatin1String(name), {});
        check(m_desktop.timeouts.isEmpty(),
            QStringLiteral("heartbeat time-outs on the desktop: %1").arg(listed(m_desktop.timeouts)));
        check(m_desktop.disconnected.isEmpty(),
            QStringLiteral("printers dropped by the desktop during the load: %1").arg(listed(m_desktop.disconnected)));
        check(m_desktop.warnings.isEmpty(),
            QStringLiteral("desktop warnings: %1").arg(m_desktop.warnings.mid(0, 5).join(QStringLiteral(" | "))));
        check(m_desktop.guiMessages.isEmpty(),
            QStringLiteral("messages for the user: %1")
                .arg(m_desktop.guiMessages.mid(0, 5).join(QStringLiteral(" | "))));
    }

    void checkLoadDevices(const QList<DesktopProcess::Device> &devices)
    {
        const int n = m_o.printers;
        // The desktop's view of each printer.
        QStringList deviceSerials;
        for (const DesktopProcess::Device &device : qAsConst(devices)) {
            deviceSerials << device.serial;
            const int index = device.serial.mid(4).toInt() - 1;
            if (!check(device.serial == serialOf(index) && index >= 0 && index < n,
                    QStringLiteral("the desktop keeps a device of unknown serial %1").arg(device.serial)))
                continue;
            check(device.handshakeCompleted,
                QStringLiteral("%1: handshake incomplete on the desktop").arg(device.serial));
            const Group g = group(index);
            if (g == Group::Cancel)
                continue; // a cancel from the desktop does not change the status it keeps
            const QString expected = g == Group::Job ? kReady : kPrinting;
            check(device.status == expected,
                QStringLiteral("%1: the desktop counts it as %2, expected %3")
                    .arg(device.serial, device.status, expected));
        }
        check(sorted(deviceSerials) == allSerials(),
            QStringLiteral("the desktop keeps %1 devices for %2 printers").arg(deviceSerials.size()).arg(n));
        check(m_r.afterLoad.sockets == devices.size() + 1,
            QStringLiteral("the desktop holds %1 sockets for %2 devices and its listener")
                .arg(m_r.afterLoad.sockets)
                .arg(devices.size()));
    }

    // ---- kill ----------------------------------------------------------------------------

    // What the desktop had counted before the kill.
    struct BeforeKill {
        QMap<QString, DesktopProcess::Progress> progress;
        QMap<QString, qint64> sent;
        int dropped = 0;
        int timeouts = 0;
    };

    void killPhase()
    {
        if (m_o.printers < 2)
            return;
        setQuiet(false);
        BeforeKill before;
        m_desktop.report(&before.progress, nullptr);
        m_r.beforeKill = figures();
        for (const auto &p : m_printers)
            before.sent.insert(p->serial(), p->progressSent());
        before.dropped = m_desktop.disconnected.size();
        before.timeouts = m_desktop.timeouts.size();

        QStringList silent;
        QStringList abrupt;
        killVictims(&silent, &abrupt);
        const QMap<QString, double> dropTime = waitForDrops(before.dropped, silent, abrupt);
        QTest::qWait(m_o.afterKillMs);
        setQuiet(true);

        const std::vector<FleetPrinter *> survivors = printers([](const FleetPrinter &p) { return !p.isKilled(); });
        const QMap<QString, DesktopProcess::Progress> after = settle(survivors);
        QList<DesktopProcess::Device> devices;
        check(
            m_desktop.report(nullptr, &devices), QStringLiteral("the desktop did not answer a report after the kill"));
        // Give the desktop a moment to let go of the dropped sockets.
        waitUntil([&] { return m_desktop.figures().sockets <= static_cast<int>(survivors.size()) + 1; }, 5000);
        m_r.afterKill = figures();
        m_r.devicesAfterKill = devices.size();

        checkDrops(before, silent, abrupt, dropTime);
        checkSurvivors(survivors, before, after, devices);
    }

    // Kills a tenth of the printers, but at least one per way of dying, spread over the
    // groups; the silent ones go to *silent, the closed and reset ones to *abrupt.
    void killVictims(QStringList *silent, QStringList *abrupt)
    {
        const int n = m_o.printers;
        const int count = qMin(n - 1, qMax(3, n / 10));
        QList<int> victims;
        for (int k = 0; k < count; ++k)
            victims << (k + 1) * n / count - 1;
        const FleetPrinter::KillMode modes[]
            = {FleetPrinter::KillMode::Close, FleetPrinter::KillMode::Silent, FleetPrinter::KillMode::Reset};
        for (int k = 0; k < victims.size(); ++k) {
            FleetPrinter &p = *m_printers[victims[k]];
            const FleetPrinter::KillMode mode = modes[k % 3];
            p.kill(mode);
            m_r.killed << p.serial();
            (mode == FleetPrinter::KillMode::Silent ? *silent : *abrupt) << p.serial();
        }
        m_r.killedSilent = silent->size();
        note(QStringLiteral("kill: %1 printers (%2 closed or reset, %3 silent): %4")
                 .arg(m_r.killed.size())
                 .arg(abrupt->size())
                 .arg(silent->size())
                 .arg(m_r.killed.join(QLatin1Char(' '))));
    }

    // Waits for the desktop to drop every killed printer; the time of each drop, in seconds.
    QMap<QString, double> waitForDrops(int droppedBefore, const QStringList &silent, const QStringList &abrupt)
    {
        QElapsedTimer clock;
        clock.start();
        QMap<QString, double> dropTime;
        const int limit = scaled(Protocol::kHeartbeatTimeoutMs) + 15000;
        while (clock.elapsed() < limit && m_desktop.isRunning()) {
            const QStringList dropped = m_desktop.disconnected.mid(droppedBefore);
            for (const QString &serial : dropped) {
                if (!dropTime.contains(serial))
                    dropTime.insert(serial, clock.elapsed() / 1000.0);
            }
            if (std::all_of(
                    m_r.killed.cbegin(), m_r.killed.cend(), [&](const QString &s) { return dropTime.contains(s); }))
                break;
            QTest::qWait(20);
        }
        for (const QString &serial : abrupt)
            m_r.longestDropSeconds = qMax(m_r.longestDropSeconds, dropTime.value(serial, -1));
        for (const QString &serial : silent)
            m_r.longestSilentDropSeconds = qMax(m_r.longestSilentDropSeconds, dropTime.value(serial, -1));
        note(QStringLiteral("kill: drops after %1 s (closed or reset) and %2 s (silent); reporting %3 s more")
                 .arg(m_r.longestDropSeconds)
                 .arg(m_r.longestSilentDropSeconds)
                 .arg(m_o.afterKillMs / 1000.0));
        return dropTime;
    }

    void checkDrops(const BeforeKill &before, const QStringList &silent, const QStringList &abrupt,
        const QMap<QString, double> &dropTime)
    {
        m_r.dropped = m_desktop.disconnected.mid(before.dropped);
        check(sorted(m_r.dropped) == sorted(m_r.killed),
            QStringLiteral("the desktop dropped %1; killed were %2").arg(listed(m_r.dropped), listed(m_r.killed)));
        const QStringList timedOut = m_desktop.timeouts.mid(before.timeouts);
        check(sorted(timedOut) == sorted(silent),
            QStringLiteral("heartbeat time-outs for %1; only the silent ones (%2) should need one")
                .arg(listed(timedOut), listed(silent)));
        for (const QString &serial : abrupt) {
            check(dropTime.value(serial, 1e9) < 5.0,
                QStringLiteral("%1: closed abruptly, dropped only after %2 s")
                    .arg(serial)
                    .arg(dropTime.value(serial, -1)));
        }
    }

    void checkSurvivors(const std::vector<FleetPrinter *> &survivors, const BeforeKill &before,
        const QMap<QString, DesktopProcess::Progress> &after, const QList<DesktopProcess::Device> &devices)
    {
        QStringList deviceSerials;
        for (const DesktopProcess::Device &device : qAsConst(devices))
            deviceSerials << device.serial;
        QStringList survivorSerials;
        for (const FleetPrinter *p : survivors) {
            survivorSerials << p->serial();
            const qint64 sentAfter = p->progressSent() - before.sent.value(p->serial());
            const qint64 receivedAfter = after.value(p->serial()).count - before.progress.value(p->serial()).count;
            m_r.progressSentAfterKill += sentAfter;
            m_r.progressReceivedAfterKill += receivedAfter;
            check(after.value(p->serial()).count == p->progressSent(),
                QStringLiteral("%1: after the kill, sent %2 progress reports in all, the desktop counted %3")
                    .arg(p->serial())
                    .arg(p->progressSent())
                    .arg(after.value(p->serial()).count));
            check(after.value(p->serial()).wrongName == 0,
                QStringLiteral("%1: reports under a wrong serial after the kill").arg(p->serial()));
            if (p->isPrinting())
                check(receivedAfter > 0,
                    QStringLiteral("%1: no progress reached the desktop after the kill").arg(p->serial()));
            check(!p->isLost(), QStringLiteral("%1: survivor lost its connection").arg(p->serial()));
            check(p->timeouts() == 0, QStringLiteral("%1: survivor timed out the desktop").arg(p->serial()));
            for (const QString &text : p->problems())
                check(false, text);
        }
        check(sorted(deviceSerials) == sorted(survivorSerials),
            QStringLiteral("after the kill the desktop keeps %1 devices for %2 survivors")
                .arg(deviceSerials.size())
                .arg(survivorSerials.size()));
        check(m_r.afterKill.sockets == deviceSerials.size() + 1,
            QStringLiteral("after the kill the desktop holds %1 sockets for %2 devices and its listener")
                .arg(m_r.afterKill.sockets)
                .arg(deviceSerials.size()));
        check(m_desktop.warnings.isEmpty(),
            QStringLiteral("desktop warnings: %1").arg(m_desktop.warnings.mid(0, 5).join(QStringLiteral(" | "))));
    }

    // ---- rejoin --------------------------------------------------------------------------

    bool rejoinCheck(bool ok, const QString &problem)
    {
        ++m_r.checks;
        if (!ok)
            m_r.rejoinProblems << problem;
        return ok;
    }

    void rejoinPhase()
    {
        const QList<int> chosen = chooseRejoiners();
        if (chosen.isEmpty() || !m_desktop.isRunning())
            return;
        const int droppedBefore = m_desktop.disconnected.size();
        const QMap<QString, int> handshakesBefore = restartRejoiners(chosen);
        note(QStringLiteral("rejoin: %1 printers restart and connect again before their old connections time out: %2")
                 .arg(m_r.rejoined.size())
                 .arg(m_r.rejoined.join(QLatin1Char(' '))));
        const int datagrams = m_datagrams;
        m_desktop.command({QStringLiteral("announce")});
        waitUntil(
            [&] {
                return std::all_of(m_r.rejoined.cbegin(), m_r.rejoined.cend(), [&](const QString &serial) {
                    return m_desktop.connections.value(serial).size() > handshakesBefore.value(serial);
                });
            },
            10000);
        check(m_datagrams > datagrams, QStringLiteral("rejoin: no announcement reached 127.0.0.1"));
        for (const QString &serial : qAsConst(m_r.rejoined)) {
            if (m_desktop.connections.value(serial).size() > handshakesBefore.value(serial))
                ++m_r.rejoinHandshakes;
        }

        // The user prints on the printer that just came back.
        PrintJob job;
        job.layerThickness = 50;
        job.adhesionThickness = 50;
        job.cureTime = 8;
        job.resinName = QStringLiteral("Clear");
        for (int i : qAsConst(chosen)) {
            m_desktop.command({QStringLiteral("print"), serialOf(i), jobFileOf(i), job.toString()});
            if (m_desktop.disconnected.mid(droppedBefore).contains(serialOf(i)))
                ++m_r.rejoinWindowMissed;
        }

        // The old connections end by the desktop's heartbeat time-out.
        waitUntil(
            [&] {
                const QStringList dropped = m_desktop.disconnected.mid(droppedBefore);
                return std::all_of(m_r.rejoined.cbegin(), m_r.rejoined.cend(),
                    [&](const QString &serial) { return dropped.contains(serial); });
            },
            scaled(Protocol::kHeartbeatTimeoutMs) + 10000);
        QTest::qWait(qMax(1000, scaled(Protocol::kHeartbeatIntervalMs) * 2));
        QList<DesktopProcess::Device> devices;
        check(m_desktop.report(nullptr, &devices),
            QStringLiteral("the desktop did not answer a report after the rejoin"));
        checkRejoiners(chosen, devices);
    }

    // The last printers of the printing group that are still alive, one in fifty unless
    // the options say how many.
    QList<int> chooseRejoiners() const
    {
        const int wanted = m_o.rejoiners >= 0 ? m_o.rejoiners : qMax(1, m_o.printers / 50);
        QList<int> chosen;
        for (int i = m_o.printers - 1; i >= 0 && chosen.size() < wanted; --i) {
            const FleetPrinter &p = *m_printers[i];
            if (group(i) == Group::Printing && !p.isKilled() && !p.isLost())
                chosen.prepend(i);
        }
        return chosen;
    }

    // Each chosen printer loses its power and starts again as a new FleetPrinter; the
    // handshakes the desktop had reported for each serial before.
    QMap<QString, int> restartRejoiners(const QList<int> &chosen)
    {
        const QString packed = m_work + QStringLiteral("/desktop/packed.ssj");
        QMap<QString, int> handshakesBefore;
        for (int i : qAsConst(chosen)) {
            // The power goes: no goodbye, not another byte. The printer starts again and
            // connects on the next announcement, with the serial and nickname it had.
            m_printers[i]->kill(FleetPrinter::KillMode::Silent);
            FleetPrinter::Options options;
            options.serial = serialOf(i);
            options.nickname = m_printers[i]->nickname();
            options.layerIntervalMs = m_o.layerIntervalMs;
            options.timeScale = m_o.timeScale;
            options.jobPath = m_work + QStringLiteral("/printers/MySSJFile-%1-rejoined.ssj").arg(options.serial);
            options.expectedJobPath = jobFileOf(i);
            QFile::remove(jobFileOf(i));
            QFile::copy(packed, jobFileOf(i));
            m_printers.push_back(std::make_unique<FleetPrinter>(options));
            m_r.rejoined << options.serial;
            handshakesBefore.insert(options.serial, m_desktop.connections.value(options.serial).size());
        }
        return handshakesBefore;
    }

    void checkRejoiners(const QList<int> &chosen, const QList<DesktopProcess::Device> &devices)
    {
        for (int k = 0; k < chosen.size(); ++k) {
            const QString serial = serialOf(chosen[k]);
            const FleetPrinter &back = *m_printers[m_printers.size() - chosen.size() + k];
            const int held = static_cast<int>(std::count_if(
                devices.cbegin(), devices.cend(), [&](const DesktopProcess::Device &d) { return d.serial == serial; }));
            rejoinCheck(held == 1 && back.isConnected(),
                QStringLiteral("%1: rejoined; the desktop holds %2 devices of it, the printer is %3")
                    .arg(serial)
                    .arg(held)
                    .arg(back.isConnected() ? QStringLiteral("connected") : QStringLiteral("not connected")));
            if (back.isConnected() && !m_desktop.shownConnected(serial)) {
                m_r.shownGoneWhileConnected << serial;
                rejoinCheck(false,
                    QStringLiteral("%1: rejoined and connected, but the user interface was last told it is gone "
                                   "(events: %2)")
                        .arg(serial, m_desktop.presence.filter(serial).join(QLatin1Char(' '))));
            }
            if (back.jobsReceived() == 0) {
                m_r.rejoinJobsLost << serial;
                rejoinCheck(
                    false, QStringLiteral("%1: a job sent after the printer rejoined never reached it").arg(serial));
            }
            for (const QString &text : back.problems())
                rejoinCheck(false, text);
        }
    }

    // ---- end -----------------------------------------------------------------------------

    void endPhase()
    {
        if (!m_desktop.pid())
            return;
        note(QStringLiteral("asking the desktop to quit"));
        const bool ended = m_desktop.quit();
        m_r.desktopExitCode = m_desktop.exitCode();
        m_r.desktopEndedCleanly = ended && !m_desktop.crashed() && m_desktop.exitCode() == 0;
        m_r.desktopLogBytes = QFileInfo(logPath()).size();
        const QString errors = m_desktop.standardError();
        check(m_r.desktopEndedCleanly,
            QStringLiteral("the desktop did not end cleanly (exit code %1%2)")
                .arg(m_desktop.exitCode())
                .arg(m_desktop.crashed() ? QStringLiteral(", crashed") : QString()));
        check(!errors.contains(QLatin1String("Sanitizer")) && !errors.contains(QLatin1String("runtime error")),
            QStringLiteral("sanitizer report from the desktop:\n%1").arg(errors.left(20000)));
    }

    FleetOptions m_o;
    FleetResult m_r;
    int m_jobs = 0;
    int m_pauses = 0;
    int m_cancels = 0;
    std::unique_ptr<QTemporaryDir> m_tempDir;
    QString m_work;
    DesktopProcess m_desktop;
    QUdpSocket m_discovery;
    int m_datagrams = 0;
    std::vector<std::unique_ptr<FleetPrinter>> m_printers;
};

QString kb(qint64 value)
{
    return QStringLiteral("%1 MB").arg(value / 1024.0, 0, 'f', 1);
}

} // namespace

FleetResult runFleet(const FleetOptions &options)
{
    FleetRun run(options);
    return run.run();
}

namespace {

// The connection, the load and what travelled in it.
QStringList trafficLines(const FleetResult &r)
{
    QStringList lines;
    lines << QStringLiteral("printers:                 %1, %2 connected in %3 s")
                 .arg(r.printers)
                 .arg(r.connected)
                 .arg(r.connectSeconds, 0, 'f', 2);
    lines << QStringLiteral("load:                     %1 s").arg(r.loadSeconds, 0, 'f', 1);
    lines << QStringLiteral(
        "progress reports:         %1 sent, %2 counted by the desktop (%3/s); %4 under a wrong serial, %5 out of order")
                 .arg(r.progressSent)
                 .arg(r.progressReceived)
                 .arg(r.loadSeconds > 0 ? r.progressReceived / r.loadSeconds : 0.0, 0, 'f', 0)
                 .arg(r.wrongSerial)
                 .arg(r.outOfOrder);
    lines << QStringLiteral("heartbeat time-outs:      %1 on the desktop, %2 on the printers; %3 printers lost")
                 .arg(r.desktopTimeouts)
                 .arg(r.printerTimeouts)
                 .arg(r.lostPrinters);
    lines << QStringLiteral("heartbeats:               %1 to the desktop, %2 from it")
                 .arg(r.heartbeatsToDesktop)
                 .arg(r.heartbeatsFromDesktop);
    lines << QStringLiteral("jobs:                     %1 sent (%2 KB each), %3 received intact, %4 printed to the end")
                 .arg(r.jobsSent)
                 .arg(r.jobBytes / 1024)
                 .arg(r.jobsIntact)
                 .arg(r.printsDone);
    lines << QStringLiteral("pause/resume/cancel:      %1 paused (%2 pause done, %3 resume done), %4 cancelled")
                 .arg(r.pausesSent)
                 .arg(r.pausesDone)
                 .arg(r.resumesDone)
                 .arg(r.cancelsSent);
    return lines;
}

// The desktop's processor time, memory, threads and sockets.
QStringList desktopLines(const FleetResult &r)
{
    QStringList lines;
    const double loadCpu = r.afterLoad.cpuSeconds - r.afterConnect.cpuSeconds;
    lines << QStringLiteral("desktop CPU (load):       %1 s over %2 s = %3 % of one core")
                 .arg(loadCpu, 0, 'f', 2)
                 .arg(r.loadSeconds, 0, 'f', 1)
                 .arg(r.loadSeconds > 0 ? 100.0 * loadCpu / r.loadSeconds : 0.0, 0, 'f', 1);
    lines << QStringLiteral("desktop CPU (whole run):  %1 s")
                 .arg(r.afterKill.valid ? r.afterKill.cpuSeconds : r.afterLoad.cpuSeconds, 0, 'f', 2);
    QStringList during;
    for (qint64 value : r.loadRssKb)
        during << kb(value);
    lines << QStringLiteral(
        "desktop memory:           VmHWM %1 after connect, %2 after load; peak %3; VmRSS %4 at the end")
                 .arg(kb(r.afterConnect.vmHwmKb), kb(r.afterLoad.vmHwmKb), kb(r.peakRssKb), kb(r.afterKill.vmRssKb));
    lines << QStringLiteral("desktop VmRSS in load:    %1").arg(during.join(QStringLiteral(" -> ")));
    lines << QStringLiteral("desktop threads/sockets:  %1/%2 after load, %3/%4 after the kill")
                 .arg(r.afterLoad.threads)
                 .arg(r.afterLoad.sockets)
                 .arg(r.afterKill.threads)
                 .arg(r.afterKill.sockets);
    return lines;
}

} // namespace

QString FleetResult::summary() const
{
    QStringList lines = trafficLines(*this) + desktopLines(*this);
    lines << QStringLiteral("kill:                     %1 killed (%2 silent), %3 dropped; closed/reset dropped within "
                            "%4 s, silent within %5 s")
                 .arg(killed.size())
                 .arg(killedSilent)
                 .arg(dropped.size())
                 .arg(longestDropSeconds, 0, 'f', 2)
                 .arg(longestSilentDropSeconds, 0, 'f', 2);
    lines << QStringLiteral("killed:                   %1").arg(killed.join(QLatin1Char(' ')));
    lines << QStringLiteral("dropped:                  %1").arg(dropped.join(QLatin1Char(' ')));
    lines << QStringLiteral("after the kill:           %1 devices kept; %2 progress reports sent, %3 counted")
                 .arg(devicesAfterKill)
                 .arg(progressSentAfterKill)
                 .arg(progressReceivedAfterKill);
    if (!rejoined.isEmpty()) {
        lines << QStringLiteral(
            "rejoin:                   %1 restarted and rejoined (%2 handshakes); %3 shown as gone while "
            "connected; %4 jobs lost")
                     .arg(rejoined.size())
                     .arg(rejoinHandshakes)
                     .arg(shownGoneWhileConnected.size())
                     .arg(rejoinJobsLost.size());
    }
    lines << QStringLiteral("desktop end:              %1 (exit code %2); log %3")
                 .arg(desktopEndedCleanly ? QStringLiteral("clean") : QStringLiteral("NOT clean"))
                 .arg(desktopExitCode)
                 .arg(kb(desktopLogBytes / 1024));
    const int failed = problems.size() + rejoinProblems.size();
    lines << QStringLiteral("checks:                   %1 passed, %2 failed").arg(checks - failed).arg(failed);
    return lines.join(QLatin1Char('\n'));
}
