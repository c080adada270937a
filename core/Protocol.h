#pragma once

#include "model/Rok_Lock_State.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

// Datagrams exchanged with the student agents. Every integer is
// little-endian; an IPv4 address is held as a uint32 whose memory bytes are
// the address in network order (as inet_pton writes them); text is in the
// local 8-bit encoding.
namespace Protocol {

constexpr uint16_t ConsolePort = 57851;
constexpr uint16_t AgentPort = 57852;

constexpr uint32_t MSG_ADMIN_BEACON = 0x00000001;
constexpr uint32_t MSG_STU_REGISTER = 0x20000001;
constexpr uint32_t MSG_STU_HEARTBEAT = 0x20000002;
constexpr uint32_t MSG_STU_POLICY_VERSION = 0x20000003;
constexpr uint32_t MSG_ADMIN_REREGISTER = 0x30000001;
constexpr uint32_t MSG_ADMIN_JOIN_GROUP = 0x30000002;
constexpr uint32_t MSG_ADMIN_LOCK_STATE = 0x30000003;
constexpr uint32_t MSG_ADMIN_POLICY = 0x30000004;

constexpr int AgentHeadSize = 12;
constexpr uint8_t TV_STRING = 11;
constexpr uint32_t PolicyListCount = 3;

// --- little-endian fields ------------------------------------------------
void appendU32(QByteArray& out, uint32_t value);
void appendU64(QByteArray& out, uint64_t value);
// Callers check the bounds; these read exactly 4 or 8 bytes.
uint32_t readU32(const char* p);
uint64_t readU64(const char* p);

// --- addresses -----------------------------------------------------------
uint32_t addressFromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
// Dotted IPv4 text to address; 0 when the text is not one.
uint32_t addressFromText(const QString& text);
QString addressToText(uint32_t address);
// 239.74.8.27, the first group multicast address.
uint32_t firstGroupAddress();
// Last octet + 1; on reaching 255 the third octet grows and the last restarts at 2.
uint32_t nextGroupAddress(uint32_t address);

// --- typed values --------------------------------------------------------
// Code byte at `offset` (-1 when invalid or out of range); `size` receives
// the length of the value after the code (for codes 11 and 12 the uint32
// that follows). Never reads past `len`.
int8_t readTypedValueHead(const char* buf, int len, int offset, uint32_t& size);
// 0x0B, uint32 byte length up to the first NUL, the bytes, one NUL.
void appendTypedString(QByteArray& out, const QByteArray& text);
// Host name of a MSG_STU_REGISTER payload: text from payload offset 5 up to
// its NUL or the end of the payload, cleaned by HostName::clean; empty unless
// the payload starts with a code 11 head.
QString hostNameFromRegister(const char* payload, int len);

// --- console datagrams ---------------------------------------------------
QByteArray buildBeacon();
QByteArray buildReregister();
QByteArray buildJoinGroup(uint32_t groupAddress);
uint32_t lockStateWord(const Rok_Lock_State& state);
// How much a lock word withholds from the students, for comparing words:
// its lock type first (a locked black screen, a quiet one, keyboard and
// mouse, none), then a forbidden manual address, then forbidden USB drives.
int lockStrictness(uint32_t word);
QByteArray buildLockState(uint32_t word);
// Milliseconds since the epoch, truncated to 32 bits.
uint32_t policyVersionNow();
// lists[0..2] are the active items of list types 1..3 in row order.
QByteArray buildPolicy(uint32_t version, const std::array<QStringList, 3>& lists);

// --- agent side (the simulator and the tests speak it) -------------------
QByteArray buildAgentDatagram(uint64_t mac, uint32_t id, const QByteArray& payload = QByteArray());
QByteArray buildRegister(uint64_t mac, const QString& hostName);
QByteArray buildHeartbeat(uint64_t mac);
QByteArray buildPolicyVersion(uint64_t mac, uint32_t version);

struct AgentHead
{
    uint64_t mac = 0;
    uint32_t id = 0;
};
bool parseAgentHead(const QByteArray& datagram, AgentHead& head);

// Console datagram id, or 0 when shorter than 4 bytes.
uint32_t consoleMessageId(const QByteArray& datagram);
bool parseJoinGroup(const QByteArray& datagram, uint32_t& groupAddress);
bool parseLockState(const QByteArray& datagram, uint32_t& word);

struct PolicyContent
{
    uint32_t version = 0;
    std::array<QStringList, 3> lists;
};
// Strict: false for a truncated or malformed datagram.
bool parsePolicy(const QByteArray& datagram, PolicyContent& policy);

} // namespace Protocol
