// The command console page on its own, and a round trip through the main
// window's link to devsim's shell.
#include "mainwindow/mainwindow.h"
#include "pages/pageroot.h"
#include "testutil.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextBrowser>
#include <QtTest>

namespace {

QString transcript(PageRoot& page)
{
    return page.form()->textBrowserCmd->toPlainText();
}

void reply(PageRoot& page, int cmd, const QByteArray& bytes)
{
    page.handleRespond(cmd, reinterpret_cast<const quint8*>(bytes.constData()), bytes.size());
}

} // namespace

class TestConsole : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void sendLines_data();
    void sendLines();
    void clearOnlyExactWord();
    void returnResendsLine();
    void replies();
    void roundTripThroughDevsim();
};

void TestConsole::sendLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("plain") << "help" << QByteArray("help");
    QTest::newRow("empty line is sent too") << "" << QByteArray();
    QTest::newRow("Clear in other case") << "Clear" << QByteArray("Clear");
    QTest::newRow("clear with a blank") << " clear" << QByteArray(" clear");
}

void TestConsole::sendLines()
{
    QFETCH(QString, line);
    QFETCH(QByteArray, payload);
    PageRoot page;
    QSignalSpy sent(&page, &PageRoot::sendCmd);
    page.form()->leCmd->setText(line);
    page.form()->btnSendCmd->click();
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.at(0).at(0).toInt(), 0x0012);
    QCOMPARE(sent.at(0).at(1).toByteArray(), payload);
    QCOMPARE(transcript(page), QStringLiteral("Send: ") + line + QStringLiteral("\n"));
    QCOMPARE(page.form()->leCmd->text(), line); // not cleared
}

void TestConsole::clearOnlyExactWord()
{
    PageRoot page;
    QSignalSpy sent(&page, &PageRoot::sendCmd);
    reply(page, 0x0013, "something");
    QVERIFY(!transcript(page).isEmpty());
    page.form()->leCmd->setText(QStringLiteral("clear"));
    page.form()->btnSendCmd->click();
    QCOMPARE(sent.count(), 0);
    QVERIFY(transcript(page).isEmpty());
}

void TestConsole::returnResendsLine()
{
    PageRoot page;
    QSignalSpy sent(&page, &PageRoot::sendCmd);
    page.form()->leCmd->setText(QStringLiteral("date"));
    QTest::keyClick(page.form()->leCmd, Qt::Key_Return);
    QTest::keyClick(page.form()->leCmd, Qt::Key_Return);
    QCOMPARE(sent.count(), 2);
    QCOMPARE(transcript(page), QStringLiteral("Send: date\nSend: date\n"));
}

void TestConsole::replies()
{
    PageRoot page;
    reply(page, 0x0013, "ok \xe4\xb8\xad");            // UTF-8
    reply(page, 0x0013, QByteArray());                  // empty
    reply(page, 0x0013, QByteArray("bad \xff\xfe end")); // invalid UTF-8
    reply(page, 0x0013, QByteArray("abc\0def\0", 8));     // zero bytes
    reply(page, 0x0012, "not a reply");
    reply(page, 0x0001, "not for this page");
    const QStringList lines = transcript(page).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QString::fromUtf8("Recv: ok 中"));
    QCOMPARE(lines[1], QStringLiteral("Recv: "));
    QVERIFY(lines[2].startsWith(QStringLiteral("Recv: bad ")));
    QVERIFY(lines[2].contains(QChar(QChar::ReplacementCharacter)));
    QVERIFY(lines[2].endsWith(QStringLiteral(" end")));
    QCOMPARE(lines[3], QStringLiteral("Recv: abc\\0def\\0"));
    QCOMPARE(lines[4], QString());
    // A zero byte's mark stands out from the text around it.
    QTextCursor mark(page.form()->textBrowserCmd->document()->findBlockByNumber(3));
    mark.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor,
                      QStringLiteral("Recv: abc\\").size());
    QCOMPARE(mark.charFormat().background().color(), QColor(Qt::darkGreen));
    mark.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, 2);
    QCOMPARE(mark.charFormat().background().style(), Qt::NoBrush);

    // Sent entries are dark blue, replies dark green.
    QTextCursor c(page.form()->textBrowserCmd->document());
    c.movePosition(QTextCursor::NextCharacter);
    QCOMPARE(c.charFormat().foreground().color(), QColor(Qt::darkGreen));
    page.form()->leCmd->setText(QStringLiteral("x"));
    page.form()->btnSendCmd->click();
    QTextCursor last(page.form()->textBrowserCmd->document());
    last.movePosition(QTextCursor::End);
    last.movePosition(QTextCursor::PreviousCharacter);
    QCOMPARE(last.charFormat().foreground().color(), QColor(Qt::darkBlue));
}

void TestConsole::roundTripThroughDevsim()
{
    TempWorkDir work;
    DevsimProcess devsim;
    QVERIFY2(devsim.start(), "devsim did not start");
    MainWindow w;
    w.commLink()->setPort(devsim.port());
    w.form()->leDevIP->setText(QStringLiteral("127.0.0.1"));
    w.form()->btnConnect->click();
    QVERIFY(w.isConnected());
    for (int i = 0; i < 5; ++i)
        QTest::mouseClick(w.form()->labelStatus, Qt::LeftButton);
    PageRoot* page = w.consolePage();
    QVERIFY(page);

    page->form()->leCmd->setText(QStringLiteral("echo hello device"));
    page->form()->btnSendCmd->click();
    QTRY_VERIFY(transcript(*page).contains(QStringLiteral("Recv: hello device")));
    page->form()->leCmd->setText(QStringLiteral("frobnicate"));
    page->form()->btnSendCmd->click();
    QTRY_VERIFY(transcript(*page).contains(QStringLiteral("Recv: sh: frobnicate: not found")));
    QCOMPARE(transcript(*page),
             QStringLiteral("Send: echo hello device\nRecv: hello device\n"
                            "Send: frobnicate\nRecv: sh: frobnicate: not found\n"));
    QVERIFY(devsim.log().contains(QStringLiteral("<- 0x0012 (17 bytes)")));
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
