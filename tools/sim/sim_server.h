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

// Why serve() returned.
enum class ServeEnd {
    Stopped,    // stopFd became readable
    HungUp,     // the line hung up or failed (a device unplugged)
    Unplugged,  // the --hang-up-after fault: the caller closes the line
};

// Waits ms milliseconds (-1: until stopped) unless stopFd becomes readable first
// (then false).
bool pauseUnlessStopped(int stopFd, int ms);

class SimServer {
public:
    SimServer(DeviceModel& model, std::vector<Fault> faults, int traceFd)
        : model_(model), faults_(std::move(faults)), traceFd_(traceFd) {}

    // After this many requests were answered, the next one makes serve() return
    // Unplugged without an answer (-1: never).
    void setHangUpAfter(int requests) { hangUpAfter_ = requests; }

    ServeEnd serve(int fd, int stopFd);

    // Answers one received burst: the requests in it, one after the other.
    void handleBurst(int fd, int stopFd, const std::string& burst);

private:
    void send(int fd, int stopFd, const std::string& bytes);

    DeviceModel& model_;
    std::vector<Fault> faults_;
    int traceFd_;
    int hangUpAfter_ = -1;
    int answered_ = 0;
    bool unplugged_ = false;
};

// An existing serial device, raw, 9600 8N1, with its queues flushed.
bool openSerialDevice(const std::string& path, int* fd, std::string* error);

}  // namespace ostrakan::sim
