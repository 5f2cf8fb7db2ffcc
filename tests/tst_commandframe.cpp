#include "comm/commandframe.h"
#include <QtTest>
class TestCommandFrame : public QObject { Q_OBJECT private Q_SLOTS: void encode(); };
void TestCommandFrame::encode() { QCOMPARE(CommandFrame::encode(2).toHex(), QByteArray("68000200026c")); }
QTEST_GUILESS_MAIN(TestCommandFrame)
#include "tst_commandframe.moc"
