// The device log page: frames, replies, streaming from devsim, skipped-line marks, modal runs.
#include "pages/displaylogpage.h"
#include "pages/logfilelist.h"
#include "pagetestutil.h"
#include "progtestutil.h"

#include <QtTest>

namespace {

struct Rig : LinkedPage<DisplayLogPage>
{
    Rig() : LinkedPage(&CommTcp::gotLogRespond) {}
    UI_DisplayLogPage* ui() const { return page.form(); }
    QComboBox* combo() const { return ui()->comboBoxLogType; }
    QTextDocument* doc() const { return ui()->textBrowser->document(); }
};

QStringList items(const QComboBox* combo)
{
    QStringList names;
    for (int i = 0; i < combo->count(); ++i)
        names << combo->itemText(i);
    return names;
}

const auto appendText = [](DisplayLogPage& page, const QByteArray& text) {
    respond(page, DisplayLogPage::kCmdText, text);
};

} // namespace

class TestDisplayLogPage : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void framesOnTheWire();
    void replies();
    void savedWholeWhileViewSkips();
    void saveFailuresAndRealModalRuns();
    void viewLinesAndSkippedLines();
};

void TestDisplayLogPage::framesOnTheWire()
{
    FakeDevice fake;
    Rig rig;
    QVERIFY(rig.connectTo(fake));
    rig.combo()->addItem(QStringLiteral("stale"));
    rig.ui()->Refresh->click();
    QVERIFY(fake.waitForReceived(6));
    QCOMPARE(fake.received().toHex(' '), QByteArray("68 00 02 00 08 72"));
    // abc, an empty entry, xy; the first entry becomes the current one.
    fake.write(QByteArray::fromHex("68000a0008036162630002787996"));
    QVERIFY(waitFor([&] { return rig.combo()->count() == 3; }));
    QCOMPARE(items(rig.combo()), (QStringList{"abc", "", "xy"}));
    QCOMPARE(rig.combo()->currentIndex(), 0);
    // Opening sends the selected name; only the answer opens the log.
    fake.clearReceived();
    rig.combo()->setCurrentIndex(2);
    rig.ui()->btnOpen->click();
    QVERIFY(fake.waitForReceived(7));
    QCOMPARE(fake.received().toHex(' '), QByteArray("68 00 04 00 09 78 79 66"));
    QVERIFY(!rig.page.isLogOpen());
    fake.write(QByteArray::fromHex("68000300090175"));
    QVERIFY(waitFor([&] { return rig.page.isLogOpen() && rig.ui()->btnOpen->text() == "Close"; }));
    fake.write(QByteArray::fromHex("680004000a686947"));
    QVERIFY(waitFor([&] { return rig.doc()->toPlainText() == QLatin1String("hi"); }));
    // Closing is the same command with the name selected then, at once.
    fake.clearReceived();
    rig.ui()->btnOpen->click();
    QVERIFY(!rig.page.isLogOpen() && rig.ui()->btnOpen->text() == "Open");
    QVERIFY(fake.waitForReceived(7));
    QCOMPARE(fake.received().toHex(' '), QByteArray("68 00 04 00 09 78 79 66"));
    // A late answer is applied by the same rules.
    fake.write(QByteArray::fromHex("68000300090074"));
    QCOMPARE(boxes->waitForBox().summary(), QStringLiteral("[Information] Open log file failed!"));
    fake.write(QByteArray::fromHex("68000300090175"));
    QVERIFY(waitFor([&] { return rig.page.isLogOpen(); }));
}

