#pragma once

#include "model/QtDoubleIntStringItem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The three policy lists as one text file, so that a school's IT staff keep
// one list for every lab and edit it in any text editor. UTF-8 (a byte order
// mark is written for older editors and optional on reading), CR LF written,
// LF read as well. A section line names a list by its tab title:
//
//     [禁止的窗口标题]
//     激活<TAB>.*游戏.*
//     停用<TAB>QQ
//     [守护的服务]
//     [守护的程序]
//     激活<TAB>C:\Windows\System32\notepad.exe
//
// Under it, one entry a line: its state, "激活" or "停用", a tab, then the
// text exactly as it stands (spaces instead of the tab also do, and are not
// part of the text). Blank lines and lines starting with "#" are notes.
namespace PolicyListFile {

// One entry read back, with the line it stood on.
struct Entry
{
    int line = 0;
    int type = 0;
    int state = QtDoubleIntStringItem::Active;
    QString text;
};

// Every section, in list order, even an empty one: the file shows its own form.
QByteArray encode(const StringItemList& items);
// Replaces `path` whole or not at all; false, with the reason in *error.
bool write(const QString& path, const StringItemList& items, QString* error);
// The entries in file order. A line that cannot be one (outside a known
// list, another state word, no text, a text its list already has) is left
// out with a line in *refused; a file that is not UTF-8 gives nothing.
QList<Entry> decode(const QByteArray& bytes, QStringList* refused);
// Whether `bytes` read as UTF-8 lose nothing (a file saved in the local code
// page would become question marks).
bool isUtf8(const QByteArray& bytes);

} // namespace PolicyListFile
