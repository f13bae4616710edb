#include "testsupport.h"

#include <QFileDialog>

class tst_HexSelection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { sandbox.reset(new Sandbox); }

    void acceptedFileIsShownAndRemembered();
    void cancelKeepsWhatWasStored_data();
    void cancelKeepsWhatWasStored();

private:
    QScopedPointer<Sandbox> sandbox;
};

// Runs the action on the file dialog once it has opened, from inside its own event loop.
class FileDialogDriver : public QObject
{
public:
    explicit FileDialogDriver(std::function<void(QFileDialog *)> action)
        : action(std::move(action))
    {
        qApp->installEventFilter(this);
    }

    QString startDirectory;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *dialog = qobject_cast<QFileDialog *>(watched);
        if (dialog && event->type() == QEvent::Show) {
            qApp->removeEventFilter(this);
            QMetaObject::invokeMethod(
                this,
                [this, dialog] {
                    startDirectory = dialog->directory().absolutePath();
                    action(dialog);
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    std::function<void(QFileDialog *)> action;
};

void tst_HexSelection::initTestCase()
{
    setApplicationIdentity();
    // The toolkit's own dialog, which the test can reach, on every platform.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

static void clickOpen(AvrUpdateDialog &dialog)
{
    QTest::mouseClick(AvrUpdateDialogProbe::form(dialog).btnOpen, Qt::LeftButton);
}

void tst_HexSelection::acceptedFileIsShownAndRemembered()
{
    const QString firmware = sandbox->path("firmware.HEX");
    QFile(firmware).open(QIODevice::WriteOnly);
    {
        AvrUpdateDialog dialog;
        FileDialogDriver driver([&](QFileDialog *fileDialog) {
            QVERIFY(fileDialog->nameFilters().join(";").contains("*.HEX"));
            fileDialog->selectFile(firmware);
            static_cast<QDialog *>(fileDialog)->accept();
        });
        clickOpen(dialog);
        // First use: the dialog opens where the program was started.
        QCOMPARE(driver.startDirectory, sandbox->path());
        QCOMPARE(AvrUpdateDialogProbe::form(dialog).lineEdit->text(), firmware);
        QCOMPARE(sandbox->storedHexPath(), firmware);
    }
    AvrUpdateDialog restarted;
    QCOMPARE(AvrUpdateDialogProbe::form(restarted).lineEdit->text(), firmware);
}

void tst_HexSelection::cancelKeepsWhatWasStored_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("startDirectory");

    QTest::newRow("nothing stored") << QString() << ".";
    QTest::newRow("file stored") << "images/old.hex"
                                 << "images";
}

void tst_HexSelection::cancelKeepsWhatWasStored()
{
    QFETCH(QString, stored);
    QFETCH(QString, startDirectory);

    QDir(sandbox->path()).mkdir("images");
    const QString storedPath = stored.isEmpty() ? stored : sandbox->path(stored);
    if (!stored.isEmpty())
        sandbox->storeHexPath(storedPath);

    AvrUpdateDialog dialog;
    FileDialogDriver driver([](QFileDialog *fileDialog) { fileDialog->reject(); });
    clickOpen(dialog);
    QCOMPARE(driver.startDirectory, QDir(sandbox->path(startDirectory)).absolutePath());
    QCOMPARE(AvrUpdateDialogProbe::form(dialog).lineEdit->text(), storedPath);
    QCOMPARE(sandbox->storedHexPath(), storedPath);
}

QTEST_MAIN(tst_HexSelection)
#include "tst_hexselection.moc"
