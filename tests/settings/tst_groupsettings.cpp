#include "GroupSettingsFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(GroupSettings)

// Readable diffs when two entry lists differ.
char* toString(const GroupSettings& s)
{
    const QString text = QStringLiteral("{%1 lock=%2 ip=%3 usb=%4 t=[%5] s=[%6] p=[%7]}")
                             .arg(s.group_name)
                             .arg(s.lock_type)
                             .arg(s.allowmanualip)
                             .arg(s.allowusbdrv)
                             .arg(s.titles.join(QLatin1Char('|')), s.services.join(QLatin1Char('|')),
                                 s.programs.join(QLatin1Char('|')));
    return qstrdup(text.toUtf8().constData());
}

namespace {

GroupSettings entry(const QString& name, int lock = 0, bool manualIp = false, bool usb = false,
    const QStringList& titles = {}, const QStringList& services = {}, const QStringList& programs = {})
{
    GroupSettings s;
    s.group_name = name;
    s.lock_type = lock;
    s.allowmanualip = manualIp;
    s.allowusbdrv = usb;
    s.titles = titles;
    s.services = services;
    s.programs = programs;
    return s;
}

// One entry in the written layout, with the given inner lines.
QByteArray fileWith(const QByteArray& body)
{
    return "groups=(\n\t{\n" + body + "\n\t},\n);";
}

} // namespace

class TestGroupSettings : public QObject
{
    Q_OBJECT

private slots:
    void writesSwitchedOffEntriesExactly();
    void escapesBackslashAndQuote();
    void writesNoEntries();

    void roundTrip_data();
    void roundTrip();

    void normalize_data();
    void normalize();

    void readsOlderFiles_data();
    void readsOlderFiles();

    void toleratesMalformedFiles_data();
    void toleratesMalformedFiles();

    void rejectsSyntaxErrors_data();
    void rejectsSyntaxErrors();

    void keepsEntriesWithSameName();

    void writeThenReadFile();
    void readMissingFileReportsReason();
    void writeReplacesByRename();
    void failedWriteKeepsOldFile();
    void readOnlyDirectoryKeepsOldFile();
};

void TestGroupSettings::writesSwitchedOffEntriesExactly()
{
    const QList<GroupSettings> entries {
        entry(QStringLiteral("机房一"), 2, true, false, { QStringLiteral("游戏"), QStringLiteral("QQ.*") }, {},
            { QStringLiteral("notepad.exe") }),
        entry(QStringLiteral("未分组"), 0, false, true, {}, { QStringLiteral("Spooler") }, {}),
    };
    const QByteArray expected = "groups=(\n"
                                "\t{\n"
                                "\t\tgroup-name=\"机房一\";\n"
                                "\t\tlock-type=2;\n"
                                "\t\tallowmanualip=1;\n"
                                "\t\tallowusbdrv=0;\n"
                                "\t\ttype-1=[\n"
                                "\t\t\t\"游戏\",\n"
                                "\t\t\t\"QQ.*\",\n"
                                "\t\t];\n"
                                "\t\ttype-2=[\n"
                                "\n"
                                "\t\t];\n"
                                "\t\ttype-3=[\n"
                                "\t\t\t\"notepad.exe\",\n"
                                "\t\t];\n"
                                "\t},\n"
                                "\t{\n"
                                "\t\tgroup-name=\"未分组\";\n"
                                "\t\tlock-type=0;\n"
                                "\t\tallowmanualip=0;\n"
                                "\t\tallowusbdrv=1;\n"
                                "\t\ttype-1=[\n"
                                "\n"
                                "\t\t];\n"
                                "\t\ttype-2=[\n"
                                "\t\t\t\"Spooler\",\n"
                                "\t\t];\n"
                                "\t\ttype-3=[\n"
                                "\n"
                                "\t\t];\n"
                                "\t},\n"
                                ");";
    const QByteArray text = GroupSettingsFile::toText(entries);
    QCOMPARE(text, expected);
    QByteArray crlf = expected;
    crlf.replace("\n", "\r\n");
    QCOMPARE(GroupSettingsFile::toText(entries, GroupSettingsFile::LineEnd::CrLf), crlf);

    for (const QByteArray& written : { text, crlf }) {
        QList<GroupSettings> back;
        QVERIFY(GroupSettingsFile::parse(written, back));
        QCOMPARE(back, entries);
    }
}

