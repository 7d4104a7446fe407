// Builds the shipped device database: reads the readable source text,
// checks that it parses, scrambles it and writes "vok.dat".
//   vokdat SOURCE OUTPUT
#include <iostream>
#include <string>

#include "parlo/store/device_db.h"
#include "platform/binio.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: vokdat SOURCE OUTPUT\n";
        return 2;
    }
    std::string source;
    if (!platform::ReadFileBytes(argv[1], &source)) {
        std::cerr << "vokdat: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::string text = parlo::SourceToDeviceDbText(source);
    std::vector<parlo::PhoneModelRecord> phones;
    std::vector<parlo::OperatorRecord> operators;
    parlo::DeviceDbResult r = parlo::ParseDeviceDb(text, &phones, &operators);
    if (!r.ok) {
        std::cerr << "vokdat: " << argv[1] << ": " << platform::ToUtf8(r.CheckMessage()) << "\n";
        return 1;
    }
    parlo::ScrambleDeviceDb(&text);
    if (!platform::WriteFileAtomic(argv[2], text)) {
        std::cerr << "vokdat: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
