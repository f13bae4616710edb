#include "testsupport.h"

// One write of the fake tool, on standard output or standard error, and what the
// dialog's log must hold once that write has been read.
struct Chunk
{
    bool onStandardError;
    QByteArray bytes;
    QString logAfter;
};
Q_DECLARE_METATYPE(QList<Chunk>)

class tst_Console : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init();

    void channelsFollowEachOtherInReadOrderAcrossRuns();
    void chunksShowExactlyAsTheToolWroteThem_data();
    void chunksShowExactlyAsTheToolWroteThem();

private:
    // Plays the chunks one at a time, each released once the previous one has been read.
    void playInSeparateReads(AvrUpdateDialog &dialog, const QList<Chunk> &chunks);

    QScopedPointer<Sandbox> sandbox;
    QScopedPointer<FakeTool> tool;
};

void tst_Console::init()
{
    sandbox.reset(new Sandbox);
    tool.reset(new FakeTool(*sandbox));
}

void tst_Console::playInSeparateReads(AvrUpdateDialog &dialog, const QList<Chunk> &chunks)
{
    QStringList steps;
    for (int i = 0; i < chunks.size(); ++i) {
        const Chunk &chunk = chunks.at(i);
        steps << (chunk.onStandardError ? FakeTool::err(chunk.bytes) : FakeTool::out(chunk.bytes))
              << tool->await(i);
        QFile::remove(tool->gate(i));
    }
    tool->play(steps);
    clickUpdate(dialog);
    for (int i = 0; i < chunks.size(); ++i) {
        QTRY_COMPARE(AvrUpdateDialogProbe::outputLog(dialog), chunks.at(i).logAfter);
        tool->open(i);
    }
    QVERIFY(waitForRunEnd(dialog));
}

static void verifyConsoleFollowsTheEnd(AvrUpdateDialog &dialog)
{
    QTextEdit *console = AvrUpdateDialogProbe::form(dialog).textEdit;
    QVERIFY(console->textCursor().atEnd());
    QVERIFY(!console->textCursor().hasSelection());
}

void tst_Console::channelsFollowEachOtherInReadOrderAcrossRuns()
{
    const QList<Chunk> run = {
        {false, "avrdude: reading input file\n", "avrdude: reading input file\n"},
        {true, "Writing | ###", "avrdude: reading input file\nWriting | ###"}};
    const QString firstRun = run.last().logAfter;
    const QList<Chunk> secondRun = {{false, run[0].bytes, firstRun + run[0].logAfter},
                                    {true, run[1].bytes, firstRun + firstRun}};

    AvrUpdateDialog dialog;
    dialog.show();
    playInSeparateReads(dialog, run);
    // A person scrolls up and selects text between the runs; new output takes them back to the end.
    QTextEdit *console = AvrUpdateDialogProbe::form(dialog).textEdit;
    QTextCursor selection(console->document());
    selection.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor);
    console->setTextCursor(selection);
    playInSeparateReads(dialog, secondRun);

    QCOMPARE(consoleText(dialog), firstRun + firstRun);
    QCOMPARE(AvrUpdateDialogProbe::outputLog(dialog), firstRun + firstRun);
    verifyConsoleFollowsTheEnd(dialog);
}

void tst_Console::chunksShowExactlyAsTheToolWroteThem_data()
{
    QTest::addColumn<QList<Chunk>>("chunks");
    QTest::addColumn<QString>("console");

    const QString e = QString::fromUtf8("\xc3\xa9");
    const QString euro = QString::fromUtf8("\xe2\x82\xac");
    QTest::newRow("two-byte character split")
        << QList<Chunk>{{false, "caf\xc3", "caf"}, {false, "\xa9\n", "caf" + e + "\n"}}
        << "caf" + e + "\n";
    QTest::newRow("three-byte character split on standard error")
        << QList<Chunk>{{true, "12 \xe2\x82", "12 "}, {true, "\xac", "12 " + euro}} << "12 " + euro;
    // A character cut on one channel must not swallow the other channel's bytes.
    QTest::newRow("split character with the other channel between")
        << QList<Chunk>{{false, "\xe2", ""}, {true, "x", "x"}, {false, "\x82\xac", "x" + euro}}
        << "x" + euro;
    QTest::newRow("markup-like output") << QList<Chunk>{{false, "<b>bold</b> &amp; <i>x</i>\n<br>",
                                                         "<b>bold</b> &amp; <i>x</i>\n<br>"}}
                                        << "<b>bold</b> &amp; <i>x</i>\n<br>";
    QTest::newRow("CR LF split between reads")
        << QList<Chunk>{{false, "line one\r", "line one\r"},
                        {false, "\nline two\r\n", "line one\r\nline two\r\n"}}
        << "line one\nline two\n";
}

void tst_Console::chunksShowExactlyAsTheToolWroteThem()
{
    QFETCH(QList<Chunk>, chunks);
    QFETCH(QString, console);

    AvrUpdateDialog dialog;
    playInSeparateReads(dialog, chunks);
    QCOMPARE(consoleText(dialog), console);
    verifyConsoleFollowsTheEnd(dialog);
}

QTEST_MAIN(tst_Console)
#include "tst_console.moc"
