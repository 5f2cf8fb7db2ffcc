// The command frame as literal bytes: encoding, reassembly of received streams
// (whole, split at every position, byte by byte) and routing by command code.
#include "comm/commandframe.h"

#include <QtTest>

// Feeds `bytes` cut at `cuts`; returns "cmd:payloadhex " per delivered frame.
static QByteArray feed(FrameReassembler& r, const QByteArray& bytes, QList<int> cuts = {})
{
    QByteArray got;
    int from = 0;
    for (int cut : cuts << bytes.size()) {
        r.feedWith(bytes.constData() + from, cut - from, [&](int cmd, const quint8* p, int n) {
            got += QByteArray::number(cmd, 16) + ':' + QByteArray(reinterpret_cast<const char*>(p), n).toHex() + ' ';
        });
        from = cut;
    }
    return got;
}

class TestCommandFrame : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void encode()
    {
        const QList<std::tuple<int, QByteArray, QByteArray>> table = {
            {0x0002, {}, "68000200026c"},       // reboot
            {0x0012, "ls", "68000400126c735d"}, // checksum wraps past 256
            {0x10013, {}, "68000200137d"},      // only the low 16 bits of cmd
            {0x0152, QByteArray::fromHex("68680002"), "68000601526868000293"}};
        for (const auto& [cmd, payload, hex] : table)
            QCOMPARE(CommandFrame::encode(cmd, payload).toHex(), hex);
        const QByteArray largest = CommandFrame::encode(0x0101, QByteArray(65533, 'x'));
        QCOMPARE(largest.left(5).toHex() + QByteArray::number(largest.size()), QByteArray("68ffff010165539"));
        QVERIFY(CommandFrame::encode(0x0101, QByteArray(65534, 'x')).isEmpty());
    }

    void reassembly_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("frames");
        QTest::addColumn<int>("bad");
        const struct { const char *name, *stream, *frames; int bad; } rows[] = {
            {"one frame", "68000f001368656c6c6f2c206465766963655a", "13:68656c6c6f2c20646576696365 ", 0},
            {"two joined", "68000c0006323032342d30332d30336268000400136f6b59", "6:323032342d30332d3033 13:6f6b ", 0},
            {"garbage first", "0001ff7a68000400136f6b59", "13:6f6b ", 0},
            {"bad checksum, then good", "68000400136f6b5a68000400136f6b59", "13:6f6b ", 1},
            {"0x68 in a payload", "6800060152686800029368000400136f6b59", "152:68680002 13:6f6b ", 0},
            {"empty payload, size 0", "68000201036e", "103: ", 0},
            // LENGTH 0 and 1 leave no room for a command: the header is
            // dropped and the stream hunted again right after it.
            {"LENGTH 0", "6800000013" "68000400136f6b59", "13:6f6b ", 1},
            {"LENGTH 1, would-be checksum", "68000169" "68000400136f6b59", "13:6f6b ", 1},
            {"truncated frame stays pending", "68000400136f", "", 0}};
        for (const auto& r : rows)
            QTest::newRow(r.name) << QByteArray::fromHex(r.stream) << QByteArray(r.frames) << r.bad;
    }
    void reassembly()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, frames);
        QFETCH(int, bad);
        FrameReassembler whole, bytewise;
        QCOMPARE(feed(whole, stream), frames);
        QCOMPARE(whole.badFrames(), quint64(bad));
        QList<int> every;
        for (int cut = 1; cut < stream.size(); every << cut++) {
            FrameReassembler r;
            QCOMPARE(feed(r, stream, {cut}), frames);
        }
        QCOMPARE(feed(bytewise, stream, every), frames);
        QCOMPARE(bytewise.pending(), whole.pending());
    }

    void largestFrameOverflowAndReset()
    {
        // 4096 bytes in all (payload 4090) is the largest frame delivered.
        FrameReassembler r;
        QCOMPARE(feed(r, CommandFrame::encode(0x0152, QByteArray(4090, 'h'))).size(), 4 + 8180 + 1);
        // One byte more is never delivered: the buffer restarts when full.
        const QByteArray tooLarge = CommandFrame::encode(0x0152, QByteArray(4091, 'a'));
        QCOMPARE(feed(r, tooLarge + QByteArray::fromHex("68000400136f6b59")), QByteArray());
        QCOMPARE(r.overflows(), quint64(1));
        QVERIFY(r.pending() > 0);
        // What the reassembly timeout does: the next frame is hunted afresh.
        r.reset();
        QCOMPARE(feed(r, QByteArray::fromHex("6f6b59" "68000400136f6b59")), QByteArray("13:6f6b "));
    }

    void routing()
    {
        using R = CommandFrame::Route;
        const QList<QPair<R, QList<int>>> table = {
            {R::Prog, {0x0001, 0x0100, 0x0101, 0x0102, 0x0103, 0x0150, 0x0151, 0x0152}},
            {R::Settings, {0x0003, 0x0006, 0x0010, 0x0011}}, {R::Log, {0x0008, 0x0009, 0x000A}},
            {R::SPTest, {0x000B, 0x000C, 0x000D}}, {R::FixedParam, {0x000E, 0x000F}}, {R::Root, {0x0013}},
            {R::InfoSetIp, {0x0004}}, {R::InfoResetIp, {0x0005}}, {R::InfoDate, {0x0007}},
            {R::Drop, {0x0000, 0x0002, 0x0012, 0x0014, 0x00FF, 0x0104, 0x014F, 0x0153, 0xFFFF}}};
        for (const auto& [route, cmds] : table)
            for (int cmd : cmds)
                QVERIFY2(CommandFrame::routeFor(cmd) == route, qPrintable(QString::number(cmd, 16)));
    }
};

QTEST_GUILESS_MAIN(TestCommandFrame)
#include "tst_commandframe.moc"
