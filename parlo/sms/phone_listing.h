// The answer to "AT+CMGL=4" in PDU mode: one "+CMGL: index,stat,[alpha],length"
// line followed by the message's PDU line for every slot that holds one.
#pragma once

#include <string>
#include <vector>

namespace parlo {

// One entry of a listing. `reply` has the shape of an "AT+CMGR" answer
// ("+CMGR: stat,,length" CR LF PDU), so that one decoder reads both.
struct ListedSlot {
    int index = 0;
    int status = 0;
    std::u16string reply;
};

// Splits a listing into its entries, in the phone's order. Blank lines
// between entries are allowed. Returns false when a line is neither a
// well-formed "+CMGL:" header nor the hexadecimal PDU line that must follow
// one; `out` then holds the entries before that line.
bool SplitListing(const std::u16string& reply, std::vector<ListedSlot>* out);

// The PDU of an answer of either shape, in upper case ("" when it has none).
std::string AnswerPdu(const std::u16string& reply);

}  // namespace parlo
