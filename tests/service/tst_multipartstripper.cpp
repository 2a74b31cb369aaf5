#include "tools/service/multipartstripper.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>

class TestMultipartStripper : public QObject
{
    Q_OBJECT

private slots:
    void strip_data();
    void strip();
    void sizesThatDoNotFit_data();
    void sizesThatDoNotFit();
    void parseSize_data();
    void parseSize();
};

using Pieces = QVector<int>;

void TestMultipartStripper::strip_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("payload");
    QTest::addColumn<int>("after");
    QTest::addColumn<Pieces>("pieces"); // sizes; the last piece takes what is left

    QTest::newRow("whole body at once") << 144 << 1000 << 46 << Pieces();
    QTest::newRow("byte by byte") << 5 << 7 << 3 << Pieces(15, 1);
    QTest::newRow("cut inside the preamble") << 144 << 300 << 46 << (Pieces() << 100 << 10);
    QTest::newRow("cut at both edges of the payload") << 144 << 300 << 46 << (Pieces() << 144 << 300);
    QTest::newRow("one piece spans everything but the last byte") << 144 << 300 << 46 << (Pieces() << 489);
    QTest::newRow("cut inside the closing") << 144 << 300 << 46 << (Pieces() << 450 << 20);
    QTest::newRow("no wrapping") << 0 << 300 << 0 << (Pieces() << 1 << 150);
    QTest::newRow("wrapping only") << 144 << 0 << 46 << (Pieces() << 100 << 50);
    QTest::newRow("streamed upload of millions of bytes") << 146 << 5000000 << 46 << Pieces(80, 65536);
}

void TestMultipartStripper::strip()
{
    QFETCH(int, before);
    QFETCH(int, payload);
    QFETCH(int, after);
    QFETCH(Pieces, pieces);

    QByteArray expected(payload, Qt::Uninitialized);
    for (int i = 0; i < payload; ++i)
        expected[i] = char('a' + i % 26);
    const QByteArray body = QByteArray(before, '<') + expected + QByteArray(after, '>');

    MultipartStripper stripper;
    QString error;
    QVERIFY(stripper.start(body.size(), before, after, &error));
    QByteArray out;
    int offset = 0;
    for (const int size : qAsConst(pieces)) {
        if (offset >= body.size())
            break;
        out += stripper.take(body.mid(offset, size));
        offset += qMin(size, body.size() - offset);
        QVERIFY(!stripper.isComplete() || offset == body.size());
    }
    out += stripper.take(body.mid(offset));
    QVERIFY(stripper.isComplete());
    QCOMPARE(stripper.received(), qint64(body.size()));
    QCOMPARE(out.size(), expected.size());
    QVERIFY(out == expected);
    // Bytes past the announced length are never payload.
    QVERIFY(stripper.take("surplus").isEmpty());
    QCOMPARE(stripper.received(), qint64(body.size()));
}

void TestMultipartStripper::sizesThatDoNotFit_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<qint64>("before");
    QTest::addColumn<qint64>("after");
    QTest::newRow("preamble longer than the body") << qint64(100) << qint64(144) << qint64(0);
    QTest::newRow("wrapping longer than the body") << qint64(189) << qint64(144) << qint64(46);
    QTest::newRow("closing longer than the body") << qint64(10) << qint64(0) << qint64(46);
    QTest::newRow("sizes that overflow when added") << qint64(100) << qint64(50) << qint64(9223372036854775800LL);
    QTest::newRow("negative") << qint64(100) << qint64(-1) << qint64(0);
}

void TestMultipartStripper::sizesThatDoNotFit()
{
    QFETCH(qint64, length);
    QFETCH(qint64, before);
    QFETCH(qint64, after);
    MultipartStripper stripper;
    QString error;
    QVERIFY(!stripper.start(length, before, after, &error));
    QVERIFY(error.contains(QLatin1String("does not fit")));
    QVERIFY(stripper.take("abc").isEmpty());
}

void TestMultipartStripper::parseSize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("present");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("size");
    QTest::newRow("preamble size") << "144" << true << true << qint64(144);
    QTest::newRow("zero") << "0" << true << true << qint64(0);
    QTest::newRow("absent means no wrapping") << "" << false << true << qint64(0);
    QTest::newRow("empty") << "" << true << false << qint64(0);
    QTest::newRow("negative") << "-1" << true << false << qint64(0);
    QTest::newRow("exponent") << "1e3" << true << false << qint64(0);
    QTest::newRow("blank before") << " 46" << true << false << qint64(0);
    QTest::newRow("too many digits") << "1234567890123" << true << false << qint64(0);
}

void TestMultipartStripper::parseSize()
{
    QFETCH(QString, text);
    QFETCH(bool, present);
    qint64 size = -1;
    QTEST(MultipartStripper::parseSize(text, present, &size), "ok");
    QTEST(size, "size");
}

NIMBORA_TEST_MAIN(TestMultipartStripper, QCoreApplication)
#include "tst_multipartstripper.moc"
