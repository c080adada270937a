// libFuzzer target: the "config.conf" reader on arbitrary text.
//
// Beyond not crashing, whatever the reader accepts must survive the writer:
// the entries read from any file, written and read again, are the same
// entries. That is the promise the console relies on at every exit.

#include "storage/GroupSettingsFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char* what, const QByteArray& detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_groupsettings: %s\n%s\n", what, detail.constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    // Raw data, not a copy: nothing may rely on a terminating NUL.
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<int>(size));

    QList<GroupSettings> entries;
    QString error;
    if (!GroupSettingsFile::parse(text, entries, &error)) {
        if (!entries.isEmpty())
            fail("a failed parse must leave no entries");
        if (error.isEmpty())
            fail("a failed parse must say why");
        return 0;
    }

    const QByteArray written = GroupSettingsFile::toText(entries);
    QList<GroupSettings> again;
    if (!GroupSettingsFile::parse(written, again, &error))
        fail("the reader rejects what the writer wrote", error.toUtf8() + '\n' + written);
    if (again != entries)
        fail("entries change through a write and a read", written);
    if (GroupSettingsFile::toText(again) != written)
        fail("writing is not stable", written);
    return 0;
}
