// The command frame encoder, the reassembler and the routing table, as data.
#include "comm/commandframe.h"

#include <QtTest>

namespace {

struct Got
{
    int cmd;
    QByteArray payload;
};

// Feeds `bytes` in the given pieces and collects what is delivered.
QList<Got> feedPieces(FrameReassembler& r, const QByteArray& bytes, const QList<int>& cuts)
{
    QList<Got> got;
    auto sink = [&](int cmd, const quint8* p, int n) {
        got.append({cmd, QByteArray(reinterpret_cast<const char*>(p), n)});
    };
    int from = 0;
    for (int cut : cuts) {
        r.feedWith(bytes.constData() + from, cut - from, sink);
        from = cut;
    }
    r.feedWith(bytes.constData() + from, bytes.size() - from, sink);
    return got;
}

QList<Got> feedAll(const QByteArray& bytes)
{
    FrameReassembler r;
    return feedPieces(r, bytes, {});
}

QByteArray frameWithLength(int length, int cmd, const QByteArray& rest)
{
    QByteArray f;
    f.append('\x68');
    f.append(static_cast<char>(length >> 8));
    f.append(static_cast<char>(length & 0xFF));
    f.append(static_cast<char>(cmd >> 8));
    f.append(static_cast<char>(cmd & 0xFF));
    f.append(rest);
    return f;
}

} // namespace

class TestCommandFrame : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void encode_data();
    void encode();
    void encodeRefusesOversizePayload();
    void splitAtEveryPosition();
    void streams_data();
    void streams();
    void largestFrameAndBufferRestart();
    void resetDropsPartialFrame();
    void routing_data();
    void routing();
};

void TestCommandFrame::encode_data()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("reboot, empty payload") << 0x0002 << QByteArray() << QByteArray("68000200026c");
    QTest::newRow("date read") << 0x0006 << QByteArray() << QByteArray("680002000670");
    QTest::newRow("console line") << 0x0012 << QByteArray("ls")
                                  << QByteArray("68000400126c735d");
    QTest::newRow("only low 16 bits of cmd") << 0x10013 << QByteArray() << QByteArray("68000200137d");
}

void TestCommandFrame::encode()
{
    QFETCH(int, cmd);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, hex);
    QCOMPARE(CommandFrame::encode(cmd, payload).toHex(), hex);
}

void TestCommandFrame::encodeRefusesOversizePayload()
{
    const QByteArray largest = CommandFrame::encode(0x0101, QByteArray(65533, 'x'));
    QCOMPARE(largest.size(), 65533 + 6);
    QCOMPARE(quint8(largest[1]), quint8(0xFF));
    QCOMPARE(quint8(largest[2]), quint8(0xFF));
    QVERIFY(CommandFrame::encode(0x0101, QByteArray(65534, 'x')).isEmpty());
}

void TestCommandFrame::splitAtEveryPosition()
{
    const QByteArray frame = CommandFrame::encode(0x0013, "hello, device");
    for (int cut = 1; cut < frame.size(); ++cut) {
        FrameReassembler r;
        const QList<Got> got = feedPieces(r, frame, {cut});
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].cmd, 0x0013);
        QCOMPARE(got[0].payload, QByteArray("hello, device"));
        QCOMPARE(r.pending(), 0);
    }
    // And one byte at a time.
    FrameReassembler r;
    QList<int> cuts;
    for (int i = 1; i < frame.size(); ++i)
        cuts << i;
    QCOMPARE(feedPieces(r, frame, cuts).size(), 1);
}

void TestCommandFrame::streams_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<int>>("cmds");
    QTest::addColumn<QList<int>>("sizes");

    const QByteArray a = CommandFrame::encode(0x0006, "2024-03-03 14:05:09");
    const QByteArray b = CommandFrame::encode(0x0013, "ok");
    QByteArray bad = CommandFrame::encode(0x0013, "bad");
    bad[bad.size() - 1] = static_cast<char>(bad.at(bad.size() - 1) + 1);

    QTest::newRow("two frames in one read") << a + b << QList<int>{6, 0x13} << QList<int>{19, 2};
    QTest::newRow("bytes before the first start byte")
        << QByteArray("\x00\x01zz", 4) + b << QList<int>{0x13} << QList<int>{2};
    QTest::newRow("bad checksum, then a good frame")
        << bad + b << QList<int>{0x13} << QList<int>{2};
    QTest::newRow("0x68 inside a payload")
        << CommandFrame::encode(0x0152, QByteArray("\x68\x68\x00\x02", 4)) + b
        << QList<int>{0x152, 0x13} << QList<int>{4, 2};
    QTest::newRow("empty payload delivered with size 0")
        << CommandFrame::encode(0x0103) << QList<int>{0x103} << QList<int>{0};
    // LENGTH 0 and 1 leave no room for a command: never delivered, and the
    // stream is hunted again right after the broken header.
    QTest::newRow("LENGTH 0") << frameWithLength(0, 0x13, QByteArray()) + b << QList<int>{0x13}
                              << QList<int>{2};
    QTest::newRow("LENGTH 1") << QByteArray::fromHex("680001") + QByteArray(2, '\0') + b
                              << QList<int>{0x13} << QList<int>{2};
    QTest::newRow("LENGTH 1 with a would-be checksum")
        << QByteArray::fromHex("68000169") + b << QList<int>{0x13} << QList<int>{2};
}

