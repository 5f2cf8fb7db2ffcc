// The device log page against devsim over loopback: the list of log files,
// opening and closing, the streamed text, Clear, the block limit with its
// marks for skipped lines, saving to a file and the retranslation of the form.
#include "pages/displaylogpage.h"
#include "pages/logfilelist.h"
#include "pagetestutil.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QPushButton>
#include <QStyleFactory>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtTest>

namespace {

struct Rig : LinkedPage<DisplayLogPage>
{
    QList<QPair<int, QByteArray>> sent;

    Rig() : LinkedPage(&CommTcp::gotLogRespond)
    {
        QObject::connect(&page, &DisplayLogPage::sendCmd, &page,
                         [this](int cmd, const QByteArray& data) {
                             sent.append({cmd, data});
                         });
    }

    QComboBox* combo() const { return page.form()->comboBoxLogType; }
    QPushButton* openButton() const { return page.form()->btnOpen; }
    QTextDocument* doc() const { return page.form()->textBrowser->document(); }
    QString text() const { return doc()->toPlainText(); }

    bool refresh(int expectedEntries)
    {
        page.form()->Refresh->click();
        return waitFor([&] { return combo()->count() == expectedEntries; });
    }
};

int comboPoints(const QComboBox* combo)
{
    return combo->font().pointSize() > 0 ? combo->font().pointSize()
                                         : QFontInfo(combo->font()).pointSize();
}

// The log line number of a streamed line ("... #123 ...").
quint64 lineNumber(const QString& line)
{
    const int hash = line.indexOf(QLatin1Char('#'));
    return hash < 0 ? 0 : line.mid(hash + 1).section(QLatin1Char(' '), 0, 0).toULongLong();
}

void appendText(DisplayLogPage& page, const QByteArray& text)
{
    respond(page, DisplayLogPage::kCmdText, text);
}

} // namespace

class TestDisplayLogPage : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void listEdgeCases_data();
    void listEdgeCases();
    void emptyListKeepsEntries();
    void openWithoutEntryWarns();
    void openStreamsAndCloseStops();
    void openFailures_data();
    void openFailures();
    void responseAfterClose_data();
    void responseAfterClose();
    void savedWholeWhileViewSkips_data();
    void savedWholeWhileViewSkips();
    void saveFailures();
    void burstShowsSkippedLines();
    void burstAppendedInSteps();
    void viewLines_data();
    void viewLines();
    void retranslation();
};

void TestDisplayLogPage::listEdgeCases_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("longest");
    QTest::newRow("abc, empty entry, xy")
        << QStringList{"log-list-hex=0361626300027879"} << QStringList{"abc", "", "xy"} << 3;
    QTest::newRow("single empty entry") << QStringList{"log-list-hex=00"} << QStringList{""} << 0;
    QTest::newRow("device's own files")
        << QStringList{} << QStringList{"system.log", "kernel.log", "app.log"} << 10;
    QTest::newRow("last entry runs past the payload")
        << QStringList{"log-files=a.log,bb.log", "log-list-overrun=1"}
        << QStringList{"a.log", "bb.log"} << 6;
    QTest::newRow("only entry runs past the payload")
        << QStringList{"log-list-hex=0a6162"} << QStringList{} << 0;
}

void TestDisplayLogPage::listEdgeCases()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, names);
    QFETCH(int, longest);
    Rig rig;
    QVERIFY(rig.start(options));
    rig.combo()->addItem(QStringLiteral("stale"));
    rig.page.form()->Refresh->click();
    QCOMPARE(rig.sent.value(0).first, 0x0008);
    QVERIFY(rig.sent.value(0).second.isEmpty());
    QVERIFY(waitFor([&] { return rig.combo()->findText(QStringLiteral("stale")) < 0; }));
    QStringList shown;
    for (int i = 0; i < rig.combo()->count(); ++i)
        shown << rig.combo()->itemText(i);
    QCOMPARE(shown, names);
    QCOMPARE(rig.combo()->currentIndex(), names.isEmpty() ? -1 : 0);
    const int width = LogFileList::comboWidth(comboPoints(rig.combo()), longest);
    QCOMPARE(rig.combo()->minimumWidth(), width);
    QCOMPARE(rig.combo()->maximumWidth(), width);
    // The popup is as wide as the names, whatever the list's own width, also
    // in a style whose popups are as wide as the list (as on Windows).
    if (names.isEmpty())
        return;
    const std::unique_ptr<QStyle> windows(QStyleFactory::create(QStringLiteral("Windows")));
    rig.combo()->setStyle(windows.get());
    rig.page.show();
    rig.combo()->showPopup();
    QTRY_VERIFY(rig.combo()->view()->isVisible());
    for (const QString& name : names)
        QVERIFY(rig.combo()->view()->viewport()->width() >=
                rig.combo()->fontMetrics().horizontalAdvance(name));
    rig.combo()->hidePopup();
    rig.combo()->setStyle(nullptr);
}

