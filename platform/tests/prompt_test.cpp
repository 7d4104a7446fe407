#include "platform/prompt.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace platform;

TEST(ConsolePrompt, FixedAnswersAndInteractiveInput) {
    std::ostringstream out;
    std::istringstream none;
    ConsolePrompt yes(out, none, ConsolePrompt::Mode::AlwaysYes);
    EXPECT_EQ(yes.MessageBox(u"Purge?", Buttons::YesNo, Icon::Question, u""), Answer::Yes);
    EXPECT_EQ(yes.MessageBox(u"Go?", Buttons::OkCancel, Icon::Question, u""), Answer::Ok);
    ConsolePrompt no(out, none, ConsolePrompt::Mode::AlwaysNo);
    EXPECT_EQ(no.MessageBox(u"Purge?", Buttons::YesNo, Icon::Question, u""), Answer::No);
    EXPECT_EQ(no.MessageBox(u"Note", Buttons::Ok, Icon::None, u""), Answer::Ok);

    std::istringstream in("y\nnope\n");
    ConsolePrompt ask(out, in);
    EXPECT_EQ(ask.MessageBox(u"A?", Buttons::YesNo, Icon::Question, u""), Answer::Yes);
    EXPECT_EQ(ask.MessageBox(u"B?", Buttons::OkCancel, Icon::Question, u""), Answer::Cancel);
    EXPECT_EQ(ask.MessageBox(u"C?", Buttons::YesNo, Icon::Question, u""), Answer::No)
        << "end of input is the safe answer";
    EXPECT_NE(out.str().find("Purge? [y/n] y"), std::string::npos);
}

TEST(ScriptedPrompt, RecordsAndMapsAnswersOntoTheButtons) {
    ScriptedPrompt p;
    p.Push(Answer::No);
    p.Push(Answer::Yes);
    EXPECT_EQ(p.MessageBox(u"one", Buttons::OkCancel, Icon::Question, u""), Answer::Cancel);
    EXPECT_EQ(p.MessageBox(u"two", Buttons::OkCancel, Icon::Question, u""), Answer::Ok);
    EXPECT_EQ(p.MessageBox(u"three", Buttons::YesNo, Icon::Question, u""), Answer::Yes);
    p.SetDefault(Answer::No);
    EXPECT_EQ(p.MessageBox(u"four", Buttons::YesNo, Icon::Question, u""), Answer::No);
    EXPECT_EQ(p.texts(), (std::vector<std::u16string>{u"one", u"two", u"three", u"four"}));
    EXPECT_EQ(p.shown()[0].buttons, Buttons::OkCancel);
}
