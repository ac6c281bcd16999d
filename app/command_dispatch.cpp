// The command dispatch: each command id becomes one short action. Buttons only
// raise request flags; the procedures act on the following ticks.
#include "app/core.h"
#include "resources/resource.h"

namespace ostrakan {

bool Core::onCommand(int id, int notification) {
    const bool click = notification == 0;
    switch (id) {
    case IDM_ABOUT: window.showAbout(); return true;
    case IDM_EXIT: window.destroy(); return true;
    case IDM_OPEN_PORT: openPort(); return true;
    case IDM_CLOSE_PORT: closePort(); return true;
    case IDC_MODEM_READ:
        if (click) requests.raise(kModemQuery);
        return true;
    case IDC_MODEM_WRITE:
        if (click) requests.raise(kModemSetup);
        return true;
    case IDC_WITHOUT_INTERNET:
        if (click) modemPanel.onCheckBoxClick(window);
        return true;
    case IDC_CHANNELS_READ: requests.raise(kReadChannels); return true;
    case IDC_CHANNELS_WRITE: requests.raise(kWriteChannels); return true;
    default: break;
    }
    if (id >= IDC_CHANNEL_FIRST && id <= IDC_CHANNEL_LAST) {
        // 3139 is also parameter field 0's edit, whose notifications are never 0.
        if (click) stepCheckBox(window, id);
        return true;
    }
    if (id >= IDC_PARAMETER_READ_BASE && id < IDC_PARAMETER_READ_BASE + kParameterCount) {
        requests.raise(static_cast<Request>(kReadPeriod + 2 * (id - IDC_PARAMETER_READ_BASE)));
        return true;
    }
    if (id >= IDC_PARAMETER_WRITE_BASE && id < IDC_PARAMETER_WRITE_BASE + kParameterCount) {
        requests.raise(static_cast<Request>(kWritePeriod + 2 * (id - IDC_PARAMETER_WRITE_BASE)));
        return true;
    }
    return false;
}

}  // namespace ostrakan