void TestDisplayLogPage::emptyListKeepsEntries()
{
    Rig rig;
    QVERIFY(rig.start({"log-files="}));
    rig.combo()->addItem(QStringLiteral("kept.log"));
    rig.page.form()->Refresh->click();
    const BoxRecorder::Box box = boxes->waitForBox();
    QCOMPARE(box.summary(), QStringLiteral("[Information] No log file is accessible!"));
    QCOMPARE(box.buttons, QStringList{MsgBox::sureText()});
    QCOMPARE(rig.combo()->count(), 1);
    QCOMPARE(rig.combo()->currentText(), QStringLiteral("kept.log"));
}

void TestDisplayLogPage::openWithoutEntryWarns()
{
    DisplayLogPage page;
    QSignalSpy sent(&page, &DisplayLogPage::sendCmd);
    page.form()->btnOpen->click();
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Log file error!"));
    QCOMPARE(sent.count(), 0);
    QVERIFY(!page.isLogOpen());
}

void TestDisplayLogPage::openStreamsAndCloseStops()
{
    Rig rig;
    QVERIFY(rig.start({"log-rate=200"}));
    QVERIFY(rig.refresh(3));
    rig.combo()->setCurrentIndex(1);
    rig.openButton()->click();
    QCOMPARE(rig.sent.last().first, 0x0009);
    QCOMPARE(rig.sent.last().second, QByteArray("kernel.log"));
    QVERIFY(!rig.page.isLogOpen()); // only the answer opens it
    QVERIFY(waitFor([&] { return rig.page.isLogOpen(); }));
    QCOMPARE(rig.openButton()->text(), QStringLiteral("Close"));
    QVERIFY(waitFor([&] { return rig.doc()->blockCount() >= 5; }));
    QVERIFY(rig.text().contains(QStringLiteral("kernel.log[")));

    // "Clear" empties the view but leaves the log open: later text comes.
    const quint64 before = lineNumber(rig.doc()->lastBlock().text());
    const int sentBefore = rig.sent.size();
    rig.page.form()->btnClear->click();
    QVERIFY(rig.text().isEmpty());
    QCOMPARE(rig.sent.size(), sentBefore);
    QVERIFY(rig.page.isLogOpen());
    QVERIFY(waitFor([&] { return !rig.text().isEmpty(); }));
    QVERIFY(lineNumber(rig.doc()->firstBlock().text()) > before);

    // The flag outlives a refresh of the list.
    QVERIFY(rig.refresh(3));
    QVERIFY(rig.page.isLogOpen());

    // Closing sends the name selected at that moment and is immediate.
    rig.combo()->setCurrentIndex(2);
    rig.openButton()->click();
    QVERIFY(!rig.page.isLogOpen());
    QCOMPARE(rig.openButton()->text(), QStringLiteral("Open"));
    QCOMPARE(rig.sent.last().first, 0x0009);
    QCOMPARE(rig.sent.last().second, QByteArray("app.log"));
    QVERIFY(rig.sim.waitForLog(QStringLiteral("log kernel.log closed after")));
    QVERIFY(!rig.page.isLogOpen());
}

void TestDisplayLogPage::openFailures_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("name");
    QTest::newRow("result 0") << QStringList{"log-open-result=0"} << "system.log";
    QTest::newRow("no result byte") << QStringList{"log-open-empty=1"} << "system.log";
    QTest::newRow("unknown log") << QStringList{} << "missing.log";
}

