#include "storage/GroupSettingsFile.h"
#include "model/Rok_Lock_State.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <libconfig.h++>
#include <string>

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Position of the first byte at or after pos that is neither whitespace nor
// part of a comment (#, // or /* */, as libconfig knows them).
int skipBlankAndComments(const QByteArray& text, int pos)
{
    const int n = text.size();
    while (pos < n) {
        const char c = text.at(pos);
        const char next = pos + 1 < n ? text.at(pos + 1) : '\0';
        if (isBlank(c)) {
            ++pos;
        } else if (c == '#' || (c == '/' && next == '/')) {
            while (pos < n && text.at(pos) != '\n')
                ++pos;
        } else if (c == '/' && next == '*') {
            const int end = text.indexOf("*/", pos + 2);
            pos = end < 0 ? n : end + 2;
        } else {
            break;
        }
    }
    return pos;
}

// libconfig's include directive, `^[ \t]*@include[ \t]+"`, starting at pos.
bool isIncludeDirective(const QByteArray& text, int pos)
{
    for (int back = pos - 1; back >= 0 && text.at(back) != '\n'; --back)
        if (text.at(back) != ' ' && text.at(back) != '\t')
            return false;
    static const QByteArray keyword("@include");
    if (text.mid(pos, keyword.size()) != keyword)
        return false;
    int next = pos + keyword.size();
    const int start = next;
    while (next < text.size() && (text.at(next) == ' ' || text.at(next) == '\t'))
        ++next;
    return next > start && next < text.size() && text.at(next) == '"';
}

// A text between double quotes, escaped the way libconfig reads it back.
QString quoted(const QString& text)
{
    QString result;
    result.reserve(text.size() + 2);
    result += QLatin1Char('"');
    for (const QChar ch : text) {
        // libconfig hands strings over as C strings; a NUL would cut the file short.
        if (ch.unicode() == 0)
            continue;
        if (ch == QLatin1Char('\\') || ch == QLatin1Char('"'))
            result += QLatin1Char('\\');
        result += ch;
    }
    result += QLatin1Char('"');
    return result;
}

QString arrayText(const char* key, const QStringList& items, const QString& eol)
{
    QStringList lines;
    lines.reserve(items.size());
    for (const QString& item : items)
        lines << QStringLiteral("\t\t\t") + quoted(item) + QLatin1Char(',');
    return QStringLiteral("\t\t") + QLatin1String(key) + QStringLiteral("=[") + eol + lines.join(eol) + eol
        + QStringLiteral("\t\t];");
}

// Only a plain 32-bit integer counts; booleans, floats, 64-bit integers and
// strings read as 0, like a missing setting.
int intValue(const libconfig::Setting& entry, const char* key)
{
    int value = 0;
    return entry.lookupValue(key, value) ? value : 0;
}

QStringList stringArray(const libconfig::Setting& entry, const char* key)
{
    QStringList texts;
    if (!entry.exists(key))
        return texts;
    const libconfig::Setting& array = entry[key];
    if (!array.isArray())
        return texts;
    for (int i = 0; i < array.getLength(); ++i) {
        const libconfig::Setting& element = array[i];
        if (element.getType() == libconfig::Setting::TypeString)
            texts << QString::fromUtf8(element.c_str());
    }
    return texts;
}

GroupSettings readEntry(const libconfig::Setting& entry)
{
    GroupSettings settings;
    std::string name;
    if (entry.lookupValue("group-name", name))
        settings.group_name = QString::fromUtf8(name.data(), int(name.size()));
    // Agents see only the low 8 bits: a damaged 258 would black out a room.
    const int lockType = intValue(entry, "lock-type");
    const bool known = lockType >= Rok_Lock_State::None && lockType <= Rok_Lock_State::KeyboardMouseLock;
    settings.lock_type = known ? lockType : Rok_Lock_State::None;
    settings.allowmanualip = intValue(entry, "allowmanualip") == 1;
    settings.allowusbdrv = intValue(entry, "allowusbdrv") == 1;
    settings.titles = stringArray(entry, "type-1");
    settings.services = stringArray(entry, "type-2");
    settings.programs = stringArray(entry, "type-3");
    return settings;
}

} // namespace

QByteArray GroupSettingsFile::toText(const QList<GroupSettings>& entries, LineEnd lineEnd)
{
    const QString eol = lineEnd == LineEnd::CrLf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QStringList lines { QStringLiteral("groups=(") };
    for (const GroupSettings& entry : entries) {
        const QStringList entryLines {
            QStringLiteral("\t{"),
            QStringLiteral("\t\tgroup-name=") + quoted(entry.group_name) + QLatin1Char(';'),
            QStringLiteral("\t\tlock-type=%1;").arg(entry.lock_type),
            QStringLiteral("\t\tallowmanualip=%1;").arg(entry.allowmanualip ? 1 : 0),
            QStringLiteral("\t\tallowusbdrv=%1;").arg(entry.allowusbdrv ? 1 : 0),
            arrayText("type-1", entry.titles, eol),
            arrayText("type-2", entry.services, eol),
            arrayText("type-3", entry.programs, eol),
            QStringLiteral("\t},"),
        };
        lines << entryLines.join(eol);
    }
    lines << QStringLiteral(");");
    return lines.join(eol).toUtf8();
}

