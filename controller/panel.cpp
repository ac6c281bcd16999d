#include "controller/panel.h"

#include "controller/frames.h"
#include "resources/resource.h"

namespace ostrakan {

void ControllerPanel::create(Window& parent) {
    for (int n = 1; n <= static_cast<int>(kChannelCount); ++n) {
        const bool left = n <= 16;
        const int y = left ? 200 + 30 * (n - 1) : 200 + 30 * (n - 17);
        const int x = left ? 100 : 250;
        parent.createControl(ControlKind::CheckBox, x, y, 15, 15, channelAId(n), "");
        parent.createControl(ControlKind::CheckBox, x + 40, y, 15, 15, channelTId(n), "");
        parent.createControl(ControlKind::CheckBox, x + 80, y, 15, 15, channelBxId(n), "");
    }
    parent.createControl(ControlKind::PushButton, 110, 150, 100, 20, IDC_CHANNELS_READ, "Read");
    parent.createControl(ControlKind::PushButton, 220, 150, 100, 20, IDC_CHANNELS_WRITE, "Write");
    for (int k = 0; k < kParameterCount; ++k) {
        const int y = 120 + 70 * k;
        TextField& field = parameterFields[k];
        field.createMultilineEdit(450, y, 200, 22, parent, IDC_PARAMETER_EDIT_BASE + k);
        field.clearSelected();
        field.blankControl();
        field.selectText();
        parent.setEditFont(field.control(), EditFont::Thin);
        parent.createControl(ControlKind::PushButton, 670, y, 100, 20,
                             IDC_PARAMETER_READ_BASE + k, "Read");
        parent.createControl(ControlKind::PushButton, 780, y, 100, 20,
                             IDC_PARAMETER_WRITE_BASE + k, "Write");
    }
}

}  // namespace ostrakan
