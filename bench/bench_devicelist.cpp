// Reading a device list of 20,000 devices: a workbook as a spreadsheet
// program writes it (addresses and names as shared strings, a number
// column) against the same addresses as a text list. Reports the time per
// read and the peak memory a read adds to the process (measured in a forked
// child against a child that reads nothing).
//
// Run: bench_devicelist [rows] [repeats]   (default: 20000, 10)
#include "../tests/xlsxbuild.h"
#include "programming/devicelist.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <utility>
#include <cstdio>
#include <functional>

namespace {

// Peak resident size (KiB) of a forked child that runs `work`.
long childPeakKiB(const std::function<void()>& work)
{
    const pid_t pid = fork();
    if (pid == 0) {
        work();
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return -1;
    return usage.ru_maxrss;
}

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Wall and CPU milliseconds per read (CPU time is steadier on a busy machine).
std::pair<double, double> msPerRead(int repeats, const std::function<int()>& read, int* count)
{
    QElapsedTimer timer;
    timer.start();
    const double cpu = cpuSeconds();
    for (int i = 0; i < repeats; ++i)
        *count = read();
    return {double(timer.nsecsElapsed()) / 1e6 / repeats, (cpuSeconds() - cpu) * 1e3 / repeats};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, atoi(argv[1])) : 20000;
    const int repeats = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("devices.xlsx"));
    const QString text = dir.filePath(QStringLiteral("devices.txt"));

    QString sheet = "<row r=\"1\">" + Xlsx::cell(QStringLiteral("A1"), QStringLiteral("s"), QStringLiteral("0")) + "</row>";
    QString shared = QStringLiteral("<si><t>IP</t></si>");
    QByteArray list = "IP\n";
    for (int i = 0; i < rows; ++i) {
        const QString ip = QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
        const QString r = QString::number(i + 2);
        sheet += QStringLiteral("<row r=\"%1\">").arg(r) +
                 Xlsx::cell("A" + r, QStringLiteral("s"), QString::number(2 * i + 1)) +
                 Xlsx::cell("B" + r, QStringLiteral("s"), QString::number(2 * i + 2)) +
                 Xlsx::cell("C" + r, QString(), QString::number(i * 7)) + QStringLiteral("</row>");
        shared += QStringLiteral("<si><t>%1</t></si><si><t>cabinet %2, device %3</t></si>").arg(ip).arg(i / 40).arg(i);
        list += ip.toLatin1() + ",\r\n";
    }
    if (!Xlsx::writeZip(book, Xlsx::book({sheet}, shared))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(book));
        return 1;
    }
    QFile out(text);
    if (!out.open(QIODevice::WriteOnly) || out.write(list) != list.size())
        return 1;
    out.close();

    int bookCells = 0, textLines = 0;
    const auto bookMs = msPerRead(repeats, [&] { return DeviceList::readWorkbook(book).cells.size(); }, &bookCells);
    const auto textMs = msPerRead(repeats, [&] {
        QFile file(text);
        file.open(QIODevice::ReadOnly);
        return DeviceList::parseText(file.readAll()).size();
    }, &textLines);
    const long base = childPeakKiB([] {});
    const long bookPeak = childPeakKiB([&] { DeviceList::readWorkbook(book); });
    const long textPeak = childPeakKiB([&] {
        QFile file(text);
        file.open(QIODevice::ReadOnly);
        DeviceList::parseText(file.readAll());
    });

    std::printf("%d rows, %d repeats\n", rows, repeats);
    std::printf("%-10s %10s %8s %10s %10s %12s\n", "list", "file KiB", "values", "wall ms",
                "CPU ms", "peak +KiB");
    std::printf("%-10s %10lld %8d %10.2f %10.2f %12ld\n", "workbook", QFile(book).size() / 1024,
                bookCells, bookMs.first, bookMs.second, bookPeak - base);
    std::printf("%-10s %10lld %8d %10.2f %10.2f %12ld\n", "text", QFile(text).size() / 1024,
                textLines, textMs.first, textMs.second, textPeak - base);
    return 0;
}
