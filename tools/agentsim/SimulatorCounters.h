#pragma once

#include <cstdint>

// Totals over every agent and socket of one run, for the summary line.
struct SimulatorCounters
{
    uint64_t sent = 0;
    uint64_t sendErrors = 0;
    uint64_t registers = 0;
    uint64_t heartbeats = 0;
    uint64_t policyReports = 0;
    // Datagrams read from any socket.
    uint64_t received = 0;
    // A console datagram too short, of the wrong length, or not decodable.
    uint64_t malformed = 0;
    // Well formed, but nobody to take it: unknown id, a group no agent is in
    // (one the console gave agents that were moved elsewhere stays joined),
    // a silent agent, a unicast to the shared socket.
    uint64_t ignored = 0;
    uint64_t beacons = 0;
    uint64_t reregisters = 0;
    // MSG_ADMIN_JOIN_GROUP datagrams from the console, unicast or not.
    uint64_t consoleJoins = 0;
    uint64_t joinErrors = 0;
};
