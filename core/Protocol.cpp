#include "core/Protocol.h"

#include "core/HostName.h"

#include <QDateTime>
#include <QTextCodec>
#include <QTextDecoder>

#include <algorithm>
#include <cstring>
#include <memory>

namespace Protocol {

namespace {

    constexpr uint32_t LockWordMarker = 0xF0000000u;
    constexpr uint32_t LockWordManualIpForbidden = 0x100u;
    constexpr uint32_t LockWordUsbAllowed = 0x200u;
    constexpr int ConsoleHeadSize = 4;
    constexpr int TypedStringHeadSize = 5;
    // Bytes of a host name decoded at a time; a whole name in the common case.
    constexpr int HostNameSlice = 256;

    // Byte length of `text` up to its first NUL: a NUL inside a list item would
    // otherwise end the string early on the agent while the length claims more.
    int lengthToNul(const char* text, int len)
    {
        const void* nul = std::memchr(text, '\0', static_cast<size_t>(len));
        return nul ? static_cast<int>(static_cast<const char*>(nul) - text) : len;
    }

} // namespace

// --- little-endian fields ------------------------------------------------

void appendU32(QByteArray& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFFu));
}

void appendU64(QByteArray& out, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFFu));
}

uint32_t readU32(const char* p)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(p[i]);
    return value;
}

uint64_t readU64(const char* p)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(p[i]);
    return value;
}

// --- addresses -----------------------------------------------------------

uint32_t addressFromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    const uint8_t bytes[4] = { a, b, c, d };
    uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

uint32_t addressFromText(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return 0;
    uint8_t octets[4] = {};
    for (int i = 0; i < 4; ++i) {
        const QString& part = parts.at(i);
        if (part.isEmpty() || part.size() > 3)
            return 0;
        for (const QChar ch : part) {
            if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
                return 0;
        }
        const int value = part.toInt();
        if (value > 255)
            return 0;
        octets[i] = static_cast<uint8_t>(value);
    }
    return addressFromOctets(octets[0], octets[1], octets[2], octets[3]);
}

QString addressToText(uint32_t address)
{
    uint8_t octets[4];
    std::memcpy(octets, &address, sizeof octets);
    return QStringLiteral("%1.%2.%3.%4").arg(octets[0]).arg(octets[1]).arg(octets[2]).arg(octets[3]);
}

uint32_t firstGroupAddress()
{
    return addressFromOctets(239, 74, 8, 27);
}

uint32_t nextGroupAddress(uint32_t address)
{
    uint8_t octets[4];
    std::memcpy(octets, &address, sizeof octets);
    ++octets[3];
    if (octets[3] == 255) {
        ++octets[2];
        octets[3] = 2;
    }
    return addressFromOctets(octets[0], octets[1], octets[2], octets[3]);
}

// --- typed values --------------------------------------------------------

int8_t readTypedValueHead(const char* buf, int len, int offset, uint32_t& size)
{
    size = 0;
    if (!buf || len < 1 || offset < 0 || offset >= len)
        return -1;
    const uint8_t code = static_cast<uint8_t>(buf[offset]);
    switch (code) {
    case 0:
        break;
    case 1:
    case 2:
        size = 1;
        break;
    case 3:
    case 4:
        size = 2;
        break;
    case 5:
    case 6:
    case 9:
        size = 4;
        break;
    case 7:
    case 8:
    case 10:
        size = 8;
        break;
    case 11:
    case 12:
        if (len - offset - 1 < 4)
            return -1;
        size = readU32(buf + offset + 1);
        break;
    default:
        return -1;
    }
    return static_cast<int8_t>(code);
}

void appendTypedString(QByteArray& out, const QByteArray& text)
{
    const int length = lengthToNul(text.constData(), text.size());
    out.append(static_cast<char>(TV_STRING));
    appendU32(out, static_cast<uint32_t>(length));
    out.append(text.constData(), length);
    out.append('\0');
}

QString hostNameFromRegister(const char* payload, int len)
{
    uint32_t size = 0;
    if (readTypedValueHead(payload, len, 0, size) != TV_STRING)
        return QString();
    // The agent's length field is not trusted; the NUL or the datagram's end
    // bounds the name.
    const char* text = payload + TypedStringHeadSize;
    const int length = lengthToNul(text, len - TypedStringHeadSize);
    // A datagram can hold 64 KB of name: decode a slice at a time, and only
    // until the kept characters fill the name and one more shows it goes on.
    const std::unique_ptr<QTextDecoder> decoder(QTextCodec::codecForLocale()->makeDecoder());
    QString name;
    int kept = 0;
    for (int pos = 0; pos < length && kept <= HostName::MaxLength; pos += HostNameSlice) {
        const QString part = decoder->toUnicode(text + pos, std::min(HostNameSlice, length - pos));
        kept += HostName::keptLength(part);
        name += part;
    }
    return HostName::clean(name);
}

// --- console datagrams ---------------------------------------------------

QByteArray buildBeacon()
{
    QByteArray out;
    appendU32(out, MSG_ADMIN_BEACON);
    return out;
}

QByteArray buildReregister()
{
    QByteArray out;
    appendU32(out, MSG_ADMIN_REREGISTER);
    return out;
}

QByteArray buildJoinGroup(uint32_t groupAddress)
{
    QByteArray out;
    appendU32(out, MSG_ADMIN_JOIN_GROUP);
    out.append(reinterpret_cast<const char*>(&groupAddress), sizeof groupAddress);
    return out;
}

