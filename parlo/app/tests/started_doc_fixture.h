// The fixture of the document tests that start with an empty data folder: a
// document started without ports or autosync, its prompts scripted, and a
// `View` that records what the document shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "parlo/app/parlo_doc.h"
#include "parlo/store/tests/test_util.h"
#include "platform/prompt.h"

namespace parlo::testing {

template <class View>
class StartedDocTest : public ::testing::Test {
  protected:
    TempDir dir;
    platform::ScriptedPrompt prompt;
    View view;
    std::unique_ptr<CParloDoc> doc;

    void SetUp() override {
        setenv("SKYVANE_HOME", dir.path().c_str(), 1);
        setenv("SKYVANE_ROOT", dir.path().c_str(), 1);
        doc = std::make_unique<CParloDoc>(&view, &prompt);
        StartOptions opt;
        opt.require_ports = false;
        opt.auto_sync = false;
        ASSERT_TRUE(doc->Start(nullptr, opt));
        prompt.Clear();
    }
};

}  // namespace parlo::testing