void TestDisplayLogPage::replies()
{
    {
        DisplayLogPage page;
        QComboBox* combo = page.form()->comboBoxLogType;
        respond(page, DisplayLogPage::kCmdList, "\x0a" "system.log\x03" "a.b\x05" "x");
        QCOMPARE(items(combo), (QStringList{"system.log", "a.b"})); // the last entry runs over
        const int set = combo->font().pointSize();
        const int points = set > 0 ? set : QFontInfo(combo->font()).pointSize();
        QCOMPARE(combo->maximumWidth(), LogFileList::comboWidth(points, 10));
        QCOMPARE(combo->minimumWidth(), combo->maximumWidth());
        // The popup fits the names, also in a style whose popups are as wide as the list.
        const std::unique_ptr<QStyle> windows(QStyleFactory::create(QStringLiteral("Windows")));
        combo->setStyle(windows.get());
        page.show();
        combo->showPopup();
        QTRY_VERIFY(combo->view()->isVisible());
        QVERIFY(combo->view()->viewport()->width() >=
                combo->fontMetrics().horizontalAdvance(QStringLiteral("system.log")));
        combo->hidePopup();
        combo->setStyle(nullptr);
    }
    // An empty list keeps the old entries.
    DisplayLogPage page;
    QSignalSpy sent(&page, &DisplayLogPage::sendCmd);
    page.form()->comboBoxLogType->addItem(QStringLiteral("kept.log"));
    respond(page, DisplayLogPage::kCmdList, QByteArray());
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Information] No log file is accessible!"));
    QCOMPARE(items(page.form()->comboBoxLogType), QStringList{"kept.log"});
    // Result 0 or no result byte: a box, the flag stays as it was.
    for (bool open : {false, true}) {
        if (open)
            respond(page, DisplayLogPage::kCmdOpen, QByteArray("\x02"));
        for (const QByteArray& failed : {QByteArray("\x00", 1), QByteArray()}) {
            respond(page, DisplayLogPage::kCmdOpen, failed);
            QCOMPARE(boxes->takeText(), QStringLiteral("Open log file failed!"));
            QCOMPARE(page.isLogOpen(), open);
        }
    }
    // The flag outlives a refresh of the list and "Clear"; later text shows.
    respond(page, DisplayLogPage::kCmdList, QByteArray::fromHex("0161"));
    appendText(page, "old");
    page.form()->btnClear->click();
    appendText(page, "new");
    page.flushLogText();
    QCOMPARE(page.form()->textBrowser->toPlainText(), QStringLiteral("new"));
    QVERIFY(sent.isEmpty() && page.form()->textBrowser->isReadOnly());
    MarkingTranslator translator("DisplayLogPage");
    QCoreApplication::installTranslator(&translator);
    QCoreApplication::processEvents();
    for (const QAbstractButton* button : page.findChildren<QAbstractButton*>())
        QCOMPARE(button->text().left(1), "<");
    QVERIFY(page.isLogOpen() && page.form()->btnOpen->text() == "<Close>"); // still open
    QCoreApplication::removeTranslator(&translator);
}

void TestDisplayLogPage::savedWholeWhileViewSkips()
{
    const auto lineNumber = [](const QString& line) { // "... #123 ..."
        return line.section(QLatin1Char('#'), 1).section(QLatin1Char(' '), 0, 0).toULongLong();
    };
    for (const auto& run : {std::pair{1, 20000}, std::pair{7, 14000}}) {
        const int linesPerFrame = run.first, lines = run.second;
        TempWorkDir work;
        Rig rig;
        QVERIFY(rig.start({"log-rate=0", QStringLiteral("log-lines=%1").arg(lines),
                           QStringLiteral("log-lines-per-frame=%1").arg(linesPerFrame)}));
        rig.ui()->Refresh->click();
        QVERIFY(waitFor([&] { return rig.combo()->count() == 3; })); // the device's own three logs
        FileAnswer answer(work.file(QStringLiteral("saved.log")));
        rig.ui()->btnSave->click();
        QCOMPARE(answer.request(0), QStringLiteral("Save|Save log to file|Log files (*.log *.txt);;"
                                                   "All files (*)|system.log"));
        rig.ui()->btnOpen->click();
        QVERIFY(waitFor([&] { return lineNumber(rig.doc()->lastBlock().text()) == quint64(lines); },
                        20000));
        // Every line is either shown or counted by a mark.
        QCOMPARE(rig.page.appendedParagraphs() * quint64(linesPerFrame) + rig.page.droppedLines(),
                 quint64(lines));
        QCOMPARE(rig.doc()->blockCount(), 5000);
        rig.ui()->btnOpen->click(); // closing the log ends the file
        QVERIFY(!rig.page.isSaving());
        const QList<QByteArray> saved = ProgTest::readFile(work.file("saved.log")).split('\n');
        QCOMPARE(saved.size(), lines + 1);
        for (int i = 0; i < lines; ++i)
            QCOMPARE(lineNumber(QString::fromUtf8(saved.at(i))), quint64(i + 1));
    }
}

void TestDisplayLogPage::saveFailuresAndRealModalRuns()
{
    TempWorkDir work;
    DisplayLogPage page;
    {
        FileAnswer cancel;
        page.form()->btnSave->click();  // a second click would stop a started file
        FileAnswer folder(work.path()); // a folder cannot be written as a file
        page.form()->btnSave->click();
        QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Save log file failed!"));
        QVERIFY(!page.isSaving());
    }
    // The file dialog and the box run for real: a timer answers them.
    const MsgBox::Interceptor recorder = MsgBox::setInterceptor(MsgBox::Interceptor());
    QStringList seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << box->windowTitle() + '|' + box->text() + '|' + box->buttons().value(0)->text();
            box->buttons().value(0)->click();
        } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            seen << files->windowTitle();
            files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(work.file(QStringLiteral("z.log")));
            QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
        }
    });
    poll.start(10);
    page.form()->btnSave->click();
    QSignalSpy sent(&page, &DisplayLogPage::sendCmd);
    page.form()->btnOpen->click(); // nothing to open, nothing sent
    MsgBox::setInterceptor(recorder);
    QCOMPARE(sent.count(), 0);
    QCOMPARE(seen, (QStringList{"Save log to file", "Warning|Log file error!|Sure"}));
    // Zero bytes and all are saved; pressing the button again stops.
    appendText(page, QByteArray("a\0b", 3));
    page.form()->btnSave->click();
    QVERIFY(!page.isSaving());
    QCOMPARE(ProgTest::readFile(work.file("z.log")), QByteArray("a\0b\n", 4));
}