void TestGroupSettings::escapesBackslashAndQuote()
{
    const QByteArray text = GroupSettingsFile::toText(
        { entry(QStringLiteral("组\"A\"\\B"), 0, false, false, {}, {}, { QStringLiteral("C:\\x.exe") }) });
    QVERIFY(text.contains("\t\tgroup-name=\"组\\\"A\\\"\\\\B\";\n"));
    QVERIFY(text.contains("\t\t\t\"C:\\\\x.exe\",\n"));
}

void TestGroupSettings::writesNoEntries()
{
    QCOMPARE(GroupSettingsFile::toText({}), QByteArray("groups=(\n);"));
    QList<GroupSettings> back { entry(QStringLiteral("stale")) };
    QVERIFY(GroupSettingsFile::parse("groups=(\n);", back));
    QVERIFY(back.isEmpty());
}

void TestGroupSettings::roundTrip_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("regex with backslashes") << QStringLiteral("^C:\\\\Windows\\\\.*\\.exe$");
    QTest::newRow("windows path") << QStringLiteral("C:\\Program Files\\Tencent\\QQ.exe");
    QTest::newRow("path with \\n \\t \\r \\f \\x") << QStringLiteral("D:\\new\\tools\\run\\files\\x41.exe");
    QTest::newRow("unc path") << QStringLiteral("\\\\server\\share\\a.exe");
    QTest::newRow("ends in backslash") << QStringLiteral("C:\\dir\\");
    QTest::newRow("lone backslash") << QStringLiteral("\\");
    QTest::newRow("double quotes") << QStringLiteral("say \"hi\"");
    QTest::newRow("quote then comma bracket") << QStringLiteral("x\",)");
    QTest::newRow("comma bracket") << QStringLiteral("a,]");
    QTest::newRow("brackets and braces") << QStringLiteral("({[a]});,");
    QTest::newRow("comment markers") << QStringLiteral("# not // a /* comment */");
    QTest::newRow("chinese") << QStringLiteral("游戏 - 窗口（测试）");
    QTest::newRow("trailing spaces") << QStringLiteral("notepad.exe   ");
    QTest::newRow("tab and newline") << QStringLiteral("a\tb\nc\r\nd");
    QTest::newRow("include-like line") << QStringLiteral("x\n@include \"/nonexistent\"");
    QTest::newRow("empty text") << QString();
}

void TestGroupSettings::roundTrip()
{
    QFETCH(QString, text);
    const QList<GroupSettings> entries {
        entry(text, 3, true, true, { text, QStringLiteral("after") }, { text }, { QStringLiteral("before"), text }),
        entry(QStringLiteral("未分组"), 1, false, false, { text }, {}, {}),
    };
    // Line breaks inside a text stay as they are in a CR LF file too.
    for (const auto lineEnd : { GroupSettingsFile::LineEnd::Lf, GroupSettingsFile::LineEnd::CrLf }) {
        QList<GroupSettings> back;
        QString error;
        QVERIFY2(GroupSettingsFile::parse(GroupSettingsFile::toText(entries, lineEnd), back, &error),
            qPrintable(error));
        QCOMPARE(back, entries);
    }
}

