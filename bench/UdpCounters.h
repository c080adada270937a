#pragma once

#include <cstdint>

// This network namespace's UDP counters (/proc/self/net/snmp).
struct UdpCounters
{
    // Datagrams a program has read.
    uint64_t inDatagrams = 0;
    // Datagrams dropped because a socket's receive queue was full.
    uint64_t receiveBufferErrors = 0;

    static UdpCounters read();
};
