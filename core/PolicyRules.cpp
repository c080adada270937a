#include "core/PolicyRules.h"

#include "core/Protocol.h"
#include "core/UdpServer.h"

#include <QRegularExpression>

#include <array>

namespace {

constexpr int FirstType = 1;
constexpr int LastType = 3;
constexpr int ShownTextLength = 32;
constexpr int ShownLines = 10;

bool isListType(int type)
{
    return type >= FirstType && type <= LastType;
}

QString listName(int type)
{
    switch (type) {
    case 1:
        return QStringLiteral("禁止的窗口标题");
    case 2:
        return QStringLiteral("守护的服务");
    default:
        return QStringLiteral("守护的程序");
    }
}

bool isLineBreakOrNul(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0);
}

bool hasLineBreakOrNul(const QString& text)
{
    for (const QChar c : text)
        if (isLineBreakOrNul(c))
            return true;
    return false;
}

// The entry as a message box can show it: breaks and NULs written out, a
// long text cut short.
QString shown(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (out.size() >= ShownTextLength) {
            if (out.at(out.size() - 1).isHighSurrogate())
                out.chop(1);
            out += QStringLiteral("…");
            break;
        }
        if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QChar(0))
            out += QStringLiteral("\\0");
        else
            out += c;
    }
    return out;
}

QString entryName(int type, int row, const QString& text)
{
    return QStringLiteral("“%1”第 %2 行“%3”").arg(listName(type)).arg(row + 1).arg(shown(text));
}

const QString LineBreakFault = QStringLiteral("含有换行符或空字符（一个条目只能占一行）");

} // namespace

QString PolicyRules::entryFault(int type, int row, const QString& text)
{
    if (isListType(type) && hasLineBreakOrNul(text))
        return entryName(type, row, text) + LineBreakFault;
    return QString();
}

QString PolicyRules::titleNote(const QString& text)
{
    const QRegularExpression expression(text);
    if (expression.isValid())
        return QString();
    return QStringLiteral("教师端无法检查此正则表达式（%1，位置 %2）")
        .arg(expression.errorString())
        .arg(expression.patternErrorOffset());
}

QString PolicyRules::entryNote(int type, int row, const QString& text)
{
    if (type != QtDoubleIntStringItem::ForbiddenTitles)
        return QString();
    const QString note = titleNote(text);
    return note.isEmpty() ? note : entryName(type, row, text) + note;
}

int PolicyRules::policyBytes(const StringItemList& items)
{
    std::array<QStringList, 3> lists;
    for (const auto& item : items) {
        if (item && isListType(item->item_type) && item->item_state == QtDoubleIntStringItem::Active)
            lists[static_cast<size_t>(item->item_type - 1)] << item->str_val;
    }
    return Protocol::buildPolicy(0, lists).size();
}

QString PolicyRules::sizeFault(int bytes)
{
    if (bytes <= UdpServer::MaxDatagramSize)
        return QString();
    return QStringLiteral("激活的条目使策略数据报达到 %1 字节，比上限 %2 字节多 %3 字节，学生机将收不到策略")
        .arg(bytes)
        .arg(UdpServer::MaxDatagramSize)
        .arg(bytes - UdpServer::MaxDatagramSize);
}

QStringList PolicyRules::faults(const StringItemList& items)
{
    QStringList lines;
    std::array<int, 3> rows {};
    for (const auto& item : items) {
        if (!item || !isListType(item->item_type))
            continue;
        const QString fault
            = entryFault(item->item_type, rows[static_cast<size_t>(item->item_type - 1)]++, item->str_val);
        if (!fault.isEmpty())
            lines << fault;
    }
    const QString size = sizeFault(policyBytes(items));
    if (!size.isEmpty())
        lines << size;
    return lines;
}

QStringList PolicyRules::repair(StringItemList& items)
{
    QStringList lines;
    std::array<int, 3> rows {};
    for (const auto& item : items) {
        if (!item || !isListType(item->item_type))
            continue;
        const int row = rows[static_cast<size_t>(item->item_type - 1)]++;
        if (hasLineBreakOrNul(item->str_val)) {
            lines << entryName(item->item_type, row, item->str_val) + LineBreakFault + QStringLiteral("，已删去");
            item->str_val.remove(QLatin1Char('\n')).remove(QLatin1Char('\r')).remove(QChar(0));
        }
        const QString note = entryNote(item->item_type, row, item->str_val);
        if (!note.isEmpty())
            lines << note + QStringLiteral("，照常发送");
    }
    const QString size = sizeFault(policyBytes(items));
    if (!size.isEmpty())
        lines << size;
    return lines;
}

QString PolicyRules::listed(const QStringList& lines)
{
    QStringList shownLines = lines.mid(0, ShownLines);
    if (lines.size() > ShownLines)
        shownLines << QStringLiteral("……另有 %1 处").arg(lines.size() - ShownLines);
    return shownLines.join(QLatin1Char('\n'));
}
