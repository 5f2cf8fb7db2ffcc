// Fuzz target for the device's list of log files: the parser must never read
// past the payload and must account for every byte it takes, and a list it
// reads must encode back to names that read the same.
#include "pages/logfilelist.h"

#include <QByteArray>
#include <cstdlib>
#include <vector>

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const QByteArray& bytes :
         {QByteArray::fromHex("0361626300027879"), QByteArray::fromHex("0561"),
          QByteArray::fromHex("0a") + "system.log" + QByteArray::fromHex("07") + "app.log",
          QByteArray("\xff") + QByteArray(255, 'n'), QByteArray::fromHex("0361006202c3a9")})
        seeds.emplace_back(bytes.begin(), bytes.end());
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 16)
        return 0;
    // An exactly sized heap copy, so that a read past the end is caught.
    const std::vector<std::uint8_t> copy(data, data + size);
    const int n = static_cast<int>(size);
    const LogFileList::Parsed parsed = LogFileList::parse(copy.data(), n);
    int pos = 0, entries = 0, longest = 0; // walked here independently
    for (; pos < n && copy[pos] < n - pos; pos += 1 + copy[pos], ++entries)
        longest = std::max(longest, int(copy[pos]));
    if (parsed.names.size() != entries || parsed.longest != longest ||
        parsed.truncated != (pos < n) || LogFileList::comboWidth(12, parsed.longest) < 0)
        std::abort();
    // A name with bad UTF-8 reads with replacement characters and may then
    // need more than 255 bytes: the encoder cuts it at a character boundary.
    const QStringList again = LogFileList::parse(LogFileList::encode(parsed.names)).names;
    if (again.size() != parsed.names.size())
        std::abort();
    for (int i = 0; i < again.size(); ++i) {
        const QString& name = parsed.names.at(i);
        if ((name.toUtf8().size() <= 255 ? again.at(i) != name : !name.startsWith(again.at(i))) ||
            again.at(i).toUtf8().size() > 255)
            std::abort();
    }
    return 0;
}
