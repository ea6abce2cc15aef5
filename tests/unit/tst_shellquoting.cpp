#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "helpers/testsupport.h"
#include "system/commandrunner.h"
#include "system/macplatform.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString printArgs = QStringLiteral(QUORVEL_TEST_DATA "/tools/printargs");
const QString scriptPrefix = u"do shell script \""_s;
const QString scriptSuffix = u" with administrator privileges"_s;

// Reads the string literal of `do shell script "..." with administrator
// privileges` the way AppleScript does: \" \\ \n \t \r are escapes, any
// other escape is a compile error, and an unescaped quote ends the literal.
// Absent when the script is not exactly that one statement, that is when
// part of the text would run as AppleScript of its own.
std::optional<QString> shellTextOf(const QString &script)
{
    if (!script.startsWith(scriptPrefix))
        return std::nullopt;
    QString text;
    for (qsizetype i = scriptPrefix.size(); i < script.size(); ++i) {
        const QChar c = script[i];
        if (c == u'\\') {
            if (++i == script.size())
                return std::nullopt;
            switch (script[i].unicode()) {
            case u'"': text += u'"'; break;
            case u'\\': text += u'\\'; break;
            case u'n': text += u'\n'; break;
            case u't': text += u'\t'; break;
            case u'r': text += u'\r'; break;
            default: return std::nullopt;
            }
            continue;
        }
        if (c == u'"')
            return script.mid(i + 1) == scriptSuffix ? std::optional<QString>(text) : std::nullopt;
        text += c;
    }
    return std::nullopt;
}

QStringList argumentsReceived(const QString &shellText)
{
    const ToolResult result = CommandRunner::processes()->run(u"/bin/sh"_s, {u"-c"_s, shellText}, StreamMode::outputOnly);
    if (!result.output)
        return {u"<no output>"_s};
    QStringList arguments = result.output->split(QChar(0));
    arguments.removeLast();
    return arguments;
}

} // namespace

class TestShellQuoting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A name ending in a backslash used to close the AppleScript string early
    // when only quotes were escaped; the test decoder sees that breakout.
    void quoteOnlyEscapingBreaksOut()
    {
        QString command = u"cp '/tmp/a\\\" & do shell script \"id\" & \"' '/tmp/b'"_s;
        const QString quoteOnly = scriptPrefix + QString(command).replace(u"\""_s, u"\\\""_s) + u"\""_s + scriptSuffix;
        QCOMPARE(shellTextOf(quoteOnly), std::nullopt);
        QCOMPARE(shellTextOf(administratorShellScript(command)), std::optional<QString>(command));
    }

    // A hostile name, quoted for the shell, reaches the program as one
    // argument: run by /bin/sh as it is, and after AppleScript has read it
    // back out of the administrator script.
    void hostileNamesReachTheShellAsOneArgument_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addRow("single quote") << u"/tmp/it's"_s;
        QTest::addRow("quote at both ends") << u"'x'"_s;
        QTest::addRow("ends in a backslash") << u"/tmp/evil\\"_s;
        QTest::addRow("backslash before a quote") << u"/tmp/a\\\" & do shell script \"id\" & \""_s;
        QTest::addRow("double backslash") << u"C:\\\\share\\x"_s;
        QTest::addRow("single and double quotes") << u"/tmp/it's \"quoted\""_s;
        QTest::addRow("substitutions") << u"/tmp/$(touch /tmp/quorvel-pwned) `touch /tmp/quorvel-pwned`"_s;
        QTest::addRow("newline") << u"/tmp/first\nsecond"_s;
        QTest::addRow("escape-looking text") << u"/tmp/\\n\\t\\r"_s;
        QTest::addRow("non-ASCII") << u"/Volumes/Téam’s Disk ✓"_s;
        QTest::addRow("everything at once") << u"\\'\"$(id)`id`\n\\"_s;
    }
    void hostileNamesReachTheShellAsOneArgument()
    {
        QFETCH(QString, name);
        const QString command = u"'"_s + ::shellQuoted(printArgs) + u"' '"_s + ::shellQuoted(name) + u"'"_s;
        QCOMPARE(argumentsReceived(command), QStringList{name});
        const std::optional<QString> shellText = shellTextOf(administratorShellScript(command));
        QVERIFY(shellText.has_value());
        QCOMPARE(argumentsReceived(*shellText), QStringList{name});
        QVERIFY(!QFile::exists(u"/tmp/quorvel-pwned"_s));
    }

    void hostileNamesReachTheDetachedHelper()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // The script itself lives under a hostile folder name too.
        const QString folder = dir.path() + u"/it's \"odd\" \\ $(x) `y`"_s;
        QVERIFY(QDir().mkpath(folder));
        const QString script = folder + u"/helper.sh"_s;
        QVERIFY(QFile::copy(printArgs, script));

        const QStringList arguments = {u"/dev/evil\\"_s, u"/tmp/Q \"x\" 'y'\n$(touch /tmp/quorvel-pwned)\\"_s};
        const std::optional<QString> shellText = shellTextOf(detachedAdministratorScript(script, arguments));
        QVERIFY(shellText.has_value());
        QCOMPARE(argumentsReceived(*shellText), arguments);
        QVERIFY(!QFile::exists(u"/tmp/quorvel-pwned"_s));
    }

    void osascriptGetsExactlyTwoArguments()
    {
        MacAdministratorLauncher launcher(printArgs);
        const QString command = u"find '/Users/u/.Trash' 2>/dev/null"_s;
        const ToolResult result = launcher.runShell(command, StreamMode::outputOnly);
        QVERIFY(result.launched);
        QStringList arguments = result.output.value_or(QString()).split(QChar(0));
        arguments.removeLast();
        QCOMPARE(arguments.size(), 2);
        QCOMPARE(arguments.first(), u"-e"_s);
        QCOMPARE(shellTextOf(arguments.last()), std::optional<QString>(command));

        QString error;
        auto run = launcher.startDetached(u"/tmp/s.sh"_s, {u"/dev/rdisk2"_s, u"/tmp/w"_s}, &error);
        QVERIFY2(run, qPrintable(error));
        QTRY_VERIFY(!run->isRunning());

        // osascript returns "do shell script" output with carriage returns.
        QTemporaryDir dir;
        const QString fakeOsascript = dir.filePath(u"osascript"_s);
        QVERIFY(writeFile(fakeOsascript, "#!/bin/sh\nprintf '/Users/u/.Trash/a\\r/Users/u/.Trash/b\\n'\n"));
        QFile::setPermissions(fakeOsascript, QFile::ReadOwner | QFile::ExeOwner);
        QCOMPARE(MacAdministratorLauncher(fakeOsascript).runShell(command, StreamMode::outputOnly).output,
                 std::optional<QString>(u"/Users/u/.Trash/a\n/Users/u/.Trash/b\n"_s));

        MacAdministratorLauncher missing(u"/nonexistent/osascript"_s);
        QVERIFY(!missing.runShell(u"true"_s, StreamMode::discardAll).launched);
        QVERIFY(!missing.startDetached(u"/tmp/s.sh"_s, {}, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestShellQuoting)
#include "tst_shellquoting.moc"
