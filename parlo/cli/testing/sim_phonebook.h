// A simulated phone whose SIM phonebook holds entries "Phone 1" .. "Phone 10"
// (numbers 030101 .. 0301010) at indices 1..10 of 250, for the tests and
// benches that synchronise a phonebook with parlo-cli.
#pragma once

#include <string>

#include "tools/phonesim/testing/phonesim_process.h"

namespace parlo::clitest {

inline nlohmann::json SimPhonebookState() {
    nlohmann::json state = phonesim::testing::DefaultState();
    state["operator"]["name"] = "T-Mobile D";
    nlohmann::json entries = nlohmann::json::array();
    for (int i = 1; i <= 10; ++i) {
        entries.push_back({{"index", i},
                           {"number", "03010" + std::to_string(i)},
                           {"type", 129},
                           {"text", "Phone " + std::to_string(i)}});
    }
    state["phonebook"]["storages"]["SM"] = {{"first", 1},
                                            {"last", 250},
                                            {"number_length", 40},
                                            {"text_length", 14},
                                            {"entries", entries}};
    return state;
}

}  // namespace parlo::clitest
