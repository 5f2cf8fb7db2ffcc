// Fuzz target for the device's list of log files. Every byte of the input is
// a list payload: the parser must never read past it, must account for every
// byte it takes, and a list it reads whole must encode back to names that
// read the same.
#include "pages/logfilelist.h"

#include <QByteArray>
#include <cstdlib>
#include <cstring>
#include <vector>

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    auto add = [&](const QByteArray& bytes) { seeds.emplace_back(bytes.begin(), bytes.end()); };
    add(QByteArray::fromHex("0361626300027879"));
    add(QByteArray::fromHex("00"));
    add(QByteArray::fromHex("0561"));
    add(LogFileList::encode({"system.log", "kernel.log", "app.log"}));
    add(QByteArray("\xff") + QByteArray(255, 'n'));
    add(QByteArray::fromHex("0361006202c3a9"));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 16)
        return 0;
    // An exactly sized heap copy, so that a read past the end is caught.
    std::vector<std::uint8_t> copy(data, data + size);
    const int n = static_cast<int>(size);
    const LogFileList::Parsed parsed = LogFileList::parse(copy.data(), n);

    // Walk the entries independently: count, longest length, truncation.
    int pos = 0, entries = 0, longest = 0;
    bool truncated = false;
    while (pos < n) {
        const int len = copy[pos++];
        if (len > n - pos) {
            truncated = true;
            break;
        }
        ++entries;
        longest = std::max(longest, len);
        pos += len;
    }
    if (parsed.names.size() != entries || parsed.longest != longest ||
        parsed.truncated != truncated)
        std::abort();
    if (parsed.longest < 0 || parsed.longest > 255)
        std::abort();
    if (LogFileList::comboWidth(12, parsed.longest) < 0)
        std::abort();
    // The names read survive a round trip through the encoder. A name with
    // bad UTF-8 reads with replacement characters and may then need more
    // than 255 bytes: the encoder cuts it at a character boundary.
    const QStringList again = LogFileList::parse(LogFileList::encode(parsed.names)).names;
    if (again.size() != parsed.names.size())
        std::abort();
    for (int i = 0; i < again.size(); ++i) {
        const QString& name = parsed.names.at(i);
        const bool fits = name.toUtf8().size() <= 255;
        if (fits ? again.at(i) != name : !name.startsWith(again.at(i)))
            std::abort();
        if (again.at(i).toUtf8().size() > 255)
            std::abort();
    }
    return 0;
}
