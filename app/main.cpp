// SPDX-License-Identifier: GPL-2.0-or-later
#include <QApplication>
#include <QPointer>
#include <cstdlib>

#include "app/command_line.h"
#include "app/form1.h"
#include "app/memory_refused.h"
#include "platform/messages.h"
#include "platform/signals.h"
#include "settings/settings_file.h"

namespace {

// The system's requests to end (platform/signals.h) end the run as the user would: capture
// finished, then closed. Nobody may be left to answer a message then, so none waits any more.
// They are heard from before the window is made, whose creation may switch the display and wait
// on start-up messages: a request then is kept until creation is over and ends the run there, with
// the display given back by the close, rather than halfway through the creation steps.
class EndRequests {
  public:
    void Listen() {
        platform::HandleSystemSignals([this] { Request(); });
    }

    // Creation is over: true when a request came during it, the window then being closed for it.
    bool EndedAfterCreation(TForm1& window) {
        if (requestedDuringCreation_) {
            window.close();
            return true;
        }
        created_ = &window;
        return false;
    }

  private:
    void Request() {
        platform::DismissMessages();
        if (created_) {
            created_->EndOnSignal();
        } else {
            requestedDuringCreation_ = true;
        }
    }

    QPointer<TForm1> created_;
    bool requestedDuringCreation_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = HandleCommandLine(argc, argv)) return *status;
    EndOnRefusedMemory();
    EndRequests ending;  // first, so that it outlives the application calling it
    QApplication app(argc, argv);
    // A pool whose threads were not all made is stuck for good: nothing of the run to keep yet.
    if (!StartImageThreads()) std::_Exit(EXIT_FAILURE);
    ending.Listen();
    RemoveStaleSettingsTemporaries();
    // A close requested during the creation steps only hides the window; it is shown all the same.
    TForm1 window(app.arguments());
    if (ending.EndedAfterCreation(window)) return 0;
    window.show();
    return app.exec();
}
