// The simulated phone on arbitrary input: the bytes a terminal sends (command
// lines, PDUs after the prompt), a state file, an SMS-SUBMIT, a transcript.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/phonesim/at_parser.h"
#include "tools/phonesim/modem.h"
#include "tools/phonesim/sms_pdu.h"
#include "tools/phonesim/state.h"
#include "tools/phonesim/transcript.h"

namespace {

class NullHost : public phonesim::ModemHost {
public:
    void Answer(std::string bytes, int) override { total += bytes.size(); }
    void Echo(std::string bytes) override { total += bytes.size(); }
    void DropLine() override {}
    void StateChanged() override {}
    std::time_t Now() override { return 0; }
    size_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);

    phonesim::State state = phonesim::State::Default();
    state.sim.pin_enabled = size > 0 && (data[0] & 1);
    NullHost host;
    phonesim::Modem modem(&state, &host);
    modem.Receive(input);
    modem.Receive("\x1A\rAT+CMGL=4;+CPBR=1,250\r");

    phonesim::State loaded;
    std::string error;
    if (phonesim::StateFromJson(input, &loaded, &error)) {
        phonesim::State again;
        if (!phonesim::StateFromJson(phonesim::StateToJson(loaded), &again, &error))
            __builtin_trap();
    }

    phonesim::SubmitPdu submit;
    if (phonesim::ParseSubmit(input, &submit))
        phonesim::SubmitToDeliver(submit, "+491710760000", "+4917012345", 0);
    phonesim::TpduLength(input);

    std::vector<phonesim::TranscriptLine> lines;
    phonesim::ParseTranscript(input, &lines);
    std::vector<phonesim::AtArg> args;
    phonesim::ParseArgs(input, &args);
    return 0;
}
