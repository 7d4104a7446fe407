// The SMS engine's readers of phone answers: "+CMGR" answers in both modes
// and the fields of "+CPMS" answers.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "parlo/sms/phone_session.h"
#include "parlo/sms/sms_operations.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Each byte becomes one character, as the phone link hands answers over.
    std::u16string reply(data, data + size);
    std::unique_ptr<parlo::CSmsMessage> msg;
    parlo::DecodeCmgrReply(reply, "ME", 1, parlo::CMGR_MODE_READ, &msg);
    parlo::DecodeCmgrReply(reply, "SM", 2, parlo::CMGR_MODE_CHECK, &msg);
    parlo::ExtractField(reply, u":", u",", 1, 1);
    parlo::ExtractField(reply, u",", u",", 1, 2);
    parlo::ExtractField(reply, u"\"", u"\"", 2, 1);
    std::u16string op = reply;
    parlo::NormaliseOperatorAnswer(&op);
    return 0;
}
