// Fuzz target for the records the device pages read: the fixed-parameter JSON
// (read sorted, its complete members written and read back unchanged) and the
// serial line settings (written back byte for byte).
#include "pages/fixedparamjson.h"
#include "pages/serialsettings.h"

#include <QByteArray>
#include <cstdlib>
#include <vector>

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    auto add = [&](const QByteArray& bytes) { seeds.emplace_back(bytes.begin(), bytes.end()); };
    add(R"({"name":"GW","ethaddr":"00:1E:C0:00:00:01","a":1,"c":[1,{"d":null}],"k":"1","k":"2","":"e","v":""})");
    add("{\"\\u00e4\\ud83d\\ude00\":\"\xe2\x82\xac\\n\",\"\\udc00\":\"y\"}");
    // Raw zero characters in keys: the object's own order is not by key.
    add(QByteArray("{\"") + QByteArray(28, '\0') + "k\":\"2\",\"" + QByteArray(34, '\0') +
        "\":\"e\"}");
    add(QByteArray::fromHex("010c") + "/dev/ttyUSB0" + QByteArray::fromHex("0703020101"));
    add(QByteArray::fromHex("00ff") + QByteArray(255, 'p') + QByteArray::fromHex("0000000000"));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return 0;
    const int n = static_cast<int>(size);
    const QByteArray bytes(reinterpret_cast<const char*>(data), n);

    FixedParamJson::Params params;
    if (FixedParamJson::parse(data, n, params)) {
        FixedParamJson::Params complete;
        for (int i = 0; i < params.size(); ++i) {
            if (i > 0 && !(params.at(i - 1).first < params.at(i).first))
                std::abort();
            if (!params.at(i).first.isEmpty() && !params.at(i).second.isEmpty())
                complete.append(params.at(i));
        }
        const FixedParamJson::Built built = FixedParamJson::build(complete);
        FixedParamJson::Params back;
        if (built.incomplete || built.object.size() != complete.size() ||
            !FixedParamJson::parse(FixedParamJson::serialise(built.object), back) ||
            back != complete)
            std::abort();
    }

    SerialSettings line, other;
    if (SerialSettings::fromRecord(bytes, &line)) {
        const bool exact = data[0] <= 1 && line.portName.toUtf8() == bytes.mid(2, data[1]);
        if (exact && line.toRecord() != bytes) // the flag byte reads as 0 or 1
            std::abort();
        other = line;
        other.portName += QLatin1Char('x'); // then each index in turn
        for (int* field : {&other.baudIndex, &other.dataBitsIndex, &other.parityIndex,
                           &other.flowControlIndex, &other.stopBitsIndex, &other.baudIndex}) {
            if (other == line || !(line == line))
                std::abort();
            other = line;
            ++*field;
        }
    }
    return 0;
}
