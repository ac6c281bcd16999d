#include "fake_line.h"

#include <cstring>

namespace ostrakan::test {

int FakeLine::open(const char* name) {
    openedNames.emplace_back(name);
    if (openResult == kPortOpened) open_ = true;
    return openResult;
}

void FakeLine::handOff() {
    const std::uint8_t count = link_.transmitBuffer[0];
    sent.push_back({tickSource ? *tickSource : 0,
                    std::string(reinterpret_cast<const char*>(link_.transmitBuffer + 1), count)});
}

void FakeLine::receive(const std::string& burst) {
    std::size_t n = burst.size() < kReceiveBufferSize ? burst.size() : kReceiveBufferSize;
    std::memcpy(link_.receiveBuffer, burst.data(), n);
    link_.receiveLength.store(static_cast<std::uint32_t>(n));
    link_.gapTimerRunning.store(1);
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

}  // namespace ostrakan::test
