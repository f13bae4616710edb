#include "boardsupport.h"

// The real avrdude flashes a simulated ATmega2560 through the window.
class tst_RealFlash : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void imageIsWrittenAndVerified_data();
    void imageIsWrittenAndVerified();
    void failuresShowAvrdudeTextAndTheWindowTakesAnotherRun();

private:
    QScopedPointer<Sandbox> sandbox;
};

void tst_RealFlash::initTestCase()
{
    setApplicationIdentity();
    QVERIFY2(QFileInfo(realAvrdude()).isExecutable(), "avrdude is not installed");
}

void tst_RealFlash::init()
{
    sandbox.reset(new Sandbox(QStringLiteral("flash work")));
    sandbox->installTool(realAvrdude());
}

// The application flash after writing this image into an erased chip.
static QByteArray flashHolding(const QByteArray &image)
{
    return image + QByteArray(VirtualBoard::applicationFlashSize - image.size(), char(0xff));
}

void tst_RealFlash::imageIsWrittenAndVerified_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("small image") << 1000;
    QTest::newRow("200 KiB image with extended addresses") << 200 * 1024;
}

void tst_RealFlash::imageIsWrittenAndVerified()
{
    QFETCH(int, size);
    const QByteArray image = randomImage(size, quint32(size));
    const QString hexPath = sandbox->path("firmware images/kestrel board.hex");
    QVERIFY(writeFile(hexPath, intelHex(image)));
    VirtualBoard board(sandbox->path());
    QVERIFY(board.start());

    AvrUpdateDialog dialog;
    const QString console = updateThroughTheWindow(dialog, hexPath, board.portName());

    QVERIFY2(console.contains(QString("%1 bytes of flash verified").arg(size)),
             qPrintable(console));
    QCOMPARE(consoleText(dialog), AvrUpdateDialogProbe::outputLog(dialog));
    const QByteArray flash = board.flash();
    QCOMPARE(flash.size(), VirtualBoard::applicationFlashSize);
    QVERIFY(flash == flashHolding(image));
}

void tst_RealFlash::failuresShowAvrdudeTextAndTheWindowTakesAnotherRun()
{
    const QByteArray image = randomImage(700, 7);
    const QString goodHex = sandbox->path("good image.hex");
    const QString corruptHex = sandbox->path("corrupt image.hex");
    QVERIFY(writeFile(goodHex, intelHex(image)));
    QByteArray corrupt = intelHex(image);
    const int checksumDigit = corrupt.indexOf('\n', 20) - 1; // of the first data record
    corrupt[checksumDigit] = corrupt.at(checksumDigit) == '0' ? '1' : '0';
    QVERIFY(writeFile(corruptHex, corrupt));
    VirtualBoard board(sandbox->path());
    QVERIFY(board.start());
    AvrUpdateDialog dialog;

    struct Failure
    {
        QString hexPath;
        QString port;
        QString avrdudeSays;
    };
    const Failure failures[] = {
        {corruptHex, board.portName(), "checksum mismatch"},
        {sandbox->path("missing.hex"), board.portName(), "is not readable"},
        {goodHex, "no-such-port", "cannot open port /dev/no-such-port"},
    };
    for (const Failure &failure : failures) {
        const QString console = updateThroughTheWindow(dialog, failure.hexPath, failure.port);
        QVERIFY2(console.contains(failure.avrdudeSays), qPrintable(console));
        QVERIFY(!console.contains("bytes of flash written"));
        QVERIFY(board.flash() == flashHolding({}));
    }

    const QString console = updateThroughTheWindow(dialog, goodHex, board.portName());
    QVERIFY2(console.contains("700 bytes of flash verified"), qPrintable(console));
    QVERIFY(board.flash() == flashHolding(image));
}

QTEST_MAIN(tst_RealFlash)
#include "tst_realflash.moc"
