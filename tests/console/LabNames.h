#pragma once

#include <QString>
#include <QtGlobal>

namespace MainWindowTest {

// The lab the window and feature tests share: three machines in 一号机房,
// two in 二号机房, one in none (each test seeds it its own way).
namespace Lab {

const QString Room1 = QStringLiteral("一号机房");
const QString Room2 = QStringLiteral("二号机房");

constexpr quint64 R1a = 0x00000A0000000101ULL;
constexpr quint64 R1b = 0x00000A0000000102ULL;
constexpr quint64 R1c = 0x00000A0000000103ULL;
constexpr quint64 R2a = 0x00000A0000000201ULL;
constexpr quint64 R2b = 0x00000A0000000202ULL;
constexpr quint64 Free = 0x00000A0000000301ULL;

} // namespace Lab

} // namespace MainWindowTest