void TestGroupSettings::normalize_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("comma before ]") << QByteArray("a=[\"x\",\n\t];") << QByteArray("a=[\"x\"\n\t];");
    QTest::newRow("comma before )") << QByteArray("a=({},\n);") << QByteArray("a=({}\n);");
    QTest::newRow("comma between kept") << QByteArray("a=[1, 2];") << QByteArray("a=[1, 2];");
    QTest::newRow("hash comment between") << QByteArray("a=[1, # x ]\n];") << QByteArray("a=[1 # x ]\n];");
    QTest::newRow("line comment between") << QByteArray("a=[1, // ,]\n];") << QByteArray("a=[1 // ,]\n];");
    QTest::newRow("block comment between") << QByteArray("a=(1, /* ] */ );") << QByteArray("a=(1 /* ] */ );");
    QTest::newRow("comment then value keeps comma")
        << QByteArray("a=[1, /* ] */ 2];") << QByteArray("a=[1, /* ] */ 2];");
    QTest::newRow("comma bracket in string") << QByteArray("a=\"a,]\";") << QByteArray("a=\"a,]\";");
    QTest::newRow("escaped quote in string") << QByteArray("a=[\"x\\\",)\",];") << QByteArray("a=[\"x\\\",)\"];");
    QTest::newRow("escaped backslash kept") << QByteArray("a=\"\\\\\";") << QByteArray("a=\"\\\\\";");
    QTest::newRow("lone backslash doubled") << QByteArray("a=\"C:\\P\";") << QByteArray("a=\"C:\\\\P\";");
    QTest::newRow("\\n is literal") << QByteArray("a=\"\\new\";") << QByteArray("a=\"\\\\new\";");
    QTest::newRow("\\x41 is literal") << QByteArray("a=\"\\x41\";") << QByteArray("a=\"\\\\x41\";");
    QTest::newRow("backslash at end of text") << QByteArray("a=\"\\") << QByteArray("a=\"\\\\");
    QTest::newRow("quote in comment") << QByteArray("# \"\na=[1,];") << QByteArray("# \"\na=[1];");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF"
                                                   "a=1;")
                                     << QByteArray("a=1;");
    QTest::newRow("nul bytes") << QByteArray("a=\"x\0y\";", 8) << QByteArray("a=\"xy\";");
    QTest::newRow("unterminated block comment") << QByteArray("a=1; /* ,)") << QByteArray("a=1; /* ,)");
    QTest::newRow("utf-8 untouched") << QByteArray("a=\"未分组\";") << QByteArray("a=\"未分组\";");
    QTest::newRow("include commented out")
        << QByteArray("a=1;\n \t@include \"/dev/stdin\"\nb=2;") << QByteArray("a=1;\n \t#include \"/dev/stdin\"\nb=2;");
    QTest::newRow("include at start") << QByteArray("@include\t\"x\"") << QByteArray("#include\t\"x\"");
    QTest::newRow("include in string kept") << QByteArray("a=\"\n@include \\\"x\\\"\";")
                                            << QByteArray("a=\"\n@include \\\"x\\\"\";");
    QTest::newRow("not an include") << QByteArray("a=1; @include \"x\"\n@includes \"y\"")
                                    << QByteArray("a=1; @include \"x\"\n@includes \"y\"");
}

void TestGroupSettings::normalize()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(GroupSettingsFile::normalize(input), expected);
}

void TestGroupSettings::readsOlderFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<GroupSettings>>("expected");

    const QByteArray unescaped = "groups=(\n"
                                 "\t{\n"
                                 "\t\tgroup-name=\"机房一\";\n"
                                 "\t\tlock-type=1;\n"
                                 "\t\tallowmanualip=1;\n"
                                 "\t\tallowusbdrv=0;\n"
                                 "\t\ttype-1=[\n"
                                 "\t\t\t\"^C:\\Windows\\.*\\.exe$\",\n"
                                 "\t\t];\n"
                                 "\t\ttype-2=[\n"
                                 "\n"
                                 "\t\t];\n"
                                 "\t\ttype-3=[\n"
                                 "\t\t\t\"C:\\Program Files\\x.exe\",\n"
                                 "\t\t\t\"C:\\tools\\new\\run.exe\",\n"
                                 "\t\t\t\"D:\\games\\\",\n" // ends in a backslash
                                 "\t\t];\n"
                                 "\t},\n"
                                 ");";
    const QList<GroupSettings> unescapedEntries { entry(QStringLiteral("机房一"), 1, true, false,
        { QStringLiteral("^C:\\Windows\\.*\\.exe$") }, {},
        { QStringLiteral("C:\\Program Files\\x.exe"), QStringLiteral("C:\\tools\\new\\run.exe"),
            QStringLiteral("D:\\games\\") }) };
    QTest::newRow("unescaped paths, trailing commas") << unescaped << unescapedEntries;

    QByteArray crlf = unescaped;
    crlf.replace("\n", "\r\n");
    QTest::newRow("text-mode CR LF") << crlf << unescapedEntries;

    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF" + fileWith("\t\tgroup-name=\"未分组\";"))
                                     << QList<GroupSettings> { entry(QStringLiteral("未分组")) };
}

