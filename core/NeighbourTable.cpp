#include "core/NeighbourTable.h"

#include "core/Protocol.h"
#include "model/MacAddress.h"

#include <QFile>
#include <QList>
#include <QString>

#include <chrono>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#endif

namespace {

constexpr quint64 SixBytes = 0xFFFFFFFFFFFFULL;

// Group (multicast, broadcast) and empty hardware addresses name no PC.
bool namesAPc(quint64 mac)
{
    return mac != 0 && (mac & 0x01) == 0;
}

} // namespace

NeighbourTable::NeighbourTable()
    : NeighbourTable(&NeighbourTable::readSystem)
{
}

NeighbourTable::NeighbourTable(Reader reader_)
    : reader(std::move(reader_))
    , entries(std::make_shared<const Entries>())
{
    thread = std::thread(&NeighbourTable::run, this);
}

NeighbourTable::~NeighbourTable()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        running = false;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
}

NeighbourTable::Verdict NeighbourTable::check(uint32_t address, quint64 mac)
{
    const quint64 known = macAt(address);
    if (known == 0)
        return Verdict::Unknown;
    return known == (mac & SixBytes) ? Verdict::Matches : Verdict::Other;
}

quint64 NeighbourTable::macAt(uint32_t address)
{
    std::shared_ptr<const Entries> current;
    {
        std::lock_guard<std::mutex> lock(mutex);
        asked = true;
        current = entries;
    }
    const auto it = current->find(address);
    return it == current->end() ? 0 : it->second;
}

void NeighbourTable::refresh()
{
    Reader read;
    {
        std::lock_guard<std::mutex> lock(mutex);
        read = reader;
    }
    auto fresh = std::make_shared<const Entries>(read());
    std::lock_guard<std::mutex> lock(mutex);
    entries = std::move(fresh);
}

void NeighbourTable::setReader(Reader reader_)
{
    std::lock_guard<std::mutex> lock(mutex);
    reader = std::move(reader_);
}

void NeighbourTable::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (running) {
        wake.wait_for(lock, std::chrono::milliseconds(RefreshMs), [this] { return !running; });
        // A console nobody sends to reads nothing.
        if (!running || !asked)
            continue;
        asked = false;
        lock.unlock();
        refresh();
        lock.lock();
    }
}

NeighbourTable::Entries NeighbourTable::parseProcArp(const QByteArray& text)
{
    // "IP address  HW type  Flags  HW address  Mask  Device", one line an
    // entry after the heading; flags 0x0 is an entry still being resolved.
    Entries parsed;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        if (fields.size() < 4)
            continue;
        bool ok = false;
        const uint flags = fields.at(2).toUInt(&ok, 16);
        if (!ok || (flags & 0x2) == 0)
            continue;
        const uint32_t address = Protocol::addressFromText(QString::fromLatin1(fields.at(0)));
        quint64 mac = 0;
        if (address == 0 || !MacAddress::fromDisplay(QString::fromLatin1(fields.at(3)), &mac) || !namesAPc(mac))
            continue;
        parsed[address] = mac;
    }
    return parsed;
}

#ifdef _WIN32

NeighbourTable::Entries NeighbourTable::readSystem()
{
    Entries parsed;
    PMIB_IPNET_TABLE2 table = nullptr;
    if (GetIpNetTable2(AF_INET, &table) != NO_ERROR || !table)
        return parsed;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        if (row.PhysicalAddressLength != 6 || row.State == NlnsUnreachable || row.State == NlnsIncomplete)
            continue;
        quint64 mac = 0;
        for (int octet = 0; octet < 6; ++octet)
            mac |= quint64(row.PhysicalAddress[octet]) << (8 * octet);
        if (namesAPc(mac))
            parsed[uint32_t(row.Address.Ipv4.sin_addr.s_addr)] = mac;
    }
    FreeMibTable(table);
    return parsed;
}

#else

NeighbourTable::Entries NeighbourTable::readSystem()
{
    QFile file(QStringLiteral("/proc/net/arp"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parseProcArp(file.readAll());
}

#endif
