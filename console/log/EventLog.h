#pragma once

#include "model/CStuInfo.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class EventLogStore;
class GroupOperations;
class PageDirectory;
class Overview;
class ReceivePath;
class ConsoleCore;
class WindowParts;

// The event log's way in for what the console does: the rows' texts and
// labels, and the subscriptions that write them, so that no feature and not
// the window writes a machine's or a group's row by hand.
class EventLog final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(EventLog)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    EventLog(EventLogStore& store, PageDirectory& pages, std::function<int()> currentTab, QObject* parent);

    // Host name, else address, else MAC.
    static QString machineLabel(const CStuInfo_PTR& machine);

    EventLogStore& store() const { return log; }
    // Which machines' events are logged (the flood guard); all without one.
    void setMachineEventFilter(std::function<bool(const CStuInfo_PTR&)> admit) { admit_event = std::move(admit); }

    // Registered, on line: what the receive path tells.
    void follow(const ReceivePath& receive);
    // Gone off line, once the rows say so.
    void follow(const Overview& overview);
    // Group changes that carry a row; a rename makes its rows reach the file at once.
    void follow(const GroupOperations& operations);

    void machineEvent(int kind, const CStuInfo_PTR& machine, const QString& detail = QString());
    // On line. In the first StartupMs after the start the machines that come
    // on line for the first time are one row ("启动：60 台上线"), so that a
    // restart does not bury the evidence; a machine back from off line
    // always has its own row.
    void online(const CStuInfo_PTR& machine);
    static constexpr qint64 StartupMs = 30 * 1000;
    // Gone off line; while its room is locked that is evidence the log keeps.
    void offline(const CStuInfo_PTR& machine);
    // A teacher's command on the current tab.
    void command(const QString& detail);
    std::function<void(const QString&)> commandWriter();
    void groupChange(const QString& page, const QString& detail, const CStuInfo_PTR& machine = nullptr);

private:
    bool inStartup() const;

    EventLogStore& log;
    PageDirectory& pages;
    std::function<int()> current_tab;
    std::function<bool(const CStuInfo_PTR&)> admit_event;
    const qint64 started_ms;
    // The start's row and the machines it counts; who went off line since.
    qint64 startup_row = 0;
    QSet<quint64> startup_machines;
    QSet<quint64> went_offline;
};