void TestGroupSettings::readsOlderFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<GroupSettings>, expected);
    QList<GroupSettings> back;
    QString error;
    QVERIFY2(GroupSettingsFile::parse(text, back, &error), qPrintable(error));
    QCOMPARE(back, expected);
}

void TestGroupSettings::toleratesMalformedFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<GroupSettings>>("expected");

    const GroupSettings good = entry(QStringLiteral("好"), 2, true, true, { QStringLiteral("t") });
    const QByteArray goodText = "{ group-name=\"好\"; lock-type=2; allowmanualip=1; allowusbdrv=1;"
                                " type-1=[\"t\"]; type-2=[]; type-3=[]; }";
    const QString a = QStringLiteral("a");

    QTest::newRow("empty file") << QByteArray() << QList<GroupSettings> {};
    QTest::newRow("comments only") << QByteArray("# nothing\n") << QList<GroupSettings> {};
    QTest::newRow("groups missing") << QByteArray("other=(" + goodText + ");") << QList<GroupSettings> {};
    QTest::newRow("groups is an array") << QByteArray("groups=[\"a\", \"b\"];") << QList<GroupSettings> {};
    QTest::newRow("groups is an empty array") << QByteArray("groups=[ ];") << QList<GroupSettings> {};
    QTest::newRow("groups is a group") << QByteArray("groups={ x=" + goodText + "; };") << QList<GroupSettings> {};
    QTest::newRow("groups is a scalar") << QByteArray("groups=5;") << QList<GroupSettings> {};
    QTest::newRow("entry that is not a group")
        << QByteArray("groups=(\"x\", 5, (1, 2), [1], " + goodText + ",);") << QList<GroupSettings> { good };
    QTest::newRow("group-name missing") << fileWith("\t\tlock-type=3;") << QList<GroupSettings> { entry({}, 3) };
    QTest::newRow("group-name not a string")
        << fileWith("\t\tgroup-name=7; lock-type=1;") << QList<GroupSettings> { entry({}, 1) };
    QTest::newRow("ints missing") << fileWith("\t\tgroup-name=\"a\";") << QList<GroupSettings> { entry(a) };
    QTest::newRow("boolean flags") << fileWith(
        "group-name=\"a\"; lock-type=true; allowmanualip=true; allowusbdrv=true;")
                                   << QList<GroupSettings> { entry(a) };
    QTest::newRow("float values") << fileWith("group-name=\"a\"; lock-type=2.0; allowmanualip=1.0; allowusbdrv=1.0;")
                                  << QList<GroupSettings> { entry(a) };
    QTest::newRow("64-bit values") << fileWith("group-name=\"a\"; lock-type=2L; allowmanualip=1L; allowusbdrv=1L;")
                                   << QList<GroupSettings> { entry(a) };
    QTest::newRow("quoted numbers") << fileWith("group-name=\"a\"; lock-type=\"2\"; allowmanualip=\"1\";")
                                    << QList<GroupSettings> { entry(a) };
    QTest::newRow("flag other than 1") << fileWith("group-name=\"a\"; allowmanualip=2; allowusbdrv=-1;")
                                       << QList<GroupSettings> { entry(a) };
    QTest::newRow("hex flag 1") << fileWith("group-name=\"a\"; allowmanualip=0x1;")
                                << QList<GroupSettings> { entry(a, 0, true) };
    QTest::newRow("lists missing") << fileWith("group-name=\"a\"; type-2=[\"s\"];")
                                   << QList<GroupSettings> { entry(a, 0, false, false, {}, { QStringLiteral("s") }) };
    QTest::newRow("list instead of array")
        << fileWith("group-name=\"a\"; type-1=(\"x\"); type-3=[\"p\"];")
        << QList<GroupSettings> { entry(a, 0, false, false, {}, {}, { QStringLiteral("p") }) };
    QTest::newRow("group or scalar instead of array")
        << fileWith("group-name=\"a\"; type-1={ x=\"y\"; }; type-2=\"s\";") << QList<GroupSettings> { entry(a) };
    QTest::newRow("non-string elements") << fileWith("group-name=\"a\"; type-1=[1, 2]; type-2=[true]; type-3=[\"p\"];")
                                         << QList<GroupSettings> { entry(
                                                a, 0, false, false, {}, {}, { QStringLiteral("p") }) };
    QTest::newRow("unknown settings ignored")
        << fileWith("group-name=\"a\"; extra=(1, \"x\"); lock-type=1;") << QList<GroupSettings> { entry(a, 1) };
    QTest::newRow("include not followed")
        << QByteArray("@include \"" + QFile::encodeName(QCoreApplication::applicationFilePath()) + "\"\ngroups=("
                      + goodText + ");")
        << QList<GroupSettings> { good };
    QTest::newRow("bad entry between good ones")
        << QByteArray("groups=(" + goodText + ", { lock-type=\"x\"; type-1=5; }, " + goodText + ");")
        << QList<GroupSettings> { good, entry({}), good };
}

