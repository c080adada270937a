// libFuzzer target: the typed-value head, the host name of a registration
// and the parsers of console datagrams, on arbitrary bytes.
//
// Every call gets a buffer of exactly the length it is told, so AddressSanitizer
// catches any read past it. Latin-1 stands in for the local 8-bit encoding: it
// maps every byte to one character and back, which makes exact checks possible.

#include "core/Protocol.h"

#include <QByteArray>
#include <QString>
#include <QTextCodec>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_protocol: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what)
{
    if (!ok)
        fail(what);
}

uint32_t expectedSize(uint8_t code, bool& valid)
{
    valid = true;
    switch (code) {
    case 0:
        return 0;
    case 1:
    case 2:
        return 1;
    case 3:
    case 4:
        return 2;
    case 5:
    case 6:
    case 9:
        return 4;
    case 7:
    case 8:
    case 10:
        return 8;
    default:
        valid = code == 11 || code == 12;
        return 0;
    }
}

// The head at `offset` of a buffer holding exactly `len` bytes.
void checkTypedValueHead(const char* buf, int len, int offset)
{
    uint32_t size = 0xDEADBEEF;
    const int8_t code = Protocol::readTypedValueHead(buf, len, offset, size);
    if (offset < 0 || offset >= len) {
        check(code == -1 && size == 0, "head outside the buffer must be invalid");
        return;
    }
    const uint8_t byte = static_cast<uint8_t>(buf[offset]);
    bool valid = false;
    const uint32_t fixed = expectedSize(byte, valid);
    if (byte == 11 || byte == 12) {
        if (len - offset < 5) {
            check(code == -1 && size == 0, "short string head must be invalid");
            return;
        }
        check(code == static_cast<int8_t>(byte), "string code");
        check(size == Protocol::readU32(buf + offset + 1), "string length field");
        return;
    }
    if (!valid) {
        check(code == -1 && size == 0, "unknown code must be invalid");
        return;
    }
    check(code == static_cast<int8_t>(byte) && size == fixed, "fixed-size code");
}

void checkHostName(const char* payload, int len)
{
    const QString name = Protocol::hostNameFromRegister(payload, len);
    if (len < 5 || static_cast<uint8_t>(payload[0]) != Protocol::TV_STRING) {
        check(name.isEmpty(), "host name without a string head");
        return;
    }
    const char* text = payload + 5;
    const void* nul = std::memchr(text, '\0', static_cast<size_t>(len - 5));
    const int n = nul ? static_cast<int>(static_cast<const char*>(nul) - text) : len - 5;
    // Latin-1 gives one character per byte: controls (C0, DEL, C1) and the
    // soft hyphen (a format character) are dropped, the first 64 others kept.
    QString expected;
    for (int i = 0; i < n && expected.size() < 64; ++i) {
        const auto byte = static_cast<uint8_t>(text[i]);
        if (byte >= 0x20 && (byte < 0x7F || byte > 0x9F) && byte != 0xAD)
            expected += QChar(byte);
    }
    check(name == expected, "host name is the text up to its NUL or the end, cleaned");
}

void checkConsoleParsers(const QByteArray& datagram)
{
    uint32_t value = 0;
    if (Protocol::parseJoinGroup(datagram, value))
        check(Protocol::buildJoinGroup(value) == datagram, "join-group round trip");
    if (Protocol::parseLockState(datagram, value))
        check(Protocol::buildLockState(value) == datagram, "lock-state round trip");

    Protocol::AgentHead head;
    if (Protocol::parseAgentHead(datagram, head))
        check(Protocol::buildAgentDatagram(head.mac, head.id, datagram.mid(Protocol::AgentHeadSize)) == datagram,
              "agent head round trip");

    Protocol::PolicyContent policy;
    if (!Protocol::parsePolicy(datagram, policy))
        return;
    // The builder cuts a text at its first NUL, so only NUL-free lists come
    // back byte for byte; every accepted policy must otherwise rebuild exactly.
    for (const QStringList& list : policy.lists)
        for (const QString& item : list)
            if (item.contains(QChar(0)))
                return;
    check(Protocol::buildPolicy(policy.version, policy.lists) == datagram, "policy round trip");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const int len = static_cast<int>(size);
    const char* bytes = reinterpret_cast<const char*>(data);

    // A private copy so the empty input still has a valid (zero-length) buffer.
    const std::vector<char> buf(bytes, bytes + len);
    const char* p = buf.empty() ? nullptr : buf.data();

    for (int offset = -1; offset <= len; ++offset)
        checkTypedValueHead(p, len, offset);
    uint32_t unused = 0;
    check(Protocol::readTypedValueHead(p, 0, 0, unused) == -1 && unused == 0, "empty buffer");

    if (len > 0)
        checkHostName(p, len);
    // A register datagram as the handler sees it: the payload after the head.
    if (len >= Protocol::AgentHeadSize)
        checkHostName(p + Protocol::AgentHeadSize, len - Protocol::AgentHeadSize);

    // Raw data, not a copy: the parsers must not rely on a terminating NUL.
    checkConsoleParsers(QByteArray::fromRawData(p ? p : "", len));
    return 0;
}
