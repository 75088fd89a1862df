#include "core/busyscope.h"

#include "core/userinterface.h"

namespace {

int Depth = 0;

} // namespace

BusyScope::BusyScope(UserInterface& ui) : Ui(ui) {
    if (Depth++ == 0) {
        Ui.SetBusy(true);
        Ui.SetActionsEnabled(false);
    }
}

BusyScope::~BusyScope() {
    if (--Depth == 0) {
        Ui.SetBusy(false);
        Ui.SetActionsEnabled(true);
    }
}
