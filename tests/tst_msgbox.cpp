// The message-box helper with real modal runs (no interceptor).
#include "common/msgbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QtTest>

class TestMsgBox : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sureBoxAnswersSure();
    void standardButtonsMapToAnswers();
    void boxDestroyedDuringItsRun();
};

namespace {

// Clicks the button with the given text of the active modal box once it runs.
void clickWhenShown(const QString& text)
{
    QTimer::singleShot(0, [text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        for (QAbstractButton* button : box->buttons())
            if (button->text() == text)
                button->click();
    });
}

} // namespace

void TestMsgBox::sureBoxAnswersSure()
{
    QVERIFY(!MsgBox::intercepted());
    clickWhenShown(QStringLiteral("Sure"));
    QCOMPARE(MsgBox::warning(QStringLiteral("Warning"), QStringLiteral("text")),
             MsgBox::Answer::Sure);
}

void TestMsgBox::standardButtonsMapToAnswers()
{
    QMessageBox probe(QMessageBox::Warning, QString(), QString(), QMessageBox::Ok | QMessageBox::No);
    const QString okText = probe.button(QMessageBox::Ok)->text();
    const QString noText = probe.button(QMessageBox::No)->text();
    clickWhenShown(okText);
    QCOMPARE(MsgBox::standard(QMessageBox::Warning, QStringLiteral("Warning"), QStringLiteral("q"),
                              QMessageBox::Ok | QMessageBox::No, QMessageBox::No),
             MsgBox::Answer::Ok);
    clickWhenShown(noText);
    QCOMPARE(MsgBox::standard(QMessageBox::Warning, QStringLiteral("Warning"), QStringLiteral("q"),
                              QMessageBox::Ok | QMessageBox::No, QMessageBox::No),
             MsgBox::Answer::No);
}

void TestMsgBox::boxDestroyedDuringItsRun()
{
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Information"),
                                QStringLiteral("Writing data..."), QMessageBox::Ok);
    QPointer<QMessageBox> watch(box);
    QTimer::singleShot(0, [box] { delete box; });
    QCOMPARE(MsgBox::exec(*box), MsgBox::Answer::Closed);
    QVERIFY(!watch);
}

QTEST_MAIN(TestMsgBox)
#include "tst_msgbox.moc"
