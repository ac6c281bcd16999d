// The controller panel: 93 channel check boxes, the channel Read/Write buttons and
// the five parameter fields with their Read/Write buttons.
#pragma once

#include "app/window.h"
#include "fields/text_field.h"

namespace ostrakan {

enum ParameterIndex : int { kPeriodField, kAddressField, kPhone1Field, kPhone2Field, kSmsPhoneField };
constexpr int kParameterCount = 5;

// Check-box ids of channel n (1..31).
constexpr int channelAId(int n) { return 3046 + n; }
constexpr int channelTId(int n) { return 3077 + n; }
constexpr int channelBxId(int n) { return 3108 + n; }

class ControllerPanel {
public:
    // Creates the controls in their fixed order: check boxes first, so that a
    // lookup of id 3139 finds channel 31's BX box, not parameter field 0.
    void create(Window& parent);

    TextField parameterFields[kParameterCount];
};

}  // namespace ostrakan
