// Once the program has started, the serial back-end and the host loop run on
// fixed storage: a whole controller read and a modem query allocate nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "app/core.h"
#include "app/headless_window.h"
#include "app/unix/host_loop.h"
#include "resources/resource.h"
#include "serial/unix/posix_line.h"
#include "tools/sim/sim_server.h"

namespace {

std::atomic<long> gAllocations{0};
thread_local bool tUncounted = false;  // the simulator's thread may allocate

}  // namespace

void* operator new(std::size_t size) {
    if (!tUncounted) gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace ostrakan {
namespace {

struct Program {
    HeadlessWindow window;
    LinkBuffers link;
    PosixLine line{link};
    Core core{window, line, link};
};

struct Until {
    Core* core;
    Request request;
};

bool lowered(void* context) {
    const Until& u = *static_cast<Until*>(context);
    return !u.core->requests.isSet(u.request);
}

TEST(NoAllocationTest, AReadAndAModemQueryAllocateNothing) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers bring their own allocator";
#endif
    PseudoTerminal pty;
    std::string error;
    ASSERT_TRUE(openPseudoTerminal(&pty, &error)) << error;
    int stop[2];
    ASSERT_EQ(::pipe(stop), 0);
    sim::DeviceModel model;
    std::thread device([&] {
        tUncounted = true;
        sim::SimServer(model, {}, -1).serve(pty.master, stop[0]);
    });

    static Program program;  // made at start-up, like the program's globals
    program.core.startUp();
    ASSERT_EQ(program.line.open(pty.slavePath.c_str()), kPortOpened);
    HostLoop loop(program.core, program.line);

    {
        const long probe = gAllocations.load();
        int* volatile p = new int(7);
        delete p;
        ASSERT_EQ(gAllocations.load(), probe + 1) << "the count must see this thread's allocations";
    }
    const long before = gAllocations.load();
    program.core.onCommand(IDC_PARAMETER_READ_BASE + 1, 0);
    Until read{&program.core, kReadAddress};
    loop.runUntil(lowered, &read);
    program.core.onCommand(IDC_MODEM_READ, 0);
    Until query{&program.core, kModemQuery};
    loop.runUntil(lowered, &query);
    const long after = gAllocations.load();

    EXPECT_STREQ(program.window.textOf(program.core.controllerPanel.parameterFields[1].control()), "007");
    EXPECT_STREQ(program.window.textOf(program.core.queryStatusField.control()), "Ok!");
    EXPECT_EQ(after - before, 0);

    program.line.close();
    const char one = 1;
    ASSERT_EQ(::write(stop[1], &one, 1), 1);
    device.join();
    closePseudoTerminal(&pty);
}

}  // namespace
}  // namespace ostrakan
