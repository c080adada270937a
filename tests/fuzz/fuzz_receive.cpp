// libFuzzer target: the console's whole receive handler, on a real main
// window with its registry, pages and threads.
//
// Input layout: bytes 0-3 pick the sender's address (always in 127.0.0.0/8:
// the handler's replies go there), bytes 4-5 its port, byte 6 what the
// fixture does around the datagram (see Flags), byte 7 the target group of a
// move; the rest is the datagram. Each datagram arrives on a channel whose
// endpoint is gone, as after a stop, so channel replies fail quietly.
//
// The window binds the console's UDP port: run this only through
// scripts/netns (scripts/fuzz does).

#include "core/QStudentManage.h"
#include "core/SocketChannel.h"
#include "core/UdpServer.h"
#include "dialogs/MessageBox.h"
#include "groups/MachineMenu.h"
#include "groups/NewMachineQueue.h"
#include "network/ReceivePath.h"
#include "pages/QStudentGroupWidget.h"
#include "RokVtxAdmin.h"
#include "tableview/QtRokTableView.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr size_t ControlSize = 8;
// Most identities fall into this range, so the registry and the tables stay
// bounded over millions of inputs while machines keep coming and going.
constexpr quint64 BoundedMacs = 512;
// Fully random identities are let in while the registry is smaller than this.
constexpr int RandomMacBudget = 3000;
constexpr int ProcessEventsEvery = 32;
constexpr int ConsistencyCheckEvery = 4096;
const char* const GroupNames[] = { "机房A", "机房B" };

enum Flags : uint8_t {
    MacModeMask = 0x03, // 3: the identity as given; otherwise folded into BoundedMacs
    DeliverTwice = 0x04,
    DeleteAfter = 0x08, // the teacher deletes the machine once its rows are shown
    MoveAfter = 0x10, // the teacher moves the machine into a group
    FlushAfter = 0x20, // the UI thread runs before the next datagram
};

void fail(const char* what, quint64 mac = 0)
{
    std::fprintf(stderr, "fuzz_receive: %s (mac %llu)\n", what, static_cast<unsigned long long>(mac));
    std::abort();
}

} // namespace

