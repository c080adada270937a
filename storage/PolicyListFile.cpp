#include "storage/PolicyListFile.h"

#include <QSaveFile>
#include <QSet>
#include <QTextCodec>

#include <array>

namespace {

const QByteArray ByteOrderMark("\xEF\xBB\xBF");
const QString ActiveWord = QStringLiteral("激活");
const QString InactiveWord = QStringLiteral("停用");

QString sectionTitle(int type)
{
    switch (type) {
    case QtDoubleIntStringItem::ForbiddenTitles:
        return QStringLiteral("禁止的窗口标题");
    case QtDoubleIntStringItem::ProtectedServices:
        return QStringLiteral("守护的服务");
    case QtDoubleIntStringItem::ProtectedPrograms:
        return QStringLiteral("守护的程序");
    default:
        return QString();
    }
}

int typeOfTitle(const QString& title)
{
    for (int type = QtDoubleIntStringItem::ForbiddenTitles; type <= QtDoubleIntStringItem::ProtectedPrograms; ++type)
        if (sectionTitle(type) == title)
            return type;
    return 0;
}

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

bool PolicyListFile::isUtf8(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

QByteArray PolicyListFile::encode(const StringItemList& items)
{
    QString text = QStringLiteral("# 机房控制系统教师端 策略列表\n"
                                  "# 每个条目一行：状态（激活 或 停用）、一个制表符、条目文字\n");
    for (int type = QtDoubleIntStringItem::ForbiddenTitles; type <= QtDoubleIntStringItem::ProtectedPrograms; ++type) {
        text += QLatin1Char('[') + sectionTitle(type) + QStringLiteral("]\n");
        for (const auto& item : items) {
            if (!item || item->item_type != type)
                continue;
            // A line break would end the entry early; the agents split a list at them.
            QString entry = item->str_val;
            entry.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
            text += (item->item_state == QtDoubleIntStringItem::Active ? ActiveWord : InactiveWord)
                + QLatin1Char('\t') + entry + QLatin1Char('\n');
        }
    }
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return ByteOrderMark + text.toUtf8();
}

bool PolicyListFile::write(const QString& path, const StringItemList& items, QString* error)
{
    const QByteArray bytes = encode(items);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

QList<PolicyListFile::Entry> PolicyListFile::decode(const QByteArray& bytes, QStringList* refused)
{
    QList<Entry> entries;
    auto refuse = [refused](int line, const QString& why) {
        if (refused)
            refused->append(QStringLiteral("第 %1 行：%2").arg(line).arg(why));
    };
    if (!isUtf8(bytes)) {
        if (refused)
            refused->append(QStringLiteral("文件不是 UTF-8 编码，未读取（请以 UTF-8 保存）"));
        return entries;
    }
    // With its size: a NUL in a line must not end the file there.
    const QByteArray body = bytes.startsWith(ByteOrderMark) ? bytes.mid(ByteOrderMark.size()) : bytes;
    const QString text = QString::fromUtf8(body.constData(), body.size());
    const QStringList lines = text.split(QLatin1Char('\n'));
    std::array<QSet<QString>, 3> seen;
    int type = 0;
    QString unknownSection;
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        QString line = lines.at(i);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'))) {
            const QString title = trimmed.mid(1, trimmed.size() - 2).trimmed();
            type = typeOfTitle(title);
            unknownSection = type == 0 ? title : QString();
            if (type == 0)
                refuse(number, QStringLiteral("没有名为“%1”的列表").arg(title));
            continue;
        }
        if (type == 0) {
            refuse(number, unknownSection.isEmpty() ? QStringLiteral("条目不在任何列表之下")
                                                    : QStringLiteral("条目属于未知的列表“%1”").arg(unknownSection));
            continue;
        }
        Entry entry;
        entry.line = number;
        entry.type = type;
        int at = 0;
        while (at < line.size() && isBlank(line.at(at)))
            ++at;
        if (line.midRef(at).startsWith(ActiveWord)) {
            entry.state = QtDoubleIntStringItem::Active;
            at += ActiveWord.size();
        } else if (line.midRef(at).startsWith(InactiveWord)) {
            entry.state = QtDoubleIntStringItem::Inactive;
            at += InactiveWord.size();
        } else {
            refuse(number, QStringLiteral("状态须为“激活”或“停用”"));
            continue;
        }
        if (at < line.size() && line.at(at) == QLatin1Char('\t')) {
            entry.text = line.mid(at + 1);
        } else if (at < line.size() && line.at(at) == QLatin1Char(' ')) {
            while (at < line.size() && isBlank(line.at(at)))
                ++at;
            entry.text = line.mid(at);
        } else if (at < line.size()) {
            refuse(number, QStringLiteral("状态须为“激活”或“停用”"));
            continue;
        }
        if (entry.text.trimmed().isEmpty()) {
            refuse(number, QStringLiteral("缺少条目文字"));
            continue;
        }
        QSet<QString>& texts = seen[static_cast<size_t>(type - 1)];
        if (texts.contains(entry.text)) {
            refuse(number, QStringLiteral("“%1”在“%2”中重复").arg(entry.text, sectionTitle(type)));
            continue;
        }
        texts.insert(entry.text);
        entries << entry;
    }
    return entries;
}
