// Serves the device model on one serial line: collects each request (a run of
// bytes followed by 20 ms of quiet), answers it with the faults applied, and
// traces both directions.
#pragma once

#include <string>
#include <vector>

#include "serial/unix/pseudo_terminal.h"
#include "tools/sim/device_model.h"
#include "tools/sim/replay.h"
#include "tools/sim/sim_options.h"

namespace ostrakan::sim {

// A request ends when the line has been quiet this long; the program's requests
// are one write each and at least a tick (54 ms) apart.
constexpr int kRequestQuietMs = 20;

// One byte on a 9600-baud 8N1 line: ten bits.
constexpr long long kByteNanos = 10 * 1000000000LL / 9600;

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

    // Every answer goes out at the line's speed, a byte each 1.04 ms.
    void setPace(bool pace) { pace_ = pace; }

    // Answers from this recording instead of the model (see replay.h).
    void setReplay(std::vector<RecordedExchange> exchanges) {
        replay_ = std::move(exchanges);
        replaying_ = true;
    }

    ServeEnd serve(int fd, int stopFd);

    // Answers one received burst: the requests in it, one after the other.
    void handleBurst(int fd, int stopFd, const std::string& burst);

private:
    // False when stopFd became readable first.
    bool send(int fd, int stopFd, const std::string& bytes);
    void replayBurst(int fd, int stopFd, const std::string& burst);

    DeviceModel& model_;
    std::vector<Fault> faults_;
    int traceFd_;
    int hangUpAfter_ = -1;
    bool pace_ = false;
    bool replaying_ = false;
    std::vector<RecordedExchange> replay_;
    int answered_ = 0;
    bool unplugged_ = false;
};

// An existing serial device, raw, 9600 8N1, with its queues flushed.
bool openSerialDevice(const std::string& path, int* fd, std::string* error);

}  // namespace ostrakan::sim