void TestGroupSettings::toleratesMalformedFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<GroupSettings>, expected);
    QList<GroupSettings> back;
    QString error;
    QVERIFY2(GroupSettingsFile::parse(text, back, &error), qPrintable(error));
    QCOMPARE(back, expected);
}

void TestGroupSettings::rejectsSyntaxErrors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("line");

    QTest::newRow("unterminated string") << QByteArray("groups=(\n{ group-name=\"a; }\n);") << QStringLiteral("line ");
    QTest::newRow("missing parenthesis") << QByteArray("groups=(\n{ group-name=\"a\"; }\n;")
                                         << QStringLiteral("line 3");
    QTest::newRow("mixed array") << QByteArray("groups=(\n{ type-1=[\"a\", 1]; }\n);") << QStringLiteral("line 2");
    QTest::newRow("duplicate setting") << QByteArray("groups=(\n{ lock-type=1;\nlock-type=2; }\n);")
                                       << QStringLiteral("line 3");
    QTest::newRow("text ending in backslash, unescaped")
        << QByteArray("groups=(\n{ group-name=\"a\\\"; }\n);") << QStringLiteral("line ");
    QTest::newRow("binary junk") << QByteArray("\x01\x02groups") << QStringLiteral("line 1");
}

void TestGroupSettings::rejectsSyntaxErrors()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, line);
    QList<GroupSettings> back { entry(QStringLiteral("stale")) };
    QString error;
    QVERIFY(!GroupSettingsFile::parse(text, back, &error));
    QVERIFY(back.isEmpty());
    QVERIFY2(error.startsWith(line), qPrintable(error));
    QVERIFY(error.size() > line.size());
}

void TestGroupSettings::keepsEntriesWithSameName()
{
    const QList<GroupSettings> entries { entry(QStringLiteral("未分组"), 1),
        entry(QStringLiteral("未分组"), 2, false, false, { QStringLiteral("x") }) };
    QList<GroupSettings> back;
    QVERIFY(GroupSettingsFile::parse(GroupSettingsFile::toText(entries), back));
    QCOMPARE(back, entries);
}

void TestGroupSettings::writeThenReadFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("config.conf"));
    const QList<GroupSettings> entries { entry(QStringLiteral("机房 \\ \"二\""), 3, true, false, {}, {},
                                             { QStringLiteral("C:\\a b\\c.exe") }),
        entry(QStringLiteral("未分组")) };

    QString error;
    QList<GroupSettings> back;
    for (const auto lineEnd : { GroupSettingsFile::LineEnd::CrLf, GroupSettingsFile::LineEnd::Lf }) {
        QVERIFY2(GroupSettingsFile::write(path, entries, &error, lineEnd), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), GroupSettingsFile::toText(entries, lineEnd));
        file.close();
        QVERIFY2(GroupSettingsFile::read(path, back, &error), qPrintable(error));
        QCOMPARE(back, entries);
    }
    QVERIFY(GroupSettingsFile::write(path, entries, &error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), GroupSettingsFile::toText(entries, GroupSettingsFile::NativeLineEnd));
    file.close();

    // A second write replaces the first and leaves no temporary file behind.
    QVERIFY(GroupSettingsFile::write(path, { entry(QStringLiteral("未分组"), 1) }, &error));
    QVERIFY(GroupSettingsFile::read(path, back, &error));
    QCOMPARE(back, QList<GroupSettings> { entry(QStringLiteral("未分组"), 1) });
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("config.conf") });
}

