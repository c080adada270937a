#include "ProcessUsage.h"

#include <QDir>
#include <QFile>

#include <ctime>
#include <unistd.h>

namespace {

double ticksPerSecond()
{
    static const double ticks = double(sysconf(_SC_CLK_TCK));
    return ticks;
}

// Fields after the command name, which may itself hold spaces or ')'.
QList<QByteArray> statFields(const QByteArray& stat)
{
    const int close = stat.lastIndexOf(')');
    return close < 0 ? QList<QByteArray>() : stat.mid(close + 2).split(' ');
}

} // namespace

ProcessUsage::Cpu ProcessUsage::readStat(const QString& path)
{
    QFile file(path);
    Cpu cpu;
    if (!file.open(QIODevice::ReadOnly))
        return cpu;
    const QList<QByteArray> fields = statFields(file.readAll());
    // utime and stime are fields 14 and 15 of stat(5); the list starts at 3.
    if (fields.size() > 12) {
        cpu.user = fields.at(11).toDouble() / ticksPerSecond();
        cpu.system = fields.at(12).toDouble() / ticksPerSecond();
    }
    return cpu;
}

ProcessUsage::Cpu ProcessUsage::processCpu()
{
    return readStat(QStringLiteral("/proc/self/stat"));
}

QList<ProcessUsage::ThreadCpu> ProcessUsage::threadCpu()
{
    QList<ThreadCpu> threads;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        ThreadCpu thread;
        thread.tid = tid.toInt();
        thread.cpu = readStat(tasks.filePath(tid + QStringLiteral("/stat")));
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly))
            thread.name = QString::fromLocal8Bit(comm.readAll().trimmed());
        threads << thread;
    }
    return threads;
}

qint64 ProcessUsage::statusField(const char* name)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

qint64 ProcessUsage::residentKiB()
{
    return statusField("VmRSS");
}

qint64 ProcessUsage::peakResidentKiB()
{
    return statusField("VmHWM");
}

int ProcessUsage::threadCount()
{
    return int(statusField("Threads"));
}

int64_t ProcessUsage::monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t ProcessUsage::realtimeNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double ProcessUsage::sinceProcessStartMs()
{
    QFile file(QStringLiteral("/proc/self/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statFields(file.readAll());
    if (fields.size() < 20)
        return 0;
    // starttime (field 22) counts clock ticks since boot, as CLOCK_BOOTTIME does.
    const double started = fields.at(19).toDouble() / ticksPerSecond();
    timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (double(now.tv_sec) + double(now.tv_nsec) / 1e9 - started) * 1000.0;
}
