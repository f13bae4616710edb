#include "testsupport.h"

#include <QContextMenuEvent>
#include <QSerialPortInfo>

class tst_Dialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init() { sandbox.reset(new Sandbox); }

    void rememberedPathIsShownAtStartup_data();
    void rememberedPathIsShownAtStartup();
    void portListFollowsEnumeration();
    void pathFieldAndConsoleTakeNoTyping();
    void consoleOpensNoContextMenu();
    void existingObjectNameIsKept();
    void idleDialogIsDestroyedCleanly();

private:
    QScopedPointer<Sandbox> sandbox;
};

void tst_Dialog::rememberedPathIsShownAtStartup_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("shown");

    QTest::newRow("file present") << true << QVariant("fw.hex") << true;
    // Nothing checks the file: a path to a file that has gone is still shown.
    QTest::newRow("file gone") << false << QVariant("fw.hex") << true;
    QTest::newRow("nothing stored") << false << QVariant() << false;
    QTest::newRow("empty value") << false << QVariant("") << false;
}

void tst_Dialog::rememberedPathIsShownAtStartup()
{
    QFETCH(bool, fileExists);
    QFETCH(QVariant, stored);
    QFETCH(bool, shown);

    const QString file = sandbox->path("fw.hex");
    if (fileExists)
        QFile(file).open(QIODevice::WriteOnly);
    sandbox->storeHexPath(stored.toString().isEmpty() ? stored : QVariant(file));

    AvrUpdateDialog dialog;
    QCOMPARE(AvrUpdateDialogProbe::form(dialog).lineEdit->text(), shown ? file : QString());
}

void tst_Dialog::portListFollowsEnumeration()
{
    QStringList enumerated;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        enumerated << port.portName();

    AvrUpdateDialog dialog;
    QComboBox *list = AvrUpdateDialogProbe::form(dialog).cbSerial;
    QStringList listed;
    for (int i = 0; i < list->count(); ++i)
        listed << list->itemText(i);
    QCOMPARE(listed, enumerated);
    QCOMPARE(list->currentIndex(), enumerated.isEmpty() ? -1 : 0);
}

void tst_Dialog::pathFieldAndConsoleTakeNoTyping()
{
    sandbox->storeHexPath(sandbox->path("fw.hex"));
    AvrUpdateDialog dialog;
    dialog.show();
    AvrUpdateDialogForm &form = AvrUpdateDialogProbe::form(dialog);
    QTest::keyClicks(form.lineEdit, "typed");
    QTest::keyClick(form.lineEdit, Qt::Key_Backspace);
    QTest::keyClicks(form.textEdit, "typed");
    QCOMPARE(form.lineEdit->text(), sandbox->path("fw.hex"));
    QCOMPARE(form.textEdit->toPlainText(), QString());
}

void tst_Dialog::consoleOpensNoContextMenu()
{
    AvrUpdateDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QWidget *viewport = AvrUpdateDialogProbe::form(dialog).textEdit->viewport();
    const QPoint inside = viewport->rect().center();
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, inside, viewport->mapToGlobal(inside));
    QApplication::sendEvent(viewport, &rightClick);
    QCOMPARE(QApplication::activePopupWidget(), nullptr);
}

void tst_Dialog::existingObjectNameIsKept()
{
    AvrUpdateDialog dialog;
    QCOMPARE(dialog.objectName(), QString("AvrUpdateDialog"));

    QDialog named;
    named.setObjectName("flashWindow");
    AvrUpdateDialogForm form;
    form.setupForm(&named);
    QCOMPARE(named.objectName(), QString("flashWindow"));
}

void tst_Dialog::idleDialogIsDestroyedCleanly()
{
    auto *dialog = new AvrUpdateDialog;
    QPointer<QProcess> process = AvrUpdateDialogProbe::process(*dialog);
    QPointer<QTextEdit> console = AvrUpdateDialogProbe::form(*dialog).textEdit;
    delete dialog;
    QVERIFY(process.isNull());
    QVERIFY(console.isNull());
}

QTEST_MAIN(tst_Dialog)
#include "tst_dialog.moc"
