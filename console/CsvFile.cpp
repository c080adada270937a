#include "CsvFile.h"

#include <QSaveFile>

const QString CsvFile::FormulaStarts = QStringLiteral("=+-@");

namespace {

QString field(QString text)
{
    // Texts come from the students' machines: one starting like a formula
    // must stay text when the teacher opens the file.
    if (!text.isEmpty() && CsvFile::FormulaStarts.contains(text.at(0)))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n'))
        || text.contains(QLatin1Char('\r'))) {
        text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        text = QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text;
}

} // namespace

QByteArray CsvFile::byteOrderMark()
{
    return QByteArray("\xEF\xBB\xBF");
}

QByteArray CsvFile::line(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& text : fields)
        quoted << field(text);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

bool CsvFile::write(const QString& path, const QByteArray& csv, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
