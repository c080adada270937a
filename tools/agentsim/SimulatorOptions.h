#pragma once

#include "core/Protocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

// What the command line asks of the simulator. Addresses are held in host
// byte order here (127.0.1.1 is 0x7F000101) because agent addresses are
// counted up from a base.
class SimulatorOptions final
{
public:
    enum class ParseResult { Run, Help, Error };

    static constexpr int DefaultAgents = 40;
    static constexpr int MaxAgents = 60000;
    static constexpr uint64_t DefaultMacBase = 0x5A0000000001ull;
    static constexpr uint32_t DefaultAddressBase = 0x7F000101u; // 127.0.1.1
    static constexpr uint32_t DefaultGroupInterface = 0x7F000001u; // 127.0.0.1
    static constexpr uint32_t DefaultStudentAddress = 0x7F000063u; // 127.0.0.99
    static constexpr uint32_t DefaultEscapeGroup = 0xEF4AFA01u; // 239.74.250.1

    // What the misbehaving student does; any combination.
    enum StudentMode : unsigned {
        JoinEscape = 1u << 0,
        ForeignLock = 1u << 1,
        StealHeartbeat = 1u << 2,
        StealRegister = 1u << 3,
        RogueBeacon = 1u << 4,
        BroadcastLock = 1u << 5,
        RepeatJoin = 1u << 6,
        Race = 1u << 7,
        UnicastLock = 1u << 8,
    };

    int agents = DefaultAgents;
    // 0: wait for the console's beacon.
    uint32_t consoleAddress = 0;
    uint16_t consolePort = Protocol::ConsolePort;
    int heartbeatMs = 1000;
    int jitterMs = 0;
    // 0: never report.
    int policyReportMs = 5000;
    // How many agents (the first ones) fall silent; -1 means all of them.
    int silentCount = -1;
    // Seconds from the start; below 0: never.
    double silentAfterSeconds = -1;
    // Seconds the silent agents stay silent; below 0: for good.
    double returnAfterSeconds = -1;
    // 0: run until SIGINT or SIGTERM.
    double durationSeconds = 0;
    // 0: report only at exit.
    int reportMs = 1000;
    bool summaryOnly = false;
    // One JSON line per agent when it falls silent or returns, with the
    // monotonic time of its last datagram, so a watcher can time the
    // console's off-line detection from the real last sign of life.
    bool silenceEvents = false;
    uint64_t macBase = DefaultMacBase;
    QString hostPrefix = QStringLiteral("PC-");
    // The agents' 8-bit code page for wire texts, as a Windows PC of that
    // locale has; empty = this system's (UTF-8 on Linux).
    QByteArray codePage;
    uint32_t addressBase = DefaultAddressBase;
    uint32_t groupInterface = DefaultGroupInterface;

    // 0: no student.
    unsigned studentModes = 0;
    uint32_t studentAddress = DefaultStudentAddress;
    // Seconds from the start, and never before the console is known.
    double studentAfterSeconds = 2;
    uint32_t escapeGroup = DefaultEscapeGroup;
    // foreign-lock datagrams per second to each group (and the rate of the
    // other lock attacks).
    int studentRate = 10;
    // The student's datagrams bear the console's address and port.
    bool studentForges = false;
    // Each datagram of the student bears a source address of its own
    // (127.200.0.0/16, a raw socket like studentForges).
    bool studentMadeUp = false;
    // The agent whose identity steal-heartbeat and steal-register use.
    int victim = 0;

    // `arguments` includes the program name first, as QCoreApplication gives
    // it. On Help, `message` is the help text; on Error, what is wrong.
    static ParseResult parse(const QStringList& arguments, SimulatorOptions& options, QString& message);

    // Agent addresses skip the .0 and .255 last octets, which some programs
    // treat as network or broadcast addresses.
    static uint32_t agentAddress(uint32_t base, int index);
    uint32_t agentAddress(int index) const { return agentAddress(addressBase, index); }
    uint64_t agentMac(int index) const { return macBase + static_cast<uint64_t>(index); }
    QString agentHostName(int index) const;
    int effectiveSilentCount() const;
    bool hasStudent(StudentMode mode) const { return (studentModes & mode) != 0; }
    // True when `address` is one of the agents' own addresses.
    bool isAgentAddress(uint32_t address) const;

    // "a.b.c.d" to a host-order address; false for anything else.
    static bool parseAddress(const QString& text, uint32_t& address);
    // "0x5A0000000001", "98956046499841" or the display form
    // "01:00:00:00:00:5A" (first octet least significant).
    static bool parseMac(const QString& text, uint64_t& mac);
    static QString addressText(uint32_t address);
};
