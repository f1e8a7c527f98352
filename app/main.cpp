#include <QApplication>

#include "app/command_line.h"
#include "app/form1.h"
#include "platform/signals.h"

int main(int argc, char** argv) {
    if (const std::optional<int> status = HandleCommandLine(argc, argv)) return *status;
    QApplication app(argc, argv);
    // Creating the window runs its creation steps; a close requested during them only hides it,
    // and it is shown all the same.
    TForm1 window(app.arguments());
    // A request to end from the system ends it as the user would: capture finished, then closed.
    platform::HandleSystemSignals([&window] { window.EndOnSignal(); });
    window.show();
    return app.exec();
}