void TestGroupSettings::readMissingFileReportsReason()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QList<GroupSettings> back { entry(QStringLiteral("stale")) };
    QString error;
    QVERIFY(!GroupSettingsFile::read(dir.filePath(QStringLiteral("config.conf")), back, &error));
    QVERIFY(back.isEmpty());
    QVERIFY2(error.startsWith(QLatin1String("readFile failed.: ")), qPrintable(error));
    QVERIFY(error.size() > int(qstrlen("readFile failed.: ")));

    error.clear();
    QVERIFY(!GroupSettingsFile::read(dir.path(), back, &error));
    QVERIFY2(error.startsWith(QLatin1String("readFile failed.")), qPrintable(error));

    // An empty file is a file with no entries, not a failure.
    QFile empty(dir.filePath(QStringLiteral("empty.conf")));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QVERIFY(GroupSettingsFile::read(empty.fileName(), back, &error));
    QVERIFY(back.isEmpty());
}

void TestGroupSettings::writeReplacesByRename()
{
#ifdef Q_OS_WIN
    QSKIP("an open handle blocks the rename on Windows");
#else
    // A reader that opened the old file keeps seeing it whole: the new text
    // goes to a fresh file that takes the old one's name, never over the old
    // bytes in place.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("config.conf"));
    QVERIFY(GroupSettingsFile::write(path, { entry(QStringLiteral("old")) }));
    const QByteArray oldText = GroupSettingsFile::toText({ entry(QStringLiteral("old")) });

    QFile held(path);
    QVERIFY(held.open(QIODevice::ReadOnly));
    QVERIFY(GroupSettingsFile::write(path, { entry(QStringLiteral("new"), 2) }));
    QCOMPARE(held.readAll(), oldText);

    QList<GroupSettings> back;
    QVERIFY(GroupSettingsFile::read(path, back));
    QCOMPARE(back, QList<GroupSettings> { entry(QStringLiteral("new"), 2) });
#endif
}

void TestGroupSettings::failedWriteKeepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString error;

    // The target is a directory: nothing may be replaced.
    const QString asDir = dir.filePath(QStringLiteral("config.conf"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("config.conf")));
    QFile inside(asDir + QStringLiteral("/keep.txt"));
    QVERIFY(inside.open(QIODevice::WriteOnly));
    inside.write("keep");
    inside.close();
    QVERIFY(!GroupSettingsFile::write(asDir, { entry(QStringLiteral("x")) }, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(asDir).isDir());
    QVERIFY(inside.open(QIODevice::ReadOnly));
    QCOMPARE(inside.readAll(), QByteArray("keep"));

    // The parent directory is missing, or is a plain file.
    error.clear();
    QVERIFY(!GroupSettingsFile::write(dir.filePath(QStringLiteral("missing/config.conf")), {}, &error));
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(!GroupSettingsFile::write(inside.fileName() + QStringLiteral("/config.conf"), {}, &error));
    QVERIFY(!error.isEmpty());
}

void TestGroupSettings::readOnlyDirectoryKeepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString sub = dir.filePath(QStringLiteral("ro"));
    QVERIFY(QDir().mkdir(sub));
    const QString path = sub + QStringLiteral("/config.conf");
    QVERIFY(GroupSettingsFile::write(path, { entry(QStringLiteral("old")) }));
    const QByteArray oldText = GroupSettingsFile::toText({ entry(QStringLiteral("old")) });

    QVERIFY(QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    QFile probe(sub + QStringLiteral("/probe"));
    const bool directoryStillWritable = probe.open(QIODevice::WriteOnly);
    if (directoryStillWritable) {
        probe.close();
        probe.remove();
    }

    QString error;
    const bool written
        = directoryStillWritable ? true : GroupSettingsFile::write(path, { entry(QStringLiteral("new")) }, &error);
    QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (directoryStillWritable)
        QSKIP("directory permissions do not bind this user (root or no POSIX permissions)");

    QVERIFY(!written);
    QVERIFY(!error.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), oldText);
}

QTEST_GUILESS_MAIN(TestGroupSettings)
#include "tst_groupsettings.moc"
