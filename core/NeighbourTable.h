#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

// What the OS knows of the lab's link: which MAC answers for which IPv4
// address (the ARP cache). A student can put any source address on a
// datagram, but the console's own traffic to the lab PCs made the OS learn
// their hardware addresses; a datagram whose MAC is not the one at its
// source address did not come from that PC. Read on a thread of its own, at
// most once per RefreshMs while someone asks, so the network thread only
// looks into the last reading and never waits for the OS.
class NeighbourTable final
{
public:
    enum class Verdict {
        Unknown, // the table has no entry for the address: no judgement
        Matches,
        Other, // the address belongs to another MAC
    };
    // Address (network order) to MAC key (the first octet in the lowest byte).
    using Entries = std::unordered_map<uint32_t, quint64>;
    using Reader = std::function<Entries()>;
    static constexpr int RefreshMs = 1000;

    // The OS's table (Linux: /proc/net/arp; Windows: GetIpNetTable2).
    NeighbourTable();
    // `reader` in place of the OS's (tests).
    explicit NeighbourTable(Reader reader);
    ~NeighbourTable();
    NeighbourTable(const NeighbourTable&) = delete;
    NeighbourTable& operator=(const NeighbourTable&) = delete;

    // Any thread: what the last reading says of `mac` at `address`. Only
    // the six bytes of a MAC are compared.
    Verdict check(uint32_t address, quint64 mac);
    // The MAC the last reading gives `address`, 0 for none.
    quint64 macAt(uint32_t address);
    // Reads the table now, on the calling thread.
    void refresh();
    // Any thread: reads `reader` from now on (tests put a fake in).
    void setReader(Reader reader);

    // Complete entries of /proc/net/arp's text.
    static Entries parseProcArp(const QByteArray& text);
    static Entries readSystem();

private:
    void run();

    std::mutex mutex;
    Reader reader; // under mutex
    std::shared_ptr<const Entries> entries; // under mutex
    bool asked = false; // under mutex: a look since the last reading
    bool running = true;
    std::condition_variable wake;
    std::thread thread;
};