void TestDisplayLogPage::openFailures()
{
    QFETCH(QStringList, options);
    QFETCH(QString, name);
    Rig rig;
    QVERIFY(rig.start(options));
    rig.combo()->addItem(name);
    rig.openButton()->click();
    const BoxRecorder::Box box = boxes->waitForBox();
    QCOMPARE(box.summary(), QStringLiteral("[Information] Open log file failed!"));
    QVERIFY(!rig.page.isLogOpen());
    QCOMPARE(rig.openButton()->text(), QStringLiteral("Open"));
}

void TestDisplayLogPage::responseAfterClose_data()
{
    QTest::addColumn<int>("result");
    QTest::newRow("non-zero opens again") << 1;
    QTest::newRow("zero reports a failure") << 0;
}

void TestDisplayLogPage::responseAfterClose()
{
    QFETCH(int, result);
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("log-close-reply=%1").arg(result), "log-rate=5"}));
    QVERIFY(rig.refresh(3));
    rig.openButton()->click();
    QVERIFY(waitFor([&] { return rig.page.isLogOpen(); }));
    rig.openButton()->click();
    QCOMPARE(rig.openButton()->text(), QStringLiteral("Open"));
    if (result) {
        QVERIFY(waitFor([&] { return rig.page.isLogOpen(); }));
        QCOMPARE(rig.openButton()->text(), QStringLiteral("Close"));
    } else {
        QCOMPARE(boxes->waitForText(), QStringLiteral("Open log file failed!"));
        QVERIFY(!rig.page.isLogOpen());
    }
}

void TestDisplayLogPage::savedWholeWhileViewSkips_data()
{
    QTest::addColumn<int>("linesPerFrame");
    QTest::addColumn<int>("lines");
    QTest::newRow("one line per frame") << 1 << 20000;
    QTest::newRow("seven lines per frame") << 7 << 14000;
}

