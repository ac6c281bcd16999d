// Serves the device model on one serial line: collects each request (a run of
// bytes followed by 20 ms of quiet), answers it with the faults applied, and
// traces both directions.
#pragma once

#include <string>
#include <vector>

#include "serial/unix/pseudo_terminal.h"
#include "tools/sim/device_model.h"
#include "tools/sim/sim_options.h"

namespace ostrakan::sim {

// A request ends when the line has been quiet this long; the program's requests
// are one write each and at least a tick (54 ms) apart.
constexpr int kRequestQuietMs = 20;

class SimServer {
public:
    SimServer(DeviceModel& model, std::vector<Fault> faults, int traceFd)
        : model_(model), faults_(std::move(faults)), traceFd_(traceFd) {}

    // Serves `fd` until `stopFd` becomes readable (or an unrecoverable error).
    void serve(int fd, int stopFd);

    // Answers one received burst: the requests in it, one after the other.
    void handleBurst(int fd, int stopFd, const std::string& burst);

private:
    // Waits ms milliseconds unless stopFd becomes readable first (then false).
    static bool pause(int stopFd, int ms);
    void send(int fd, const std::string& bytes);

    DeviceModel& model_;
    std::vector<Fault> faults_;
    int traceFd_;
};

// An existing serial device, raw, 9600 8N1.
bool openSerialDevice(const std::string& path, int* fd, std::string* error);

}  // namespace ostrakan::sim
