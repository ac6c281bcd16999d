#include "app/core.h"

#include "app/reply_classifier.h"
#include "resources/resource.h"

namespace ostrakan {

Core::Core(Window& window_, Line& line_, LinkBuffers& link_)
    : window(window_),
      line(line_),
      link(link_),
      controllerProcedures{
          ControllerProcedure(kControllerProcedures[0]), ControllerProcedure(kControllerProcedures[1]),
          ControllerProcedure(kControllerProcedures[2]), ControllerProcedure(kControllerProcedures[3]),
          ControllerProcedure(kControllerProcedures[4]), ControllerProcedure(kControllerProcedures[5]),
          ControllerProcedure(kControllerProcedures[6]), ControllerProcedure(kControllerProcedures[7]),
          ControllerProcedure(kControllerProcedures[8]), ControllerProcedure(kControllerProcedures[9]),
          ControllerProcedure(kControllerProcedures[10]),
          ControllerProcedure(kControllerProcedures[11])} {
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
}

void Core::onGapTimer() {
    classifyReply(link, line, replyFlags, {ipAddressField, apnField, userField});
}

}  // namespace ostrakan