uint32_t lockStateWord(const Rok_Lock_State& state)
{
    uint32_t word = LockWordMarker;
    if (state.allowusbdrv.load())
        word |= LockWordUsbAllowed;
    if (!state.allowmanualip.load())
        word |= LockWordManualIpForbidden;
    word |= static_cast<uint32_t>(state.lock_type) & 0xFFu;
    return word;
}

int lockStrictness(uint32_t word)
{
    int rank = 0;
    switch (word & 0xFFu) {
    case Rok_Lock_State::BlackLock:
        rank = 3;
        break;
    case Rok_Lock_State::BlackQuiet:
        rank = 2;
        break;
    case Rok_Lock_State::KeyboardMouseLock:
        rank = 1;
        break;
    default:
        break;
    }
    return rank * 4 + ((word & LockWordManualIpForbidden) ? 2 : 0) + ((word & LockWordUsbAllowed) ? 0 : 1);
}

QByteArray buildLockState(uint32_t word)
{
    QByteArray out;
    appendU32(out, MSG_ADMIN_LOCK_STATE);
    appendU32(out, word);
    return out;
}

uint32_t policyVersionNow()
{
    return static_cast<uint32_t>(QDateTime::currentMSecsSinceEpoch());
}

QByteArray buildPolicy(uint32_t version, const std::array<QStringList, 3>& lists)
{
    QByteArray out;
    appendU32(out, MSG_ADMIN_POLICY);
    appendU32(out, version);
    appendU32(out, PolicyListCount);
    for (uint32_t type = 1; type <= PolicyListCount; ++type) {
        const QStringList& items = lists[type - 1];
        appendU32(out, type);
        appendU32(out, static_cast<uint32_t>(items.size()));
        if (!items.isEmpty())
            appendTypedString(out, items.join(QLatin1Char('\n')).toLocal8Bit());
    }
    return out;
}

// --- agent side ----------------------------------------------------------

QByteArray buildAgentDatagram(uint64_t mac, uint32_t id, const QByteArray& payload)
{
    QByteArray out;
    out.reserve(AgentHeadSize + payload.size());
    appendU64(out, mac);
    appendU32(out, id);
    out.append(payload);
    return out;
}

QByteArray buildRegister(uint64_t mac, const QString& hostName)
{
    QByteArray payload;
    appendTypedString(payload, hostName.toLocal8Bit());
    return buildAgentDatagram(mac, MSG_STU_REGISTER, payload);
}

QByteArray buildHeartbeat(uint64_t mac)
{
    return buildAgentDatagram(mac, MSG_STU_HEARTBEAT);
}

QByteArray buildPolicyVersion(uint64_t mac, uint32_t version)
{
    QByteArray payload;
    appendU32(payload, version);
    return buildAgentDatagram(mac, MSG_STU_POLICY_VERSION, payload);
}

bool parseAgentHead(const QByteArray& datagram, AgentHead& head)
{
    if (datagram.size() < AgentHeadSize)
        return false;
    head.mac = readU64(datagram.constData());
    head.id = readU32(datagram.constData() + 8);
    return true;
}

uint32_t consoleMessageId(const QByteArray& datagram)
{
    return datagram.size() < ConsoleHeadSize ? 0 : readU32(datagram.constData());
}

bool parseJoinGroup(const QByteArray& datagram, uint32_t& groupAddress)
{
    if (datagram.size() != 8 || consoleMessageId(datagram) != MSG_ADMIN_JOIN_GROUP)
        return false;
    std::memcpy(&groupAddress, datagram.constData() + ConsoleHeadSize, sizeof groupAddress);
    return true;
}

bool parseLockState(const QByteArray& datagram, uint32_t& word)
{
    if (datagram.size() != 8 || consoleMessageId(datagram) != MSG_ADMIN_LOCK_STATE)
        return false;
    word = readU32(datagram.constData() + ConsoleHeadSize);
    return true;
}

bool parsePolicy(const QByteArray& datagram, PolicyContent& policy)
{
    const char* data = datagram.constData();
    const int size = datagram.size();
    if (size < 12 || readU32(data) != MSG_ADMIN_POLICY || readU32(data + 8) != PolicyListCount)
        return false;

    PolicyContent parsed;
    parsed.version = readU32(data + 4);
    int pos = 12;
    for (uint32_t type = 1; type <= PolicyListCount; ++type) {
        if (size - pos < 8 || readU32(data + pos) != type)
            return false;
        const uint32_t count = readU32(data + pos + 4);
        pos += 8;
        if (count == 0)
            continue;

        uint32_t length = 0;
        if (readTypedValueHead(data, size, pos, length) != TV_STRING)
            return false;
        pos += TypedStringHeadSize;
        // The text and its NUL must both lie inside the datagram.
        if (length >= static_cast<uint32_t>(size - pos) || data[pos + static_cast<int>(length)] != '\0')
            return false;
        const QStringList items = QString::fromLocal8Bit(data + pos, static_cast<int>(length)).split(QLatin1Char('\n'));
        if (static_cast<uint32_t>(items.size()) != count)
            return false;
        parsed.lists[type - 1] = items;
        pos += static_cast<int>(length) + 1;
    }
    if (pos != size)
        return false;
    policy = parsed;
    return true;
}

} // namespace Protocol
