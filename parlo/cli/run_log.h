// The view of `parlo-cli autosync --log`: one line per synchronisation run,
// with what it sent and received and its errors, for a service's journal.
// Status texts, the countdown and the progress are left out.
#pragma once

#include <atomic>
#include <iosfwd>
#include <string>

#include "parlo/app/view.h"

namespace cli {

class RunLogView : public parlo::IParloView {
  public:
    explicit RunLogView(std::ostream& out) : out_(out) {}

    // Called from the synchronisation's thread.
    void MessageAdded(parlo::CSmsMessage* rec) override;
    void MessageChanged(parlo::CSmsMessage* rec) override;
    // Batches are other programs' changes taken in, not this program's runs.
    void MessagesAdded(const std::vector<parlo::CSmsMessage*>&) override {}
    void MessagesChanged(const std::vector<parlo::CSmsMessage*>&) override {}

    // Writes the line of the run that ended (`errors`: the error list, one
    // error a line) and starts counting the next one.
    void EndRun(int run, const std::u16string& errors);

  private:
    std::ostream& out_;
    std::atomic<int> sent_{0};
    std::atomic<int> received_{0};
};

// "run 3: sent 1, received 2" plus "; errors: A / B" when there were any.
std::string RunLine(int run, int sent, int received, const std::u16string& errors);

}  // namespace cli