void TestDisplayLogPage::savedWholeWhileViewSkips()
{
    QFETCH(int, linesPerFrame);
    QFETCH(int, lines);
    TempWorkDir work;
    Rig rig;
    QVERIFY(rig.start({"log-rate=0", QStringLiteral("log-lines=%1").arg(lines),
                       QStringLiteral("log-lines-per-frame=%1").arg(linesPerFrame)}));
    QVERIFY(rig.refresh(3));
    FileAnswer answer(work.file(QStringLiteral("saved.log")));
    rig.page.form()->btnSave->click();
    QCOMPARE(answer.request(0), QStringLiteral("Save|Save log to file|Log files (*.log *.txt);;"
                                               "All files (*)|system.log"));
    QVERIFY(rig.page.isSaving());
    QCOMPARE(rig.page.form()->btnSave->text(), QStringLiteral("Stop saving"));
    rig.openButton()->click();
    QVERIFY(waitFor(
        [&] { return lineNumber(rig.doc()->lastBlock().text()) == quint64(lines); }, 20000));
    // Every line is either shown or counted by a mark.
    QCOMPARE(rig.page.appendedParagraphs() * quint64(linesPerFrame) + rig.page.droppedLines(),
             quint64(lines));
    QCOMPARE(rig.doc()->blockCount(), 5000);
    rig.openButton()->click(); // closing the log ends the file
    QVERIFY(!rig.page.isSaving());
    QCOMPARE(rig.page.form()->btnSave->text(), QStringLiteral("Save to file..."));

    // The file holds every line, in order, whatever the view let go.
    QFile file(work.file(QStringLiteral("saved.log")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> saved = file.readAll().split('\n');
    QCOMPARE(saved.size(), lines + 1);
    QVERIFY(saved.last().isEmpty());
    for (int i = 0; i < lines; ++i)
        QCOMPARE(lineNumber(QString::fromUtf8(saved.at(i))), quint64(i + 1));
}

void TestDisplayLogPage::saveFailures()
{
    TempWorkDir work;
    DisplayLogPage page;
    {
        FileAnswer cancel;
        page.form()->btnSave->click();
        QVERIFY(!page.isSaving());
    }
    FileAnswer folder(work.path()); // a folder cannot be written as a file
    page.form()->btnSave->click();
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Save log file failed!"));
    QVERIFY(!page.isSaving());
    // Zero bytes and all are saved; pressing the button again stops.
    folder.path = work.file(QStringLiteral("z.log"));
    page.form()->btnSave->click();
    QVERIFY(page.isSaving());
    appendText(page, QByteArray("a\0b", 3));
    page.form()->btnSave->click();
    QVERIFY(!page.isSaving());
    QFile file(folder.path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("a\0b\n", 4));
}

void TestDisplayLogPage::burstShowsSkippedLines()
{
    DisplayLogPage page;
    QTextDocument* doc = page.form()->textBrowser->document();
    for (int i = 1; i <= 5000; ++i)
        appendText(page, QByteArray("line ") + QByteArray::number(i));
    QVERIFY(waitFor([&] { return doc->blockCount() == 5000; }));
    QCOMPARE(doc->firstBlock().text(), QStringLiteral("line 1"));
    // Each further paragraph drops the oldest one.
    appendText(page, "line 5001");
    QVERIFY(waitFor([&] { return doc->lastBlock().text() == QLatin1String("line 5001"); }));
    QCOMPARE(doc->blockCount(), 5000);
    QCOMPARE(doc->firstBlock().text(), QStringLiteral("line 2"));
    QCOMPARE(page.droppedLines(), quint64(0));
    // A burst larger than the view: what could not be shown is one line
    // that says how many lines went, where they went.
    for (int i = 1; i <= 12000; ++i)
        appendText(page, QByteArray("burst ") + QByteArray::number(i));
    QVERIFY(waitFor([&] { return doc->lastBlock().text() == QLatin1String("burst 12000"); }));
    QCOMPARE(doc->blockCount(), 5000);
    QCOMPARE(doc->firstBlock().text(), QStringLiteral("[lines skipped: 7001]"));
    QCOMPARE(doc->findBlockByNumber(1).text(), QStringLiteral("burst 7002"));
    QCOMPARE(page.droppedLines(), quint64(7001));
    // Rich text with many line breaks is one paragraph: nothing is skipped.
    QByteArray rich("<b>rich</b>");
    rich.append(QByteArray(3000, '\n'));
    for (int i = 1; i <= 4000; ++i)
        appendText(page, "after");
    appendText(page, rich);
    QVERIFY(waitFor([&] { return doc->lastBlock().text().startsWith(QLatin1String("rich")); }));
    QCOMPARE(page.droppedLines(), quint64(7001));
    // Rich text that cannot be counted in time is counted by a bound: more
    // may go, but never unmarked.
    page.setAppendBudget(0);
    page.clearLog();
    const quint64 goneBefore = page.droppedParagraphs();
    for (int i = 1; i <= 3000; ++i)
        appendText(page, "<b>r" + QByteArray::number(i) + "</b>");
    page.flushLogText();
    const quint64 gone = page.droppedParagraphs() - goneBefore;
    QVERIFY(gone > 0);
    QVERIFY(doc->firstBlock().text().startsWith(QLatin1String("[lines skipped: ")));
    QCOMPARE(doc->findBlockByNumber(1).text(), QStringLiteral("r%1").arg(gone + 1));
}

void TestDisplayLogPage::burstAppendedInSteps()
{
    DisplayLogPage page;
    page.setAppendBudget(1);
    QTextDocument* doc = page.form()->textBrowser->document();
    for (int i = 1; i <= 3000; ++i)
        appendText(page, QByteArray("step ") + QByteArray::number(i));
    QCOMPARE(page.appendedParagraphs(), quint64(0)); // nothing before the event loop runs
    // One pass of the event loop at a time: the first step stays within its
    // budget and leaves the rest for later passes.
    for (int pass = 0; pass < 1000 && page.appendedParagraphs() == 0; ++pass)
        QCoreApplication::processEvents();
    QVERIFY(page.appendedParagraphs() > 0);
    QVERIFY(page.appendedParagraphs() < 3000);
    QVERIFY(waitFor([&] { return page.appendedParagraphs() == 3000; }));
    QCOMPARE(doc->blockCount(), 3000);
    for (int i : {0, 1, 1499, 2999})
        QCOMPARE(doc->findBlockByNumber(i).text(), QStringLiteral("step %1").arg(i + 1));
    QCOMPARE(page.droppedParagraphs(), quint64(0));
    // Clear also drops what still waits.
    for (int i = 1; i <= 100; ++i)
        appendText(page, "late");
    page.clearLog();
    QCoreApplication::processEvents();
    QVERIFY(doc->isEmpty());
    QCOMPARE(page.appendedParagraphs(), quint64(3000));
}

void TestDisplayLogPage::viewLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QByteArray("plain a < b") << "plain a < b";
    QTest::newRow("rich") << QByteArray("<b>bold</b> text") << "bold text";
    QTest::newRow("up to a zero byte") << QByteArray("ab\0cd", 5) << "ab";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("two lines") << QByteArray("two\nlines") << "two\nlines";
    QTest::newRow("CR LF, lone CR, paragraph separator")
        << QByteArray("a\r\nb\rc\xe2\x80\xa9" "d\n") << "a\nb\nc\nd\n";
    QTest::newRow("rich text with line breaks")
        << QByteArray("<i>x</i>\n\n\n\ny") << "x y";
    QTest::newRow("rich paragraphs") << QByteArray("<p>a</p><p>b</p>\n<p>c</p>") << "a\nb\nc";
    QTest::newRow("rich table")
        << QByteArray("<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>")
        << "\n1\n2\n3\n\n";
    QTest::newRow("entity on the first line") << QByteArray("a &lt; b\nc") << "a < b c";
    QTest::newRow("rich, kept line breaks") << QByteArray("<pre>a\nb\n\nc</pre>") << "a\nb\n\nc";
    QTest::newRow("rich, list and rule")
        << QByteArray("<ul><li>a</li><li>b</li></ul><hr>&#8233;x") << "a\nb\n\n\nx";
}

void TestDisplayLogPage::viewLines()
{
    // The page counts the blocks the view really makes of a payload.
    QFETCH(QByteArray, text);
    QFETCH(QString, shown);
    DisplayLogPage page;
    QTextDocument* doc = page.form()->textBrowser->document();
    appendText(page, text);
    page.flushLogText();
    QCOMPARE(doc->toPlainText(), shown);
    const QByteArray shownBytes = text.left(qstrnlen(text.constData(), text.size()));
    QCOMPARE(DisplayLogPage::viewLines(shownBytes), doc->blockCount());
    QVERIFY(DisplayLogPage::viewLinesAtMost(shownBytes) >= doc->blockCount());
    // Other codes are not the page's.
    respond(page, 0x000B, "x");
    respond(page, 0x0013, "x");
    QCoreApplication::processEvents();
    QCOMPARE(page.appendedParagraphs(), quint64(1));
    QVERIFY(!page.isLogOpen());
}

void TestDisplayLogPage::retranslation()
{
    DisplayLogPage page;
    QVERIFY(page.form()->textBrowser->isReadOnly());
    QVERIFY(!page.isLogOpen());
    respond(page, DisplayLogPage::kCmdOpen, QByteArray("\x01"));
    QCOMPARE(page.form()->btnOpen->text(), QStringLiteral("Close"));
    MarkingTranslator translator("DisplayLogPage");
    QCoreApplication::installTranslator(&translator);
    QCoreApplication::processEvents();
    QCOMPARE(page.form()->btnOpen->text(), QStringLiteral("<Open>"));
    QCOMPARE(page.form()->Refresh->text(), QStringLiteral("<Refresh log file>"));
    QCOMPARE(page.form()->btnClear->text(), QStringLiteral("<Clear>"));
    QCOMPARE(page.form()->btnSave->text(), QStringLiteral("<Save to file...>"));
    QVERIFY(page.isLogOpen()); // the flag survives a language change
    QCoreApplication::removeTranslator(&translator);
    QCoreApplication::processEvents();
    QCOMPARE(page.form()->btnOpen->text(), QStringLiteral("Open"));
}

QTEST_MAIN(TestDisplayLogPage)
#include "tst_displaylogpage.moc"
