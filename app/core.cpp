#include "app/core.h"

#include <utility>

#include "app/reply_classifier.h"
#include "resources/resource.h"

namespace ostrakan {

namespace {

// One procedure per row of the table, in tick order.
template <std::size_t... I>
std::array<ControllerProcedure, sizeof...(I)> makeControllerProcedures(std::index_sequence<I...>) {
    return {ControllerProcedure(kControllerProcedures[I])...};
}

}  // namespace

Core::Core(Window& window_, Line& line_, LinkBuffers& link_)
    : window(window_),
      line(line_),
      link(link_),
      controllerProcedures(
          makeControllerProcedures(std::make_index_sequence<kControllerProcedureCount>{})) {
    modemPanel.bind({&ipAddressField, &apnField, &userField, &passwordField, &queryStatusField,
                     &setupStatusField});
}

void Core::startUp() {
    portNameField.createEdit(145, 20, 60, 20, window, IDC_PORT_NAME);
    portNameField.clearSelected();
    portNameField.blankControl();
    portNameField.selectBytes();
    window.setEditFont(portNameField.control(), EditFont::Heavy);

    statusField.createEdit(145, 40, 150, 20, window, IDC_PORT_STATUS);
    statusField.clearSelected();
    statusField.blankControl();
    statusField.selectBytes();
    window.setEditFont(statusField.control(), EditFont::Heavy);

    modemPanel.createPanel(window);
    modemPanel.loadPanel();

    controllerPanel.create(window);

    portNameField.showBytes("COM1");
}

void Core::tick() {
    modemQuery.run(*this);
    modemSetup.run(*this);
    for (ControllerProcedure& procedure : controllerProcedures) procedure.run(*this);
    ++tickCounter;
    // A waiting procedure has now taken its reply from the receive buffer.
    if (releaseAfterTick) {
        releaseAfterTick = false;
        line.releaseBurst();
    }
}

void Core::onGapTimer() {
    classifyReply(link, line, replyFlags, {ipAddressField, apnField, userField});
    releaseAfterTick = true;
}

}  // namespace ostrakan