void TestCommandFrame::streams()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, cmds);
    QFETCH(QList<int>, sizes);
    const QList<Got> got = feedAll(bytes);
    QCOMPARE(got.size(), cmds.size());
    for (int i = 0; i < got.size(); ++i) {
        QCOMPARE(got[i].cmd, cmds[i]);
        QCOMPARE(got[i].payload.size(), sizes[i]);
    }
    // The same stream byte by byte gives the same frames.
    FrameReassembler r;
    QList<int> cuts;
    for (int i = 1; i < bytes.size(); ++i)
        cuts << i;
    QCOMPARE(feedPieces(r, bytes, cuts).size(), cmds.size());
}

void TestCommandFrame::largestFrameAndBufferRestart()
{
    // 4096 bytes in all (payload 4090) is the largest frame delivered.
    const QByteArray largest = CommandFrame::encode(0x0152, QByteArray(4090, '\x68'));
    QCOMPARE(largest.size(), 4096);
    QList<Got> got = feedAll(largest);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].payload.size(), 4090);

    // One byte more can never be delivered: the buffer restarts when full,
    // and a frame after it is found again.
    const QByteArray tooLarge = CommandFrame::encode(0x0152, QByteArray(4091, 'a'));
    FrameReassembler r;
    got = feedPieces(r, tooLarge + CommandFrame::encode(0x0013, "after"), {});
    QCOMPARE(r.overflows(), quint64(1));
    // The byte after the full buffer starts a frame "whatever its value": it
    // is the last payload byte 'a' here, which then swallows the next bytes as
    // a header of its own. What matters is that nothing oversize comes out
    // and that a later frame, after a pause, is received again.
    for (const Got& g : got)
        QVERIFY(g.payload.size() <= CommandFrame::kMaxReceivedPayload);
    r.reset();
    got = feedPieces(r, CommandFrame::encode(0x0013, "again"), {});
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].payload, QByteArray("again"));
}

void TestCommandFrame::resetDropsPartialFrame()
{
    const QByteArray frame = CommandFrame::encode(0x0013, "first");
    FrameReassembler r;
    QCOMPARE(feedPieces(r, frame.left(7), {}).size(), 0);
    QCOMPARE(r.pending(), 7);
    r.reset(); // what the 100 ms timer does
    const QList<Got> got = feedPieces(r, frame.mid(7) + CommandFrame::encode(0x0013, "second"), {});
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].payload, QByteArray("second"));
}

void TestCommandFrame::routing_data()
{
    using CommandFrame::Route;
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("route");
    const QList<QPair<QList<int>, Route>> table = {
        {{0x0001, 0x0100, 0x0101, 0x0102, 0x0103, 0x0150, 0x0151, 0x0152}, Route::Prog},
        {{0x0003, 0x0006, 0x0010, 0x0011}, Route::Settings},
        {{0x0008, 0x0009, 0x000A}, Route::Log},
        {{0x000B, 0x000C, 0x000D}, Route::SPTest},
        {{0x000E, 0x000F}, Route::FixedParam},
        {{0x0013}, Route::Root},
        {{0x0004}, Route::InfoSetIp},
        {{0x0005}, Route::InfoResetIp},
        {{0x0007}, Route::InfoDate},
        {{0x0000, 0x0002, 0x0012, 0x0014, 0x00FF, 0x0104, 0x014F, 0x0153, 0xFFFF}, Route::Drop},
    };
    for (const auto& entry : table)
        for (int cmd : entry.first)
            QTest::addRow("0x%04x", cmd) << cmd << int(entry.second);
}

void TestCommandFrame::routing()
{
    QFETCH(int, cmd);
    QFETCH(int, route);
    QCOMPARE(int(CommandFrame::routeFor(cmd)), route);
}

QTEST_GUILESS_MAIN(TestCommandFrame)
#include "tst_commandframe.moc"