// True when the quote at pos ends an item line: only a ',' or ';' and blanks
// follow it up to the line break.
bool quoteEndsItemLine(const QByteArray& text, int pos)
{
    const int n = text.size();
    int i = pos + 1;
    if (i >= n || (text.at(i) != ',' && text.at(i) != ';'))
        return false;
    for (++i; i < n && text.at(i) != '\n'; ++i)
        if (text.at(i) != ' ' && text.at(i) != '\t' && text.at(i) != '\r')
            return false;
    return true;
}

QByteArray GroupSettingsFile::normalize(const QByteArray& text, bool backslashBeforeLastQuote)
{
    QByteArray src;
    src.reserve(text.size());
    for (const char c : text) {
        if (c != '\0')
            src += c;
    }
    if (src.startsWith("\xEF\xBB\xBF"))
        src.remove(0, 3);

    QByteArray out;
    out.reserve(src.size() + src.size() / 16);
    const int n = src.size();
    int i = 0;
    while (i < n) {
        const char c = src.at(i);
        if (c == '"') {
            out += c;
            ++i;
            while (i < n) {
                const char s = src.at(i);
                if (s == '\\') {
                    const char next = i + 1 < n ? src.at(i + 1) : '\0';
                    const bool literal = backslashBeforeLastQuote && next == '"' && quoteEndsItemLine(src, i + 1);
                    if (!literal && (next == '\\' || next == '"')) {
                        out += s;
                        out += next;
                        i += 2;
                    } else {
                        out += "\\\\";
                        ++i;
                    }
                    continue;
                }
                out += s;
                ++i;
                if (s == '"')
                    break;
            }
            continue;
        }
        // The console never writes includes; following one would make start-up
        // open whatever file (or device, or network share) the text names.
        if (c == '@' && isIncludeDirective(src, i)) {
            out += '#';
            ++i;
            continue;
        }
        if (c == ',') {
            const int next = skipBlankAndComments(src, i + 1);
            if (next < n && (src.at(next) == ']' || src.at(next) == ')')) {
                ++i;
                continue;
            }
        }
        const int end = skipBlankAndComments(src, i);
        if (end > i) {
            out += src.mid(i, end - i);
            i = end;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

bool GroupSettingsFile::parse(const QByteArray& text, QList<GroupSettings>& out, QString* error)
{
    out.clear();
    libconfig::Config config;
    libconfig::Config older;
    const libconfig::Config* parsed = &config;
    try {
        config.readString(normalize(text).constData());
    } catch (const libconfig::ParseException& e) {
        // Writers that did not escape left a text ending in a backslash
        // swallowing its closing quote. Only a file that fails as written is
        // read that way, so no file that parses today changes meaning.
        const QString reason = QStringLiteral("line %1: %2").arg(e.getLine()).arg(QString::fromUtf8(e.getError()));
        try {
            older.readString(normalize(text, true).constData());
            parsed = &older;
        } catch (const libconfig::ConfigException&) {
            setError(error, reason);
            return false;
        }
    } catch (const libconfig::ConfigException& e) {
        setError(error, QString::fromUtf8(e.what()));
        return false;
    }

    const libconfig::Setting& root = parsed->getRoot();
    if (!root.exists("groups"))
        return true;
    const libconfig::Setting& groups = root["groups"];
    if (!groups.isList())
        return true;
    for (int i = 0; i < groups.getLength(); ++i) {
        const libconfig::Setting& entry = groups[i];
        if (!entry.isGroup())
            continue;
        try {
            out << readEntry(entry);
        } catch (const libconfig::ConfigException&) {
            // Every lookup above is guarded; this only keeps an unforeseen
            // libconfig complaint about one entry from costing the others.
        }
    }
    return true;
}

bool GroupSettingsFile::write(
    const QString& path, const QList<GroupSettings>& entries, QString* error, LineEnd lineEnd)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    const QByteArray data = toText(entries, lineEnd);
    if (file.write(data) != data.size())
        file.cancelWriting();
    if (!file.commit()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

bool GroupSettingsFile::read(const QString& path, QList<GroupSettings>& out, QString* error, bool* damaged)
{
    out.clear();
    if (damaged)
        *damaged = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("readFile failed.: %1").arg(file.errorString()));
        return false;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        setError(error, QStringLiteral("readFile failed.: %1").arg(file.errorString()));
        return false;
    }
    const bool parsed = parse(text, out, error);
    if (damaged)
        *damaged = !parsed;
    return parsed;
}

QString GroupSettingsFile::setAside(const QString& path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".bad-") + stamp;
    for (int n = 2; QFile::exists(target); ++n)
        target = path + QStringLiteral(".bad-%1-%2").arg(stamp).arg(n);
    return QFile::rename(path, target) ? target : QString();
}
