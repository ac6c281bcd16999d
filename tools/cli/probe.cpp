#include "tools/cli/probe.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "controller/frames.h"
#include "resources/resource.h"
#include "tools/cli/cli.h"
#include "tools/cli/session.h"

namespace ostrakan::cli {

namespace {

// One port's probe. The session is made before its thread starts; `stop` is the
// session's stop request, raised by the main thread at the time limit.
struct Prober {
    ProbeTarget target;
    ProbeResult result;
    std::atomic<int>& stop;
    Session session{stop};
    std::thread worker;
    bool finished = false;  // under the mutex

    explicit Prober(std::atomic<int>& s) : stop(s) {}

    // The window's Read of the polling period, through the same session code
    // every command uses.
    void work() {
        session.core.startUp();
        std::unique_ptr<BuiltInSimulator> none;
        if (openSession(session, target.device, &none, &result.error) != kExitDone) return;
        result.probed = true;
        const Waiting w = runProcedure(session, IDC_PARAMETER_READ_BASE, kReadPeriod);
        const std::string text = textOf(session, session.core.controllerPanel.parameterFields[0]);
        if (!w.lost && !w.timedOut && stop.load() == 0 && text.size() == 3) {
            result.answered = true;
            result.period = text;
        }
        session.core.closePort();
    }
};

}  // namespace

std::vector<ProbeResult> probePorts(const std::vector<ProbeTarget>& targets, const std::atomic<int>& interrupted,
                                    std::chrono::milliseconds limit) {
    std::atomic<int> stop{0};
    std::vector<std::unique_ptr<Prober>> probers;
    for (const ProbeTarget& t : targets) {
        probers.push_back(std::make_unique<Prober>(stop));
        probers.back()->target = t;
        if (t.inUse) probers.back()->result.error = "in use" + (t.holders.empty() ? "" : " by " + t.holders);
    }
    std::mutex mutex;
    std::condition_variable done;
    for (auto& p : probers) {
        if (p->target.inUse) continue;  // never touched
        p->worker = std::thread([&mutex, &done, prober = p.get()] {
            prober->work();
            {
                const std::lock_guard<std::mutex> lock(mutex);
                prober->finished = true;
            }
            done.notify_all();
        });
    }
    const auto allFinished = [&probers] {
        for (const auto& p : probers)
            if (p->worker.joinable() && !p->finished) return false;
        return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + limit;
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!allFinished() && interrupted.load() == 0 && std::chrono::steady_clock::now() < deadline)
            done.wait_for(lock, std::chrono::milliseconds(20));
    }
    stop.store(1);  // a port still silent has no unit behind it
    std::vector<ProbeResult> results;
    for (auto& p : probers) {
        if (p->worker.joinable()) p->worker.join();
        results.push_back(p->result);
    }
    return results;
}

}  // namespace ostrakan::cli
