// Fuzz target for device lists. "PK..." is a workbook; "<..." the active sheet of a workbook of stored
// entries (the XML readers see it as it is); anything else a text list. Text gives whole IPv4 addresses,
// no more than lines; a workbook a used range holding its cells, or an error; nothing crashes or hangs.
#include "../tests/xlsxbuild.h"
#include "common/addresspatterns.h"
#include "programming/devicelist.h"

#include <cstdlib>
#include <vector>

static QByteArray storedBook(const QByteArray& sheet, bool stored = true)
{
    Xlsx::Parts parts = Xlsx::book({QString()}, "<si><t>IP</t></si><si><r><t>10.0.</t></r><r><t>0.1</t></r></si>"
                                                "<si><t>x</t><rPh><t>y</t></rPh></si><si/>",
                                   "<bookViews><workbookView activeTab=\"0\"/></bookViews>");
    for (Xlsx::Part& part : parts) {
        part.stored = stored;
        if (part.name == QLatin1String("xl/worksheets/sheet1.xml"))
            part.data = sheet;
    }
    return Xlsx::zipBytes(parts, !stored);
}

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    const QByteArray sheet =
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
        "<row r=\"2\"><c r=\"B2\" t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c></row>"
        "<row><c r=\"B3\" t=\"inlineStr\"><is><t>10.0.0.2</t><rPh><t>z</t></rPh></is></c>"
        "<c r=\"D3\"><f>A1</f><v>1E+3</v></c></row>"
        "<row r=\"9\"><c r=\"B9\" t=\"str\"><v>10.0.0.3</v></c><c r=\"C9\" t=\"b\"><v>1</v></c>"
        "<c r=\"A9\" t=\"e\"><v>#N/A</v></c><c r=\"B9\" t=\"s\"><v>3</v></c></row>"
        "</sheetData></worksheet>";
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const QByteArray& b : {QByteArray(" 10.0.0.1 \n10.0.0.2,\n10.0.0.3,x\n255.255.255.255,,\n\t0.0.0.0\t\n"),
                                QByteArray("\xEF\xBB\xBFIP,\r\n192.168.1.10,\r\n192.168.1.11\r10.0.0.9\0,\n", 47),
                                QByteArray("\xFF\xFE" "1\0" "0\0.\0" "0\0.\0" "0\0.\0" "1\0", 18), sheet,
                                storedBook(sheet), storedBook(sheet, false)})
        seeds.emplace_back(b.begin(), b.end());
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 16)
        return 0;
    [[maybe_unused]] static const auto quiet = // damaged archives make QBuffer complain
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    if (bytes.startsWith("PK") || bytes.startsWith('<')) {
        QBuffer buffer;
        buffer.setData(bytes.startsWith('<') ? storedBook(bytes) : bytes);
        buffer.open(QIODevice::ReadOnly);
        const DeviceList::SheetColumn c = DeviceList::readWorkbook(&buffer);
        const bool none = !c.ok || c.usedRange.isEmpty() || c.usedRange == QLatin1String("A1");
        if ((!c.ok && c.error.isEmpty()) || (none && !c.cells.isEmpty()) ||
            (!none && (c.firstRow < 1 || c.lastRow < c.firstRow || c.lastRow > DeviceList::kMaxRows ||
                       c.firstColumn < 1 || c.firstColumn > DeviceList::kMaxColumns ||
                       c.cells.size() > c.lastRow - c.firstRow + 1 ||
                       !c.usedRange.startsWith(DeviceList::columnName(c.firstColumn) + QString::number(c.firstRow)))))
            std::abort();
        return 0;
    }
    const QStringList found = DeviceList::parseText(bytes);
    if (found.size() > bytes.count('\n') + bytes.count('\r') + 1)
        std::abort();
    for (const QString& ip : found)
        if (!isIpv4Address(ip) || ip.size() > 15)
            std::abort();
    return 0;
}
