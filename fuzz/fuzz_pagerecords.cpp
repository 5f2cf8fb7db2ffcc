// Fuzz target for what the device pages read from a device: the
// fixed-parameter JSON and the 12-byte port record. A parsed parameter set
// must come out sorted, and writing its complete members back and parsing
// that again must give the same members; a port record read and written
// again must keep every port and flag.
#include "pages/fixedparamjson.h"
#include "pages/portrecord.h"

#include <QByteArray>
#include <cstdlib>
#include <vector>

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    auto add = [&](const QByteArray& bytes) { seeds.emplace_back(bytes.begin(), bytes.end()); };
    add(R"({"devserial":"FG231100001","ethaddr":"00:1E:C0:00:00:01","name":"FM-GW200"})");
    add(R"({"a":1,"b":"x","c":[1,{"d":null}],"e":{"f":"g"}})");
    add(R"({"k":"first","k":"second","":"empty key","v":""})");
    add("{\"\\u00e4\\ud83d\\ude00\":\"\xe2\x82\xac\\n\"}");
    add(QByteArray("{\"k\":\"v\"}", 10));
    add(R"({"lone":"\ud800x","\udc00":"y"})");
    add(R"(["name"])");
    // Raw zero characters in keys: the object's own order is not by key.
    add(QByteArray("{\"") + QByteArray(28, '\0') + "k\":\"2\",\"" + QByteArray(34, '\0') +
        "\":\"e\"}");
    add(QByteArray::fromHex("000016010017010050 0501bb"));
    add(QByteArray::fromHex("ff0000 80ffff 000001 01fffe"));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return 0;
    const int n = static_cast<int>(size);

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
        if (built.incomplete || built.object.size() != complete.size())
            std::abort();
        FixedParamJson::Params back;
        if (!FixedParamJson::parse(FixedParamJson::serialise(built.object), back) ||
            back != complete)
            std::abort();
    }

    PortRecord::Entries entries;
    if (PortRecord::decode(data, n, entries) != (n == PortRecord::kSize))
        std::abort();
    if (n == PortRecord::kSize) {
        const QByteArray again = PortRecord::encode(entries);
        for (int k = 0; k < PortRecord::kEntries; ++k) {
            const int at = k * PortRecord::kEntrySize;
            if (again.at(at) != (data[at] ? 1 : 0) ||
                static_cast<std::uint8_t>(again.at(at + 1)) != data[at + 1] ||
                static_cast<std::uint8_t>(again.at(at + 2)) != data[at + 2])
                std::abort();
        }
    }
    return 0;
}