class ReceiveFuzzFixture final
{
public:
    ReceiveFuzzFixture()
    {
        if (qgetenv("ROK_NETNS_ISOLATED") != "1") {
            std::fprintf(stderr, "fuzz_receive binds the console's port: run it through scripts/netns\n");
            std::exit(2);
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
        app = std::make_unique<QApplication>(argc, argv);
        dir = std::make_unique<QTemporaryDir>();
        if (!dir->isValid())
            fail("no temporary directory");
        seedDatabase();

        // A box would block for ever offscreen; the check below reports instead.
        MessageBox::setNextAnswer(QMessageBox::Ok);
        window = std::make_unique<RokVtxAdmin>(dir->path());
        MessageBox::setNextAnswer(QMessageBox::NoButton);
        if (!window->networkReady())
            fail("the console could not bind its port");

        // Let the start-up read of config.conf and the first ticks happen.
        QElapsedTimer started;
        started.start();
        while (started.elapsed() < 300) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        checkConsistency();
    }

    ~ReceiveFuzzFixture()
    {
        flush();
        checkConsistency();
        window.reset();
        app.reset();
    }

    ReceiveFuzzFixture(const ReceiveFuzzFixture&) = delete;
    ReceiveFuzzFixture& operator=(const ReceiveFuzzFixture&) = delete;

    void feed(const uint8_t* data, size_t size)
    {
        uint8_t control[ControlSize] = {};
        const size_t head = size < ControlSize ? size : ControlSize;
        std::memcpy(control, data, head);
        const uint32_t address = (uint32_t(127) << 24) | (uint32_t(control[1]) << 16) | (uint32_t(control[2]) << 8)
            | control[3];
        const uint16_t port = static_cast<uint16_t>(control[4] | (control[5] << 8));
        const uint8_t flags = control[6];

        // Exactly the datagram's bytes, so a read past its end is caught.
        std::vector<char> datagram(data + head, data + size);
        quint64 mac = 0;
        if (datagram.size() >= 8) {
            std::memcpy(&mac, datagram.data(), sizeof mac);
            if (mac != 0 && ((flags & MacModeMask) != MacModeMask || !random_macs_allowed)) {
                mac = 1 + mac % BoundedMacs;
                std::memcpy(datagram.data(), &mac, sizeof mac);
            }
        }

        auto channel = std::make_shared<SocketChannel>(std::weak_ptr<UdpServerCore>(), toNetworkOrder(address), port);
        const UdpBuffer buffer(datagram.empty() ? nullptr : datagram.data(), datagram.size());
        window->parts().receive->onUdpMessage(channel, buffer);
        if (flags & DeliverTwice)
            window->parts().receive->onUdpMessage(channel, buffer);

        if (mac != 0 && (flags & (DeleteAfter | MoveAfter))) {
            // The teacher acts on rows that are shown, so the UI catches up first.
            flush();
            window->parts().machineMenu->setSelectedMac(mac);
            if (flags & DeleteAfter)
                window->parts().machineMenu->deleteSelected();
            else
                window->parts().machineMenu->moveTo(QString::fromUtf8(GroupNames[control[7] & 1]));
        }

        ++inputs;
        if ((flags & FlushAfter) || inputs % ProcessEventsEvery == 0)
            flush();
        if (inputs % ConsistencyCheckEvery == 0) {
            flush();
            checkConsistency();
        }
    }

private:
    static uint32_t toNetworkOrder(uint32_t hostOrder)
    {
        const uint8_t bytes[4] = { uint8_t(hostOrder >> 24), uint8_t(hostOrder >> 16), uint8_t(hostOrder >> 8),
            uint8_t(hostOrder) };
        uint32_t value = 0;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    // Two groups with a few members, so replies also come from group pages.
    void seedDatabase()
    {
        QStudentManage registry;
        if (!registry.openDatabase(QDir(dir->path()).absoluteFilePath(QStringLiteral("data.sqlite3"))))
            fail("cannot create the database");
        for (int g = 0; g < 2; ++g) {
            const QString name = QString::fromUtf8(GroupNames[g]);
            registry.addGroup(name, g + 1);
            for (quint64 mac = 1 + quint64(g); mac <= 32; mac += 2) {
                registry.updateMachine(mac, QStringLiteral("PC-%1").arg(mac), QStringLiteral("127.0.0.%1").arg(mac),
                                       false);
                registry.moveMachineToGroup(name, mac);
            }
        }
        if (!registry.saveAll())
            fail("cannot save the seed database");
    }

    void flush()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
            // New machines wait up to NewMachineQueue::PlaceMs for their rows.
            window->parts().receive->newMachines().placeAll();
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
    }

    static QSet<quint64> macsOfRows(const QStudentGroupWidget* page, quint64& duplicate)
    {
        QSet<quint64> macs;
        duplicate = 0;
        for (int row = 0; row < page->machine_table->getRowCount(); ++row) {
            const quint64 mac = page->macAtRow(row);
            if (macs.contains(mac))
                duplicate = mac;
            macs.insert(mac);
        }
        return macs;
    }

    // With the UI thread caught up, the pages show exactly what the registry
    // holds: every machine once on "全部" and once on the page of its group.
    void checkConsistency()
    {
        const QMap<quint64, CStuInfo_PTR> machines = window->core().registry().allMachines();
        random_macs_allowed = machines.size() < RandomMacBudget;

        quint64 duplicate = 0;
        const QSet<quint64> all = macsOfRows(window->allPage(), duplicate);
        if (duplicate)
            fail("a machine has two rows on the all-machines page", duplicate);
        for (auto it = machines.cbegin(); it != machines.cend(); ++it)
            if (!all.contains(it.key()))
                fail("a registered machine has no row on the all-machines page", it.key());
        for (const quint64 mac : all)
            if (!machines.contains(mac))
                fail("a row on the all-machines page shows an unregistered machine", mac);

        QSet<quint64> grouped;
        QTabWidget* tabs = window->tabWidget();
        for (int i = 1; i < tabs->count(); ++i) {
            const QStudentGroupWidget* page = window->pageAt(i);
            if (!page)
                continue;
            const QString name = tabs->tabText(i);
            const bool ungrouped = page == window->ungroupedPage();
            for (const quint64 mac : macsOfRows(page, duplicate)) {
                const CStuInfo_PTR machine = machines.value(mac);
                if (!machine)
                    fail("a group page shows an unregistered machine", mac);
                if (machine->group_name != (ungrouped ? QString() : name))
                    fail("a machine is shown on a page that is not its group's", mac);
                if (grouped.contains(mac))
                    fail("a machine is shown on two group pages", mac);
                grouped.insert(mac);
            }
            if (duplicate)
                fail("a machine has two rows on one page", duplicate);
        }
        if (grouped.size() != machines.size())
            fail("a registered machine is missing from its group's page");
    }

    int argc = 1;
    char arg0[16] = "fuzz_receive";
    char* argv[2] = { arg0, nullptr };
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<RokVtxAdmin> window;
    bool random_macs_allowed = true;
    quint64 inputs = 0;
};

namespace {

ReceiveFuzzFixture* fixture = nullptr;

// libFuzzer leaves through exit(); the window shuts down as the console's
// does at the end of a run (threads joined, files written).
void tearDown()
{
    delete fixture;
    fixture = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fixture = new ReceiveFuzzFixture;
    std::atexit(tearDown);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fixture->feed(data, size);
    return 0;
}
