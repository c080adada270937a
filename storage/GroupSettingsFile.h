#pragma once

#include "storage/GroupSettings.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Reader and writer of "config.conf", the per-page lock states and switched-off
// list entries in libconfig syntax. The file is written from a template and read
// with libconfig after a tolerant pre-pass (see parse()).
class GroupSettingsFile final
{
public:
    GroupSettingsFile() = delete;

    // Line breaks between the file's lines; texts keep theirs as they are.
    enum class LineEnd { Lf, CrLf };
    // A text file's line end on this platform: the file is a text file, and
    // Windows tools expect CR LF in it.
#ifdef _WIN32
    static constexpr LineEnd NativeLineEnd = LineEnd::CrLf;
#else
    static constexpr LineEnd NativeLineEnd = LineEnd::Lf;
#endif

    // The whole file text, UTF-8, no line break after the closing ");".
    // Backslashes and double quotes in texts are escaped.
    static QByteArray toText(const QList<GroupSettings>& entries, LineEnd lineEnd = LineEnd::Lf);

    // Parses a file text, with either line end. A syntax error returns false with "line N: message"
    // in *error and leaves out empty. Anything else that is not as written
    // (missing or mistyped settings, entries that are not groups) is skipped
    // part by part; what is well-formed is returned.
    static bool parse(const QByteArray& text, QList<GroupSettings>& out, QString* error = nullptr);

    // Replaces the file atomically: the old file survives any failure.
    static bool write(const QString& path, const QList<GroupSettings>& entries, QString* error = nullptr,
        LineEnd lineEnd = NativeLineEnd);

    // A file that cannot be read gives false and "readFile failed.: <reason>";
    // one that was read but does not parse gives false with *damaged set.
    static bool read(
        const QString& path, QList<GroupSettings>& out, QString* error = nullptr, bool* damaged = nullptr);

    // Renames a file that does not parse beside itself ("config.conf.bad-
    // <time>"), so the teacher can still look at it; its new path, or empty
    // when it could not be moved.
    static QString setAside(const QString& path);

    // The text handed to libconfig: a leading byte-order mark and NUL bytes
    // dropped, the comma before a closing ']' or ')' removed, and every
    // backslash inside a string that does not start \\ or \" doubled, so that
    // files from writers that did not escape keep their paths and regexes.
    // An @include directive becomes a comment: reading opens no other file.
    // backslashBeforeLastQuote reads \" before the ',' or ';' that ends an
    // item line as a literal backslash and the closing quote, as unescaping
    // writers meant it; parse() falls back to it for files that fail.
    static QByteArray normalize(const QByteArray& text, bool backslashBeforeLastQuote = false);
};
