#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include "system/commandrunner.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QString tool(const QString &name)
{
    return QStringLiteral(QUORVEL_TEST_DATA "/tools/") + name;
}

} // namespace

class TestCommandRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void streamModes_data()
    {
        QTest::addColumn<StreamMode>("mode");
        QTest::addColumn<QString>("expected");
        QTest::addRow("combined has both streams") << StreamMode::combined << u"out\nerr\n"_s;
        QTest::addRow("outputOnly drops standard error") << StreamMode::outputOnly << u"out\n"_s;
        QTest::addRow("discardAll captures nothing") << StreamMode::discardAll << QString();
    }
    void streamModes()
    {
        QFETCH(StreamMode, mode);
        QFETCH(QString, expected);
        const ToolResult result = CommandRunner::processes()->run(tool(u"exitwith"_s), {u"3"_s}, mode);
        QVERIFY(result.launched);
        QCOMPARE(result.exitStatus, 3);
        QVERIFY(result.output.has_value());
        QCOMPARE(*result.output, expected);
        QVERIFY(!result.startError.has_value());
    }

    void severalMebibytesDoNotStall_data()
    {
        QTest::addColumn<StreamMode>("mode");
        QTest::addColumn<qsizetype>("expectedSize");
        QTest::addRow("outputOnly") << StreamMode::outputOnly << qsizetype(6 * 1048576);
        QTest::addRow("combined") << StreamMode::combined << qsizetype(12 * 1048576);
        QTest::addRow("discardAll") << StreamMode::discardAll << qsizetype(0);
    }
    // A tool whose output is not drained while it runs would never end: the
    // run would hang into the test's time limit.
    void severalMebibytesDoNotStall()
    {
        QFETCH(StreamMode, mode);
        QFETCH(qsizetype, expectedSize);
        const ToolResult result = CommandRunner::processes()->run(tool(u"bigoutput"_s), {u"6"_s}, mode);
        QVERIFY(result.launched);
        QCOMPARE(result.exitStatus, 0);
        QVERIFY(result.output.has_value());
        QCOMPARE(result.output->size(), expectedSize);
        if (mode == StreamMode::outputOnly)
            QVERIFY(!result.output->contains(u'b'));
    }

    void invalidUtf8GivesNoOutput_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addRow("Latin-1 byte") << u"notutf8"_s;
        QTest::addRow("sequence cut at the end") << u"truncatedutf8"_s;
    }
    void invalidUtf8GivesNoOutput()
    {
        QFETCH(QString, name);
        const ToolResult result = CommandRunner::processes()->run(tool(name), {}, StreamMode::outputOnly);
        QVERIFY(result.launched);
        QCOMPARE(result.exitStatus, 0);
        QVERIFY(!result.output.has_value());
    }

    void silentToolGivesEmptyTextNotAbsent()
    {
        const ToolResult result = CommandRunner::processes()->run(tool(u"silent"_s), {}, StreamMode::combined);
        QVERIFY(result.launched);
        QVERIFY(result.output.has_value());
        QVERIFY(result.output->isEmpty());
    }

    void unstartableToolsGiveTheReason_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addRow("missing") << tool(u"no-such-tool"_s);
        QTest::addRow("not executable") << QStringLiteral(QUORVEL_TEST_DATA "/captured/diskutil-info-data.txt");
        QTest::addRow("a folder") << QStringLiteral(QUORVEL_TEST_DATA "/tools");
    }
    void unstartableToolsGiveTheReason()
    {
        QFETCH(QString, path);
        const ToolResult result = CommandRunner::processes()->run(path, {}, StreamMode::combined);
        QVERIFY(!result.launched);
        QVERIFY(!result.output.has_value());
        QVERIFY(result.startError.has_value());
        QVERIFY(!result.startError->isEmpty());
    }

    void argumentsPassWithoutAShell()
    {
        const QStringList arguments = {u"it's"_s, u"$(touch /tmp/quorvel-pwned)"_s, u"two\nlines"_s, u""_s, u"ü ✓"_s};
        const ToolResult result = CommandRunner::processes()->run(tool(u"printargs"_s), arguments, StreamMode::outputOnly);
        QVERIFY(result.output.has_value());
        QStringList received = result.output->split(QChar(0));
        QCOMPARE(received.takeLast(), QString());
        QCOMPARE(received, arguments);
        QVERIFY(!QFile::exists(u"/tmp/quorvel-pwned"_s));
    }

    void signalledToolReportsFailure()
    {
        const ToolResult result = CommandRunner::processes()->run(u"/bin/sh"_s, {u"-c"_s, u"echo before; kill -KILL $$"_s}, StreamMode::outputOnly);
        QVERIFY(result.launched);
        QVERIFY(result.exitStatus != 0);
        QCOMPARE(result.output.value_or(QString()), u"before\n"_s);
    }

    void runsOnAWorkerThreadWithoutEventLoop()
    {
        ToolResult result;
        std::thread worker([&] { result = CommandRunner::processes()->run(tool(u"bigoutput"_s), {u"1"_s}, StreamMode::combined); });
        worker.join();
        QVERIFY(result.launched);
        QCOMPARE(result.output.value_or(QString()).size(), qsizetype(2 * 1048576));
    }

    void toolReadingStandardInputSeesEndOfFile()
    {
        const ToolResult result = CommandRunner::processes()->run(u"/bin/cat"_s, {}, StreamMode::outputOnly);
        QVERIFY(result.launched);
        QCOMPARE(result.output, std::optional<QString>(QString()));
    }

    void decodeUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::addRow("empty") << QByteArray() << true;
        QTest::addRow("embedded NUL") << QByteArray("a\0b", 3) << true;
        QTest::addRow("umlaut") << QByteArray("\xc3\xbc") << true;
        QTest::addRow("lone continuation byte") << QByteArray("\x80") << false;
        QTest::addRow("overlong slash") << QByteArray("\xc0\xaf") << false;
        QTest::addRow("surrogate half") << QByteArray("\xed\xa0\x80") << false;
        QTest::addRow("cut four-byte emoji") << QByteArray("\xf0\x9f\x92") << false;
    }
    void decodeUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        const std::optional<QString> text = ::decodeUtf8(bytes);
        QCOMPARE(text.has_value(), valid);
        if (valid)
            QCOMPARE(text->toUtf8(), bytes);
    }
};

QTEST_GUILESS_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