void TestDisplayLogPage::viewLinesAndSkippedLines()
{
    DisplayLogPage page;
    QTextDocument* doc = page.form()->textBrowser->document();
    // Appended in steps within the budget, one pass of the event loop each.
    page.setAppendBudget(1);
    for (int i = 1; i <= 5000; ++i)
        appendText(page, QByteArray("line ") + QByteArray::number(i));
    QCOMPARE(page.appendedParagraphs(), quint64(0));
    for (int pass = 0; pass < 1000 && page.appendedParagraphs() == 0; ++pass)
        QCoreApplication::processEvents();
    QVERIFY(page.appendedParagraphs() > 0 && page.appendedParagraphs() < 5000);
    QVERIFY(waitFor([&] { return page.appendedParagraphs() == 5000; }));
    for (int i : {0, 1, 2499, 4999})
        QCOMPARE(doc->findBlockByNumber(i).text(), QStringLiteral("line %1").arg(i + 1));
    // Each further paragraph drops the oldest one, not counted as skipped.
    appendText(page, "line 5001");
    QVERIFY(waitFor([&] { return doc->lastBlock().text() == QLatin1String("line 5001"); }));
    QCOMPARE(doc->firstBlock().text(), QStringLiteral("line 2"));
    QCOMPARE(page.droppedParagraphs(), quint64(0));
    // A burst larger than the view: one line says how many lines went.
    page.setAppendBudget(25);
    for (int i = 1; i <= 12000; ++i)
        appendText(page, QByteArray("burst ") + QByteArray::number(i));
    QVERIFY(waitFor([&] { return doc->lastBlock().text() == QLatin1String("burst 12000"); }));
    QCOMPARE(doc->blockCount(), 5000);
    QCOMPARE(doc->firstBlock().text(), QStringLiteral("[lines skipped: 7001]"));
    QCOMPARE(doc->findBlockByNumber(1).text(), QStringLiteral("burst 7002"));
    // Rich text with many line breaks is one paragraph: nothing is skipped.
    for (int i = 1; i <= 4000; ++i)
        appendText(page, "after");
    appendText(page, "<b>rich</b>" + QByteArray(3000, '\n'));
    QVERIFY(waitFor([&] { return doc->lastBlock().text().startsWith(QLatin1String("rich")); }));
    QCOMPARE(page.droppedLines(), quint64(7001));
    // Rich text not counted in time is bounded: more may go, never unmarked; Clear drops the rest.
    page.setAppendBudget(0);
    page.clearLog();
    const quint64 goneBefore = page.droppedParagraphs();
    for (int i = 1; i <= 3000; ++i)
        appendText(page, "<b>r" + QByteArray::number(i) + "</b>");
    page.flushLogText();
    const quint64 gone = page.droppedParagraphs() - goneBefore;
    QVERIFY(gone > 0 && doc->firstBlock().text().startsWith(QLatin1String("[lines skipped: ")));
    QCOMPARE(doc->findBlockByNumber(1).text(), QStringLiteral("r%1").arg(gone + 1));
    const quint64 appended = page.appendedParagraphs();
    appendText(page, "late");
    page.clearLog();
    QCoreApplication::processEvents();
    QVERIFY(doc->isEmpty() && page.appendedParagraphs() == appended);
    // Payload and the view's text: the page counts the blocks the view really makes of it.
    const std::pair<QByteArray, QString> rows[] = {
        {"plain a < b", "plain a < b"}, {"<b>bold</b> text", "bold text"},
        {QByteArray("ab\0cd", 5), "ab"}, {QByteArray(), ""}, {"two\nlines", "two\nlines"},
        {"a\r\nb\rc\xe2\x80\xa9" "d\n", "a\nb\nc\nd\n"}, {"<i>x</i>\n\n\n\ny", "x y"},
        {"<p>a</p><p>b</p>\n<p>c</p>", "a\nb\nc"}, {"a &lt; b\nc", "a < b c"},
        {"<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>", "\n1\n2\n3\n\n"},
        {"<pre>a\nb\n\nc</pre>", "a\nb\n\nc"},
        {"<ul><li>a</li><li>b</li></ul><hr>&#8233;x", "a\nb\n\n\nx"},
    };
    for (const auto& row : rows) {
        DisplayLogPage page;
        QTextDocument* doc = page.form()->textBrowser->document();
        appendText(page, row.first);
        respond(page, 0x000B, "x"); // not the page's
        page.flushLogText();
        QCOMPARE(doc->toPlainText(), row.second);
        QCOMPARE(page.appendedParagraphs(), quint64(1));
        const QByteArray shown = row.first.left(qstrnlen(row.first.constData(), row.first.size()));
        QCOMPARE(DisplayLogPage::viewLines(shown), doc->blockCount());
        QVERIFY(DisplayLogPage::viewLinesAtMost(shown) >= doc->blockCount());
    }
}

QTEST_MAIN(TestDisplayLogPage)
#include "tst_displaylogpage.moc"
